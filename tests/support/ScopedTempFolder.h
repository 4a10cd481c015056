#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points the system's temporary folder (TMPDIR) at a fresh folder while it exists, so the files a
// camera downloads land where a test can see them and are removed afterwards.
class ScopedTempFolder
{
public:
    ScopedTempFolder();
    ~ScopedTempFolder();

    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

    QString path() const { return m_folder.path(); }
    bool isValid() const { return m_folder.isValid(); }

private:
    QTemporaryDir m_folder;
    bool m_hadPrevious = false;
    QByteArray m_previous;
};
