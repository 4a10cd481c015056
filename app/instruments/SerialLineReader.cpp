#include "instruments/SerialLineReader.h"

#include <algorithm>

namespace {

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

} // namespace

std::optional<QByteArray> SerialLineReader::takeLine()
{
    // Every pass consumes at least one byte, so the loop ends with the buffer.
    while (!m_pending.isEmpty()) {
        const auto window = m_pending.cbegin() + std::min(m_pending.size(), MaxLineLength + 1);
        const auto end = std::find_if(m_pending.cbegin(), window, isLineEnd);
        qsizetype length = 0;
        qsizetype consumed = 0;
        if (end != window) {
            length = end - m_pending.cbegin();
            consumed = length + 1;
        } else if (m_pending.size() > MaxLineLength) {
            length = MaxLineLength;
            consumed = MaxLineLength;
        } else {
            return std::nullopt;
        }
        QByteArray line = m_pending.left(length);
        m_pending.remove(0, consumed);
        if (!line.isEmpty())
            return line;
    }
    return std::nullopt;
}
