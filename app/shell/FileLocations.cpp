#include "shell/FileLocations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>
#include <array>

namespace {

// Folders of the system whose files are the kernel's and the devices', wherever they are mounted
// from (in a container /dev is an ordinary memory file system).
constexpr std::array kSystemFolders{"/proc", "/sys", "/dev"};
// File systems that hold no files of the operator's: the kernel's views of itself and of devices.
constexpr std::array kSystemFileSystems{"proc", "sysfs", "devtmpfs", "devpts", "debugfs", "tracefs", "securityfs",
                                        "cgroup", "cgroup2", "pstore", "bpf", "configfs", "efivarfs", "fusectl",
                                        "hugetlbfs", "mqueue", "binfmt_misc", "selinuxfs"};

QString withSlash(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool isFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// The same path, whatever its trailing slash or "." and ".." parts.
bool samePath(const QString& a, const QString& b)
{
    return !a.isEmpty() && !b.isEmpty() && QDir::cleanPath(a) == QDir::cleanPath(b);
}

// Whether a path lies in one of the system's folders, its links followed as far as they exist.
bool inSystemFolder(const QString& path)
{
    QFileInfo info(path);
    // The nearest part of the path that exists tells where the rest would be.
    while (!info.exists() && !info.isRoot() && info.absolutePath() != info.absoluteFilePath())
        info = QFileInfo(info.absolutePath());
    const QString real = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
    const bool underSystemFolder = std::any_of(kSystemFolders.begin(), kSystemFolders.end(), [&real](const char* folder) {
        const QString system = QString::fromLatin1(folder);
        return real == system || real.startsWith(system + QLatin1Char('/'));
    });
    if (underSystemFolder || !info.exists())
        return underSystemFolder;
    const QByteArray type = QStorageInfo(real).fileSystemType();
    return std::any_of(kSystemFileSystems.begin(), kSystemFileSystems.end(),
                       [&type](const char* system) { return type == system; });
}

// Whether a folder holds the operator's files: it exists, can be listed and written, and is none
// of the system's.
bool isOrdinaryFolder(const QString& folder)
{
    if (!isFolder(folder))
        return false;
    const QFileInfo info(folder);
    return info.isReadable() && info.isWritable() && info.isExecutable() && !inSystemFolder(folder);
}

} // namespace

QString FileLocations::dialogFolder(const QString& folder)
{
    if (isOrdinaryFolder(folder))
        return withSlash(folder);
    const QString documents = documentsFolder();
    // mkpath fails where a file has taken the folder's name; the home folder is offered then.
    if (!documents.isEmpty() && (isFolder(documents) || QDir().mkpath(documents)) && isOrdinaryFolder(documents))
        return withSlash(documents);
    return withSlash(QDir::homePath());
}

QString FileLocations::refusal(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return QStringLiteral("no file name was given");
    if (isFolder(path))
        return QStringLiteral("a folder has that name");
    if (samePath(path, documentsFolder()) || samePath(path, QDir::homePath()))
        return QStringLiteral("that is the folder offered for saving");
    // A device, a pipe or a socket: writing would go to what is behind it, or wait for a reader.
    if (const QFileInfo info(path); info.exists() && !info.isFile())
        return QStringLiteral("that is no ordinary file");
    if (inSystemFolder(path))
        return QStringLiteral("that folder is the system's, not one for files");
    return {};
}
