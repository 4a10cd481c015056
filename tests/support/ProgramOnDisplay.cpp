#include "support/ProgramOnDisplay.h"

#include <QElapsedTimer>
#include <QStandardPaths>

#include <csignal>

namespace {

constexpr int kLaunchLimitMs = 10000;
constexpr int kPgrepLimitMs = 10000;
constexpr int kReadPollMs = 200;

QString xvfbRun()
{
    return QStandardPaths::findExecutable("xvfb-run");
}

} // namespace

bool ProgramOnDisplay::available()
{
    return !xvfbRun().isEmpty();
}

ProgramOnDisplay::ProgramOnDisplay(const QString& program, QProcessEnvironment environment)
    : m_program(program)
{
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("LSAN_OPTIONS");
    m_launcher.setProcessEnvironment(environment);
    m_launcher.setProcessChannelMode(QProcess::MergedChannels);
    m_launcher.start(xvfbRun(), {"-a", program});
    m_started = m_launcher.waitForStarted(kLaunchLimitMs);
}

ProgramOnDisplay::~ProgramOnDisplay()
{
    if (m_launcher.state() != QProcess::NotRunning) {
        signalProgram(SIGKILL);
        m_launcher.kill();
        m_launcher.waitForFinished(kLaunchLimitMs);
    }
}

bool ProgramOnDisplay::readUntil(const QByteArray& mark, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!m_output.contains(mark) && clock.elapsed() < limitMs && running()) {
        m_launcher.waitForReadyRead(kReadPollMs);
        m_output += m_launcher.readAll();
    }
    m_output += m_launcher.readAll();
    return m_output.contains(mark);
}

bool ProgramOnDisplay::waitForEnd(int limitMs)
{
    const bool ended = m_launcher.waitForFinished(limitMs);
    m_output += m_launcher.readAll();
    return ended;
}

// The program is the child of xvfb-run's shell that runs the binary.
bool ProgramOnDisplay::signalProgram(int signalNumber)
{
    QProcess find;
    find.start("pgrep", {"-P", QString::number(m_launcher.processId()), "-f", m_program});
    if (!find.waitForFinished(kPgrepLimitMs))
        return false;
    const qint64 programId = find.readAllStandardOutput().trimmed().split('\n').value(0).toLongLong();
    return programId > 0 && ::kill(pid_t(programId), signalNumber) == 0;
}
