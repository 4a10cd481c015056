#include "shell/LogModel.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <vector>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Finds the newest application-log entry whose message contains the text, or -1.
int findMessage(const LogModel& model, const QString& text)
{
    for (int row = model.rowCount() - 1; row >= 0; --row) {
        if (model.data(model.index(row), LogModel::MessageRole).toString().contains(text))
            return row;
    }
    return -1;
}

// What appendEntry was given, to compare with what the model gives back.
struct Given
{
    QDateTime time;
    QString category;
    LogModel::Severity severity;
    QString function;
    QString msg;
};

void append(LogModel& model, const Given& line)
{
    model.appendEntry(line.time, line.category, line.severity, line.function, line.msg);
}

// Every role of the row gives back exactly what was given: the time in its own zone, the names,
// the severity and the text.
void expectRow(const LogModel& model, int row, const Given& line)
{
    SCOPED_TRACE(row);
    const QModelIndex index = model.index(row);
    const QDateTime time = model.data(index, LogModel::TimeRole).toDateTime();
    EXPECT_EQ(time, line.time);
    EXPECT_EQ(time.timeSpec(), line.time.timeSpec());
    EXPECT_EQ(time.timeZone(), line.time.timeZone());
    EXPECT_EQ(time.offsetFromUtc(), line.time.offsetFromUtc());
    EXPECT_EQ(model.data(index, Qt::DisplayRole).toString(),
              line.time.toString(Qt::ISODateWithMs) + QStringLiteral(": ") + line.msg);
    EXPECT_EQ(model.data(index, LogModel::CategoryRole).toString(), line.category);
    EXPECT_EQ(model.data(index, LogModel::SeverityRole).toInt(), int(line.severity));
    EXPECT_EQ(model.data(index, LogModel::FunctionRole).toString(), line.function);
    EXPECT_EQ(model.data(index, LogModel::MessageRole).toString(), line.msg);
}

// The file saveTo writes for these lines: each text as UTF-8 and a line feed.
QByteArray savedForm(const std::vector<Given>& lines)
{
    QByteArray bytes;
    for (const Given& line : lines)
        bytes += line.msg.toUtf8() + '\n';
    return bytes;
}

} // namespace

TEST(LogModel, RolesAndDisplayText)
{
    LogModel model;
    const QDateTime time(QDate(2025, 7, 1), QTime(12, 34, 56, 789));
    model.appendEntry(time, "cat", LogModel::Warning, "fn", "ok");

    const QModelIndex index = model.index(0);
    EXPECT_EQ(model.data(index, Qt::DisplayRole).toString(), "2025-07-01T12:34:56.789: ok");
    EXPECT_EQ(model.data(index, LogModel::TimeRole).toDateTime(), time);
    EXPECT_EQ(model.data(index, LogModel::CategoryRole).toString(), "cat");
    EXPECT_EQ(model.data(index, LogModel::SeverityRole).toInt(), 2);
    EXPECT_EQ(model.data(index, LogModel::FunctionRole).toString(), "fn");
    EXPECT_EQ(model.data(index, LogModel::MessageRole).toString(), "ok");

    EXPECT_FALSE(model.data(model.index(1), Qt::DisplayRole).isValid());
    EXPECT_FALSE(model.data(QModelIndex(), Qt::DisplayRole).isValid());
    EXPECT_FALSE(model.data(index, Qt::UserRole + 6).isValid());

    const auto names = model.roleNames();
    EXPECT_EQ(names.value(257), "time");
    EXPECT_EQ(names.value(261), "message");
    EXPECT_EQ(names.value(Qt::DisplayRole), "display");
}

TEST(LogModel, AppendAnnouncesOneRowAndClearResets)
{
    LogModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "a");
    model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "b");
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted.at(1).at(1).toInt(), 1);
    EXPECT_EQ(inserted.at(1).at(2).toInt(), 1);
    EXPECT_EQ(reset.count(), 0);

    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(removed.count(), 0);
}

