#include "instruments/SerialLineReader.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

QList<QByteArray> linesOf(const QList<QByteArray>& chunks)
{
    SerialLineReader reader;
    QList<QByteArray> lines;
    for (const QByteArray& chunk : chunks) {
        reader.append(chunk);
        while (const std::optional<QByteArray> line = reader.takeLine())
            lines.append(*line);
    }
    return lines;
}

TEST(SerialLineReaderTest, CutsLinesAtEveryLineEnd)
{
    const QByteArray line199(SerialLineReader::MaxLineLength, 'a');
    const QByteArray line250(250, 'b');
    struct Case
    {
        const char* what;
        QList<QByteArray> chunks;
        QList<QByteArray> lines;
    };
    const Case cases[] = {
        {"CR", {"one\rtwo\r"}, {"one", "two"}},
        {"LF", {"one\ntwo\n"}, {"one", "two"}},
        {"CR LF and LF CR", {"one\r\ntwo\n\r"}, {"one", "two"}},
        {"split across reads", {"on", "e\r", "\ntw", "o\r"}, {"one", "two"}},
        {"no end yet", {"one\rtw"}, {"one"}},
        {"blank lines", {"\r\n\r\n\n"}, {}},
        {"199 bytes and an end", {line199 + "\r\nx\r"}, {line199, "x"}},
        {"199 bytes waiting for their end", {line199}, {}},
        {"250 bytes", {line250 + "\r\n"}, {line250.left(199), line250.mid(199)}},
        {"200 bytes, one at a time", QList<QByteArray>(200, "c"), {QByteArray(199, 'c')}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(linesOf(c.chunks), c.lines);
    }
}

TEST(SerialLineReaderTest, ClearDropsAPartLine)
{
    SerialLineReader reader;
    reader.append("stale par");
    reader.clear();
    reader.append("t\rfresh\r");
    EXPECT_EQ(reader.takeLine(), QByteArray("t"));
    EXPECT_EQ(reader.takeLine(), QByteArray("fresh"));
    EXPECT_EQ(reader.takeLine(), std::nullopt);
}

} // namespace
