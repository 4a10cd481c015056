#include "shell/InstanceLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

InstanceLock::InstanceLock(const QString& folder)
    : m_path(QDir(folder).filePath(QCoreApplication::applicationName() + QStringLiteral(".lock")))
    , m_lock(m_path)
{
    // Held as long as the program runs, however long that is: only a dead holder makes it stale.
    m_lock.setStaleLockTime(0);
}

bool InstanceLock::tryLock()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (m_lock.tryLock())
        return true;
    switch (m_lock.error()) {
    case QLockFile::LockFailedError:
        m_error = QStringLiteral("held by a running velotrim");
        break;
    case QLockFile::PermissionError:
        m_error = QStringLiteral("no permission to create %1").arg(m_path);
        break;
    default:
        m_error = QStringLiteral("cannot create %1").arg(m_path);
        break;
    }
    return false;
}

QString InstanceLock::settingsFolder()
{
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
#else
    return QFileInfo(QSettings().fileName()).absolutePath();
#endif
}