TEST(LogModel, SavesMessagesOnlyOneLineEach)
{
    QTemporaryDir dir;
    LogModel model;
    const QString empty = dir.filePath("empty.txt");
    EXPECT_EQ(model.saveTo(empty), QString());
    EXPECT_EQ(readAll(empty), QByteArray());

    for (const char* text : {"a", "b", "c"})
        model.appendEntry(QDateTime::currentDateTime(), "cat", LogModel::Debug, "fn", text);
    const QString path = dir.filePath("log.txt");
    EXPECT_EQ(model.saveTo(path), QString());
    EXPECT_EQ(readAll(path), QByteArray("a\nb\nc\n"));
}

TEST(LogModel, SaveFailuresAreReported)
{
    LogModel* appLog = LogModel::appLog();
    LogModel model;
    model.appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "line");

    const QString missing = QStringLiteral("/nonexistent-folder/log.txt");
    const QString error = model.saveTo(missing);
    EXPECT_FALSE(error.isEmpty());
    const int row = findMessage(*appLog, "Unable to open file " + missing + ": " + error);
    ASSERT_GE(row, 0);
    EXPECT_EQ(appLog->data(appLog->index(row), LogModel::SeverityRole).toInt(), int(LogModel::Debug));

    // A full disk: the open succeeds, the write does not.
    if (QFile::exists("/dev/full")) {
        EXPECT_FALSE(model.saveTo("/dev/full").isEmpty());
    }
}

TEST(LogModel, WorkerThreadMessagesReachTheAppLogStampedAtEmission)
{
    LogModel* appLog = LogModel::appLog();
    QDateTime beforeEmit;
    QDateTime afterEmit;
    QThread* worker = QThread::create([&] {
        beforeEmit = QDateTime::currentDateTime();
        qWarning("from the worker thread");
        afterEmit = QDateTime::currentDateTime();
    });
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    worker->deleteLater();
    QTest::qWait(50); // the warning waits in the GUI thread's queue until the loop runs
    QCoreApplication::processEvents();

    const int row = findMessage(*appLog, "from the worker thread");
    ASSERT_GE(row, 0);
    EXPECT_EQ(appLog->data(appLog->index(row), LogModel::SeverityRole).toInt(), int(LogModel::Warning));
    const QDateTime stamped = appLog->data(appLog->index(row), LogModel::TimeRole).toDateTime();
    EXPECT_LE(beforeEmit, stamped);
    EXPECT_LE(stamped, afterEmit); // not the later time of delivery
}

TEST(LogModel, ShortcutNoiseIsSkipped)
{
    LogModel* appLog = LogModel::appLog();
    const int before = appLog->rowCount();
    qWarning("QAction::event: Shortcut: Only binding to one of multiple key bindings");
    EXPECT_EQ(appLog->rowCount(), before);
    qInfo("a normal message");
    EXPECT_EQ(appLog->rowCount(), before + 1);
    EXPECT_EQ(appLog->data(appLog->index(before), LogModel::SeverityRole).toInt(), int(LogModel::Info));
}

// Texts are held in shared blocks, one byte a character when they can be: every text comes back
// exactly, whatever its characters, its size, and where the blocks between them end.
TEST(LogModel, TextsComeBackExactly)
{
    const QDateTime time(QDate(2025, 7, 1), QTime(12, 34, 56, 789));
    std::vector<Given> lines;
    const auto add = [&](const QString& text) { lines.push_back({time, {}, LogModel::Info, {}, text}); };
    add(QString());
    add(QStringLiteral("plain"));
    add(QStringLiteral("1024 cd/m\u00b2 at 20 \u00b0C, \u00ff")); // Latin-1 beyond ASCII
    add(QStringLiteral("\u22120.0023 Duv"));                      // a minus sign beyond Latin-1
    add(QStringLiteral("a face \U0001F600 between"));            // a surrogate pair
    add(QString(QChar(0xD800)) + QStringLiteral("lone surrogate"));
    add(QString(QChar(0)) + QStringLiteral("after a NUL"));
    // Around the size up to which texts share blocks, in one byte and in two a character.
    const auto shared = qsizetype(LogTextArena::SharedTextBytes);
    for (const qsizetype length : {shared - 1, shared, shared + 1, 3 * shared})
        add(QString(length, QLatin1Char('x')));
    for (const qsizetype length : {shared / 2, shared / 2 + 1})
        add(QString(length, QChar(0x2212)));
    // Enough short texts of odd sizes to fill several blocks, the wide ones starting on odd bytes.
    for (int i = 0; i < 2000; ++i)
        add(QString(i % 97, QLatin1Char('a' + i % 26)) + (i % 5 == 0 ? QStringLiteral("\u2212") : QString()));

    LogModel model;
    for (const Given& line : lines)
        append(model, line);
    ASSERT_EQ(model.rowCount(), int(lines.size()));
    for (int row = 0; row < model.rowCount(); ++row)
        expectRow(model, row, lines[std::size_t(row)]);

    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    EXPECT_EQ(model.saveTo(path), QString());
    EXPECT_EQ(readAll(path), savedForm(lines));
}

