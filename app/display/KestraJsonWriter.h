#pragma once

#include <QStringView>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// Writes the JSON text of the processor's request bodies straight into a string, byte for byte as
// Qt's compact writer (QJsonDocument::Compact) writes the same document, without building Qt's
// tree of values first: for a wall's worth of LDM gains that tree costs tens of milliseconds of
// the GUI thread, the text a few.
//
// The caller writes each object's members in the order a QJsonObject keeps its keys: ascending by
// QString's comparison (UTF-16 code units). The writer places the commas, escapes keys and strings
// as Qt does (", \ and the control characters; other text as UTF-8, an unpaired surrogate as
// \uXXXX) and writes numbers as Qt does: a whole number within +-2^53 as an integer, any other
// finite number in the shortest form that reads back to the same double, in decimal or with an
// exponent of at least two digits, whichever Qt's 'g' format chooses, and a non-finite one as null.
// Keys and strings given as std::string_view are Latin-1 (the program's own, ASCII as a rule).
class KestraJsonWriter
{
public:
    explicit KestraJsonWriter(std::size_t expectedSize = 0);

    // The document's own object, then members; every object opened is closed.
    KestraJsonWriter& openObject();
    KestraJsonWriter& openObject(std::string_view key);
    KestraJsonWriter& openObject(QStringView key);
    KestraJsonWriter& closeObject();

    KestraJsonWriter& number(std::string_view key, double value);
    KestraJsonWriter& integer(std::string_view key, qint64 value);
    KestraJsonWriter& boolean(std::string_view key, bool value);
    KestraJsonWriter& string(std::string_view key, std::string_view value);

    // The text written so far; the writer is empty afterwards.
    std::string take();

private:
    // Defined here, so that they are inlined wherever they are used: thousands of times per
    // document. room: space for that many more bytes after the text written so far.
    char* room(std::size_t bytes)
    {
        if (m_text.size() - m_used < bytes)
            m_text.resize(std::max(m_text.size() * 2, m_used + bytes));
        return m_text.data() + m_used;
    }
    void put(char c)
    {
        *room(1) = c;
        ++m_used;
    }
    void put(std::string_view text)
    {
        if (text.empty())
            return; // an empty view may have no data to copy from
        std::memcpy(room(text.size()), text.data(), text.size());
        m_used += text.size();
    }
    void beginMember()
    {
        if (m_used > 0 && m_text[m_used - 1] != '{')
            put(',');
    }
    void appendKey(std::string_view key);
    void appendKey(QStringView key);
    void appendQuoted(std::string_view latin1);
    void appendQuoted(QStringView text);
    void appendNumber(double value);
    void appendInteger(qint64 value);

    std::string m_text; // the text in its first m_used bytes, then room to write into
    std::size_t m_used = 0;
};
