#pragma once

#include <QString>
#include <QStringView>

#include <cstddef>
#include <memory>
#include <vector>

// The texts of a log, end to end in large blocks: an allocation per block rather than per text.
// A text whose characters all fit one byte (nearly every log line) is kept as Latin-1, one byte a
// character; any other as UTF-16. Either way it reads back exactly as it was written.
class LogTextArena
{
public:
    // Where a text lies: small enough to sit in every line of a log.
    struct Span
    {
        quint32 block : 31;
        quint32 wide : 1; // UTF-16, two bytes a character
        quint32 offset;   // in bytes
        quint32 length;   // in characters
    };
    // Texts up to this size share blocks of this size; a longer one has a block of its own.
    static constexpr std::size_t BlockBytes = 16 * 1024;
    static constexpr std::size_t SharedTextBytes = BlockBytes / 4;
    // The longest text a span can hold; a longer one (four gigabytes and more) is cut to it.
    static constexpr qsizetype MaxLength = 0xFFFF'FFFF;

    Span append(QStringView text);
    QString text(Span span) const;
    // Every text gone, and every block freed.
    void clear();

private:
    struct Block
    {
        std::unique_ptr<std::byte[]> bytes;
        std::size_t size = 0;
        std::size_t used = 0;
    };

    // Room for this many bytes, in the block being filled or in a new one: the block's number.
    quint32 reserve(std::size_t bytes);

    std::vector<Block> m_blocks;
    // The block that texts are added to; none before the first text.
    std::size_t m_open = NoBlock;
    static constexpr std::size_t NoBlock = std::size_t(-1);
};
