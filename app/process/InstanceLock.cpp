#include "process/InstanceLock.h"

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

InstanceLock::Outcome InstanceLock::tryLock()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("the settings folder %1 cannot be created").arg(folder);
        return Outcome::Failed;
    }
    if (m_lock.tryLock())
        return Outcome::Taken;
    switch (m_lock.error()) {
    case QLockFile::LockFailedError:
        return Outcome::Held;
    case QLockFile::PermissionError:
        m_error = QStringLiteral("there is no permission to create the lock file %1").arg(m_path);
        break;
    default:
        // Not made, or made but not written (the process's number did not fit): the disk, mostly.
        m_error = QStringLiteral("the lock file %1 cannot be written (is the disk full?)").arg(m_path);
        break;
    }
    return Outcome::Failed;
}

QString InstanceLock::settingsFolder()
{
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
#else
    return QFileInfo(QSettings().fileName()).absolutePath();
#endif
}
