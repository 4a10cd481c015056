#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The real program with its real interface, started on the environment given (its platform and
// settings folder) and watched: until the interface has loaded, laid out, restored its windows and
// made its start-up update check, then a few seconds more, so that the first layout and the
// controller's answers reach the interface. It is left running for the caller to look at, and
// killed when this object goes.
class StartedProgram
{
public:
    StartedProgram(const QString& program, QProcessEnvironment environment);
    ~StartedProgram();

    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    // The start-up check ran, so the interface loaded.
    bool loaded() const { return m_loaded; }
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 processId() const { return m_process.processId(); }
    int exitCode() const { return m_process.exitCode(); }
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