// A line's time comes back in its own zone: local, UTC, an offset, a named zone, or none.
TEST(LogModel, TimesComeBackInTheirOwnZone)
{
    const QDate date(2025, 7, 1);
    const QTime clock(12, 34, 56, 789);
    std::vector<QDateTime> times = {QDateTime(date, clock), QDateTime(date, clock, Qt::UTC),
                                    QDateTime(date, clock, Qt::OffsetFromUTC, 5 * 3600 + 30 * 60), QDateTime(),
                                    QDateTime::currentDateTime()};
    const QTimeZone berlin("Europe/Berlin");
    if (berlin.isValid())
        times.push_back(QDateTime(date, clock, berlin));

    LogModel model;
    std::vector<Given> lines;
    for (const QDateTime& time : times) {
        lines.push_back({time, QStringLiteral("cat"), LogModel::Debug, QStringLiteral("fn"), QStringLiteral("t")});
        append(model, lines.back());
    }
    for (int row = 0; row < model.rowCount(); ++row)
        expectRow(model, row, lines[std::size_t(row)]);
}

// Categories and function names are kept once each: every line with a name shares its one
// string. However many names there are, each line keeps its own; after clear the log starts
// afresh.
TEST(LogModel, NamesAreKeptOnceForEveryLineThatHasThem)
{
    LogModel model;
    const QDateTime time = QDateTime::currentDateTime();
    // Equal names made apart, as the message handler makes them for every message.
    for (int i = 0; i < 3; ++i)
        model.appendEntry(time, QString::fromUtf8("qml"), LogModel::Info, QString::fromUtf8("void f()"), "line");
    const auto storage = [&model](int row, int role) {
        return model.data(model.index(row), role).toString().constData();
    };
    EXPECT_EQ(storage(0, LogModel::CategoryRole), storage(2, LogModel::CategoryRole));
    EXPECT_EQ(storage(0, LogModel::FunctionRole), storage(2, LogModel::FunctionRole));
    EXPECT_NE(storage(0, LogModel::CategoryRole), storage(0, LogModel::FunctionRole));
    EXPECT_EQ(model.data(model.index(1), LogModel::FunctionRole).toString(), "void f()");

    // Many names, a new one on nearly every line, between lines of a repeated one and of none.
    constexpr int kNames = 20000;
    std::vector<Given> lines;
    for (int i = 0; i < kNames; ++i) {
        const bool repeated = i % 10 == 0;
        lines.push_back({time, repeated ? QStringLiteral("default") : QStringLiteral("category %1").arg(i),
                         LogModel::Severity(i % 5), i % 7 == 0 ? QString() : QStringLiteral("void f%1()").arg(i),
                         QStringLiteral("line %1").arg(i)});
    }
    model.clear();
    for (const Given& line : lines)
        append(model, line);
    ASSERT_EQ(model.rowCount(), kNames);
    for (int row = 0; row < kNames; ++row)
        expectRow(model, row, lines[std::size_t(row)]);

    model.clear();
    append(model, lines[7]);
    append(model, lines[8]);
    ASSERT_EQ(model.rowCount(), 2);
    expectRow(model, 0, lines[7]);
    expectRow(model, 1, lines[8]);
}
