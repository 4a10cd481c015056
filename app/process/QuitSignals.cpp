#include "process/QuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QtGlobal>

#include <array>
#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::array kQuitSignals{SIGINT, SIGTERM};

// The socket pair's ends: the handler writes to the first, the event loop reads the second.
// Plain ints, as the handler may touch nothing else.
int s_fds[2] = {-1, -1};

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    if (s_fds[0] >= 0) {
        qWarning("QuitSignals: already installed");
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_fds) != 0) {
        qWarning("QuitSignals: no socket pair; Ctrl+C and SIGTERM end the program at once");
        s_fds[0] = s_fds[1] = -1;
        return;
    }
    struct sigaction action = {};
    action.sa_handler = &QuitSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kQuitSignals)
        ::sigaction(signalNumber, &action, nullptr);

    m_notifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::takeSignal);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (const int signalNumber : kQuitSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(s_fds[0]);
    ::close(s_fds[1]);
    s_fds[0] = s_fds[1] = -1;
}

void QuitSignals::handle(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full socket already holds a quit request: losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(s_fds[0], &byte, 1);
    errno = savedErrno;
}

void QuitSignals::takeSignal()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(s_fds[1], &byte, 1) == 1)
        last = byte;
    if (last == 0)
        return;
    qDebug("Received signal %d; quitting", last);
    QCoreApplication::quit();
}
