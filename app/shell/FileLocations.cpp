#include "shell/FileLocations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

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

} // namespace

QString FileLocations::existingFolder(const QString& folder)
{
    if (isFolder(folder))
        return withSlash(folder);
    const QString documents = documentsFolder();
    // mkpath fails where a file has taken the folder's name; the home folder is offered then.
    if (!documents.isEmpty() && (isFolder(documents) || QDir().mkpath(documents)) && isFolder(documents))
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
    return {};
}
