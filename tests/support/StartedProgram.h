#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The real program with its real interface, started on the environment given (its platform and
// settings folder) and watched until it has written the mark, by default once the interface has
// loaded, laid out, restored its windows and made its start-up update check. It is left running
// for the caller to look at (or to signal), and killed when this object goes.
class StartedProgram
{
public:
    // Logged by the start-up update check, which runs once the root is loaded and its windows
    // restored.
    static constexpr char LoadedMark[] = "Updater::check(";

    StartedProgram(const QString& program, QProcessEnvironment environment, const QByteArray& mark = LoadedMark);
    ~StartedProgram();

    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    // The mark was written: by default, the start-up check ran, so the interface loaded.
    bool loaded() const { return m_loaded; }
    // Watches a few seconds more once loaded, so that the first layout and the controller's
    // answers reach the interface before the caller looks at its warnings.
    void watchAfterLoad();
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 processId() const { return m_process.processId(); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    // Sends the program a signal and waits for its end, reading what it still writes; whether it
    // ended.
    bool stop(int signalNumber);
    // Every message written while it was watched, one a line as "type|category|message".
    const QByteArray& output() const { return m_output; }
    // The interface's warnings among them: the QML engine's (file and line of a .qml file, binding
    // loops, refused connections), the scripts' console.warn and console.error, and the Quick
    // libraries'.
    QStringList qmlWarnings() const;

private:
    void readFor(int milliseconds, const QByteArray& until);

    QProcess m_process;
    QByteArray m_output;
    bool m_loaded = false;
};
