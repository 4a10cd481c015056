#include "update/UpdatePlatform.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace UpdatePlatform {

namespace {
const QString Opener = QStringLiteral("xdg-open");
} // namespace

QString architecture()
{
    return QStringLiteral("Linux-x86_64");
}

void showInFolder(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QProcess::startDetached(Opener, {folder}))
        qDebug("could not start %s to show %s", qUtf8Printable(Opener), qUtf8Printable(folder));
}

bool startInstaller(const QString& path, QString* error)
{
    QFile installer(path);
    if (!installer.setPermissions(installer.permissions() | QFileDevice::ExeOwner)) {
        *error = installer.errorString();
        return false;
    }
    QProcess process;
    process.setProgram(QFileInfo(path).absoluteFilePath());
    process.setWorkingDirectory(QFileInfo(path).absolutePath());
    if (!process.startDetached()) {
        *error = process.errorString();
        return false;
    }
    return true;
}

} // namespace UpdatePlatform
