#include "shell/Updater.h"

#include <QDebug>
#include <QSettings>

namespace {

const QString SkipVersionKey = QStringLiteral("SkipVersion");

template <typename T, typename Signal>
void store(Updater* updater, T& field, const T& value, Signal changed)
{
    if (field == value)
        return;
    field = value;
    emit(updater->*changed)();
}

} // namespace

const QString Updater::UnavailableMessage = QStringLiteral("update checking is not available in this build");

Updater::Updater(QObject* parent)
    : QObject(parent)
{
}

void Updater::setInstallers(const QStringList& installers)
{
    store(this, m_installers, installers, &Updater::installersChanged);
}

void Updater::setError(const QString& error)
{
    store(this, m_error, error, &Updater::errorChanged);
}

void Updater::setVersions(const QStringList& versions)
{
    store(this, m_versions, versions, &Updater::versionsChanged);
}

void Updater::setAvailable(int available)
{
    store(this, m_available, available, &Updater::availableChanged);
}

void Updater::setUrls(const QStringList& urls)
{
    store(this, m_urls, urls, &Updater::urlsChanged);
}

void Updater::setNotes(const QStringList& notes)
{
    store(this, m_notes, notes, &Updater::notesChanged);
}

void Updater::setSkipVersion(const QString& skipVersion)
{
    if (m_skipVersion == skipVersion)
        return;
    m_skipVersion = skipVersion;
    QSettings().setValue(SkipVersionKey, skipVersion);
    emit skipVersionChanged();
}

void Updater::setManualCheck(bool manualCheck)
{
    store(this, m_manualCheck, manualCheck, &Updater::manualCheckChanged);
}

void Updater::check(QString channel, bool latest)
{
    qDebug("Updater::check(%s, %d): %s", qUtf8Printable(channel), latest ? 1 : 0, qUtf8Printable(UnavailableMessage));
    setError(UnavailableMessage);
    setAvailable(CheckFailed);
}

bool Updater::download(QString installer, QUrl location)
{
    qDebug("Updater::download(%s, %s): %s", qUtf8Printable(installer), qUtf8Printable(location.toString()),
           qUtf8Printable(UnavailableMessage));
    setError(UnavailableMessage);
    return true;
}

void Updater::downloadAbort()
{
}

void Updater::shutdown()
{
}
