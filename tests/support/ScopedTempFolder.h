#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points an environment variable naming a folder at a fresh folder while it exists: TMPDIR, so
// the files a camera downloads land where a test can see them and are removed afterwards, or
// HOME, for a fresh account whose documents folder does not exist yet.
class ScopedTempFolder
{
public:
    explicit ScopedTempFolder(const char* variable = "TMPDIR");
    ~ScopedTempFolder();

    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

    QString path() const { return m_folder.path(); }
    bool isValid() const { return m_folder.isValid(); }

private:
    QTemporaryDir m_folder;
    const char* m_variable;
    bool m_hadPrevious = false;
    QByteArray m_previous;
};
