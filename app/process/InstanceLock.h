#pragma once

#include <QLockFile>
#include <QString>

// One velotrim at a time per account: two would share the settings file and drive the one
// processor. The first start holds a lock file in the settings folder for its whole run; a later
// start finds it held and stays out. A lock left by a process that has died (a crash, a kill) is
// stale and is taken over.
class InstanceLock
{
public:
    enum class Outcome {
        Taken,    // this start holds the lock
        Held,     // a running velotrim holds it
        Failed,   // the lock could not be made at all: error() says what failed
    };

    // A lock file in the given folder, not yet taken.
    explicit InstanceLock(const QString& folder);

    // Takes the lock, taking over a stale one.
    Outcome tryLock();
    QString path() const { return m_path; }
    // What failed when the lock could not be made (the folder, the permission, the disk).
    QString error() const { return m_error; }

    // The folder the settings live in: that of the settings file; on Windows, where the settings
    // are in the registry, the application's configuration folder.
    static QString settingsFolder();

private:
    QString m_path;
    QLockFile m_lock;
    QString m_error;
};
