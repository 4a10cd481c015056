#include "support/ScriptedInstrument.h"

#include <QSocketNotifier>
#include <QTest>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr char CommandEnd = '\r';
constexpr qsizetype ReadChunk = 4096;

} // namespace

ScriptedInstrument::ScriptedInstrument(QObject* parent)
    : QObject(parent)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        fail("posix_openpt");
        return;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        fail("grantpt/unlockpt");
        return;
    }
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        fail("ptsname_r");
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        fail("open slave");
        return;
    }
    // Raw bytes both ways: no echo, no CR/LF translation. The port under test sets the same.
    termios settings{};
    if (::tcgetattr(m_slave, &settings) != 0) {
        fail("tcgetattr");
        return;
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_slave, TCSANOW, &settings) != 0) {
        fail("tcsetattr");
        return;
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ScriptedInstrument::readCommands);
}

ScriptedInstrument::~ScriptedInstrument()
{
    hangUp();
}

void ScriptedInstrument::fail(const char* what)
{
    const int error = errno;
    m_error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
    hangUp();
}

void ScriptedInstrument::setReply(const QByteArray& command, const QByteArray& reply)
{
    m_replies.insert(command, reply);
}

void ScriptedInstrument::removeReply(const QByteArray& command)
{
    m_replies.remove(command);
}

void ScriptedInstrument::hangUpOn(const QByteArray& command)
{
    m_hangUpCommands.insert(command);
}

void ScriptedInstrument::stopListening()
{
    if (!m_notifier)
        return;
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
}

void ScriptedInstrument::hangUp()
{
    stopListening();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
}

void ScriptedInstrument::send(const QByteArray& bytes)
{
    if (m_master < 0)
        return;
    // Replies are far smaller than the pseudo-terminal's buffer, so one write takes them all.
    const ssize_t written = ::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (written != bytes.size())
        qWarning("ScriptedInstrument: wrote %zd of %lld bytes", written, static_cast<long long>(bytes.size()));
}

bool ScriptedInstrument::waitForCommands(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return m_commands.size() >= count; }, timeoutMs);
}

void ScriptedInstrument::readCommands()
{
    char buffer[ReadChunk];
    const ssize_t count = ::read(m_master, buffer, sizeof buffer);
    if (count <= 0) {
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // Nothing more will come; stop listening rather than wake up for ever.
        stopListening();
        return;
    }
    m_pending.append(buffer, count);
    qsizetype end = m_pending.indexOf(CommandEnd);
    while (end >= 0 && m_master >= 0) {
        const QByteArray command = m_pending.left(end);
        m_pending.remove(0, end + 1);
        m_commands.append(command);
        emit commandReceived(command);
        answer(command);
        end = m_pending.indexOf(CommandEnd);
    }
}

void ScriptedInstrument::answer(const QByteArray& command)
{
    if (m_hangUpCommands.contains(command)) {
        hangUp();
        return;
    }
    const auto reply = m_replies.constFind(command);
    if (reply != m_replies.constEnd())
        send(*reply);
}
