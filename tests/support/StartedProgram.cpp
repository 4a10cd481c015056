#include "support/StartedProgram.h"

#include <QElapsedTimer>

#include <csignal>

namespace {

constexpr int kStartLimit = 10000; // ms
constexpr int kLoadLimit = 60000;  // ms; the sanitizer build loads slowly under load
constexpr int kAfterLoad = 3000;   // ms
constexpr int kPoll = 200;         // ms
constexpr int kStopLimit = 30000;  // ms

} // namespace

StartedProgram::StartedProgram(const QString& program, QProcessEnvironment environment, const QByteArray& mark)
{
    // Every message with its severity and category, so that the interface's warnings stand out.
    environment.insert("QT_MESSAGE_PATTERN", "%{type}|%{category}|%{message}");
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program);
    if (!m_process.waitForStarted(kStartLimit)) {
        m_output = "could not start " + program.toUtf8() + ": " + m_process.errorString().toUtf8();
        return;
    }
    readFor(kLoadLimit, mark);
    m_loaded = m_output.contains(mark);
}

void StartedProgram::watchAfterLoad()
{
    if (m_loaded)
        readFor(kAfterLoad, {});
}

StartedProgram::~StartedProgram()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kStartLimit);
    }
}

bool StartedProgram::stop(int signalNumber)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    ::kill(pid_t(m_process.processId()), signalNumber);
    const bool ended = m_process.waitForFinished(kStopLimit);
    m_output += m_process.readAll();
    return ended;
}

// Collects the output while the program runs, for at most `milliseconds`, or until it holds
// `until` when that is given.
void StartedProgram::readFor(int milliseconds, const QByteArray& until)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds && m_process.state() == QProcess::Running
           && (until.isEmpty() || !m_output.contains(until))) {
        m_process.waitForReadyRead(kPoll);
        m_output += m_process.readAll();
    }
    m_output += m_process.readAll();
}

QStringList StartedProgram::qmlWarnings() const
{
    QStringList found;
    for (const QString& line : QString::fromUtf8(m_output).split('\n')) {
        const QStringList fields = line.split('|');
        if (fields.size() < 3)
            continue;
        const QString& type = fields.at(0);
        const QString& category = fields.at(1);
        const QString message = line.section('|', 2);
        if (type != "warning" && type != "critical" && type != "fatal")
            continue;
        const bool fromInterface = category.startsWith("qml") || category.startsWith("js")
            || category.startsWith("qt.qml") || category.startsWith("qt.quick") || message.contains(".qml")
            || message.contains("QML") || message.contains("Illegal attempt to connect");
        if (fromInterface)
            found.append(line);
    }
    return found;
}
