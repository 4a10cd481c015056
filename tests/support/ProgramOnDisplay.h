#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// The real program on a real X display of its own: Xvfb through `xvfb-run -a`, the xcb platform,
// and the program's own leak suppressions rather than the tests'. Output of both is read merged;
// signals go to the program itself, not to xvfb-run's shell. Killed when this object goes.
class ProgramOnDisplay
{
public:
    // Whether xvfb-run is installed; the tests skip without it.
    static bool available();

    ProgramOnDisplay(const QString& program, QProcessEnvironment environment);
    ~ProgramOnDisplay();

    ProgramOnDisplay(const ProgramOnDisplay&) = delete;
    ProgramOnDisplay& operator=(const ProgramOnDisplay&) = delete;

    bool started() const { return m_started; }
    bool running() const { return m_launcher.state() == QProcess::Running; }
    // Reads until the output holds `mark`, the launcher ends, or the limit passes; whether the
    // output holds the mark.
    bool readUntil(const QByteArray& mark, int limitMs);
    // Waits for the end of xvfb-run (and so of the program) reading what is still written.
    bool waitForEnd(int limitMs);
    // Sends the program under xvfb-run a signal; whether it was found and signalled.
    bool signalProgram(int signalNumber);
    int exitCode() const { return m_launcher.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_launcher.exitStatus(); }
    const QByteArray& output() const { return m_output; }

private:
    QString m_program;
    QProcess m_launcher;
    QByteArray m_output;
    bool m_started = false;
};
