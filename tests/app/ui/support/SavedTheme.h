#pragma once

#include <QApplication>
#include <QPalette>
#include <QString>

// The application's palette and style sheet as they were when this was made, put back when it
// goes: the theme is the process's, and each test leaves it as it found it.
class SavedTheme
{
public:
    SavedTheme()
        : m_palette(QApplication::palette())
        , m_styleSheet(qApp->styleSheet())
    {
    }
    ~SavedTheme()
    {
        QApplication::setPalette(m_palette);
        qApp->setStyleSheet(m_styleSheet);
    }
    SavedTheme(const SavedTheme&) = delete;
    SavedTheme& operator=(const SavedTheme&) = delete;

    const QPalette& palette() const { return m_palette; }
    const QString& styleSheet() const { return m_styleSheet; }

private:
    QPalette m_palette;
    QString m_styleSheet;
};
