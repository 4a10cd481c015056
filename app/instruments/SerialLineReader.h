#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// Cuts the bytes of a serial line into text lines. A line ends at a CR, an LF or both, so an
// instrument that ends its lines with a bare CR is read as promptly as one that sends CR LF; the
// empty lines this leaves between the two are dropped. A line that runs past MaxLineLength bytes
// without an end is cut there, and what follows is the next line, so a talkative or broken
// instrument cannot make the buffer grow without bound.
class SerialLineReader
{
public:
    static constexpr qsizetype MaxLineLength = 199;

    void append(const QByteArray& bytes) { m_pending.append(bytes); }
    // The next complete line without its end, or nothing until one has arrived.
    std::optional<QByteArray> takeLine();
    // Drops everything not yet taken.
    void clear() { m_pending.clear(); }

private:
    QByteArray m_pending;
};
