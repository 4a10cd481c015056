#pragma once

#include <QProcess>
#include <QTemporaryDir>

// A real window manager (jwm) on the test's X display, with a panel along the bottom of the
// screen: windows get frames and title bars, the window manager decides where they go, and the
// screen's available area is smaller than the screen, as on a desktop.
class WindowManager
{
public:
    static constexpr int PanelHeight = 40;

    WindowManager() = default;
    ~WindowManager();

    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // Starts it and waits until its panel has made the screen's available area smaller; false,
    // with the reason in error(), when it could not.
    bool start(int limitMs = 20000);
    QString error() const { return m_error; }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    QString m_error;
};
