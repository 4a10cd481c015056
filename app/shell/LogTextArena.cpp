#include "shell/LogTextArena.h"

#include <algorithm>
#include <cstring>

namespace {

bool fitsLatin1(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}

} // namespace

LogTextArena::Span LogTextArena::append(QStringView text)
{
    if (text.size() > MaxLength)
        text = text.first(MaxLength);
    const bool wide = !fitsLatin1(text);
    const std::size_t bytes = std::size_t(text.size()) * (wide ? sizeof(char16_t) : 1);
    const quint32 number = reserve(bytes);
    Block& block = m_blocks[number];
    std::byte* into = block.bytes.get() + block.used;
    if (wide) {
        std::memcpy(into, text.utf16(), bytes);
    } else {
        for (const QChar c : text)
            *into++ = std::byte(c.unicode());
    }
    const Span span{number, wide, quint32(block.used), quint32(text.size())};
    block.used += bytes;
    return span;
}

quint32 LogTextArena::reserve(std::size_t bytes)
{
    if (bytes > SharedTextBytes) {
        // Its own block, exactly its size; the shared block stays open for the texts after it.
        m_blocks.push_back(Block{std::make_unique_for_overwrite<std::byte[]>(bytes), bytes, 0});
        return quint32(m_blocks.size() - 1);
    }
    if (m_open == NoBlock || m_blocks[m_open].size - m_blocks[m_open].used < bytes) {
        m_blocks.push_back(Block{std::make_unique_for_overwrite<std::byte[]>(BlockBytes), BlockBytes, 0});
        m_open = m_blocks.size() - 1;
    }
    return quint32(m_open);
}

QString LogTextArena::text(Span span) const
{
    const std::byte* from = m_blocks[span.block].bytes.get() + span.offset;
    const auto length = qsizetype(span.length);
    if (!span.wide)
        return QString::fromLatin1(reinterpret_cast<const char*>(from), length);
    // Copied rather than read in place: a wide text need not start on a two-byte boundary.
    QString text(length, Qt::Uninitialized);
    std::memcpy(text.data(), from, std::size_t(length) * sizeof(char16_t));
    return text;
}

void LogTextArena::clear()
{
    m_blocks = std::vector<Block>();
    m_open = NoBlock;
}
