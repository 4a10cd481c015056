#include "update/Updater.h"

#include "update/UpdatePlatform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSettings>
#include <QThread>

#ifndef VELOTRIM_UPDATE_SERVER
#define VELOTRIM_UPDATE_SERVER ""
#endif

namespace {

const QString SkipVersionKey = QStringLiteral("SkipVersion");
const QString FeedPath = QStringLiteral("/api/v1/updates/velotrim/release?arch=%1");
const QString WriteFailedMessage = QStringLiteral("Download aborted; unable to write to file.");

template <typename T, typename Signal>
void store(Updater* updater, T& field, const T& value, Signal changed)
{
    if (field == value)
        return;
    field = value;
    emit(updater->*changed)();
}

} // namespace

const QString Updater::NoServerMessage = QStringLiteral("No update server configured");

Updater::Updater(UpdaterHost& host, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_checkManager(new QNetworkAccessManager(this))
    , m_serverAddress(QStringLiteral(VELOTRIM_UPDATE_SERVER))
    , m_quit([] { QCoreApplication::quit(); })
{
    m_checkManager->setTransferTimeout(CheckTimeoutMs);
    connect(m_checkManager, &QNetworkAccessManager::finished, this, &Updater::gotReply);
    m_inactivity.setSingleShot(true);
    connect(&m_inactivity, &QTimer::timeout, this, [this] {
        qDebug("download stalled for %d ms", m_downloadInactivityMs);
        finishDownload(QStringLiteral("Download stopped with error: no data for %1 seconds")
                           .arg(m_downloadInactivityMs / 1000.0),
                       Ending::Failed);
    });
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
    qDebug("Skip version %s", qUtf8Printable(skipVersion));
    QSettings().setValue(SkipVersionKey, skipVersion);
    emit skipVersionChanged();
}

void Updater::setManualCheck(bool manualCheck)
{
    store(this, m_manualCheck, manualCheck, &Updater::manualCheckChanged);
}

QString Updater::testInstallerPath()
{
    return QDir::tempPath() + QStringLiteral("/velotrim-installer-test");
}

QNetworkRequest Updater::request(const QUrl& url) const
{
    QNetworkRequest request(url);
    const QByteArray agent = QStringLiteral("KESTRA Velotrim/%1").arg(QCoreApplication::applicationVersion()).toUtf8();
    qDebug("HEADER: User-Agent: %s", agent.constData());
    request.setRawHeader("User-Agent", agent);
    return request;
}

QVersionNumber Updater::parseVersion(const QString& text)
{
    QString digits = text;
    if (!digits.isEmpty() && !digits.front().isDigit())
        digits.remove(0, 1);
    QList<int> numbers;
    for (const QString& part : digits.split(QLatin1Char('.'))) {
        bool ok = false;
        const int number = part.toInt(&ok, 10);
        if (ok && number >= 0)
            numbers.append(number);
    }
    return QVersionNumber(numbers);
}

int Updater::compareVersions(const QString& a, const QString& b)
{
    return QVersionNumber::compare(parseVersion(a).normalized(), parseVersion(b).normalized());
}

void Updater::failCheckLater(const QString& message)
{
    // Answers like a reply would, so a manual check is already waiting when the failure comes.
    QTimer::singleShot(0, this, [this, message] {
        setError(message);
        setAvailable(CheckFailed);
    });
}

void Updater::check(QString channel, bool latest)
{
    if (channel != QLatin1String("release") && channel != QLatin1String("beta"))
        channel = QStringLiteral("release");
    if (m_serverAddress.isEmpty() || !m_checkManager) {
        qDebug("Updater::check(%s): %s", qUtf8Printable(channel), qUtf8Printable(NoServerMessage));
        failCheckLater(NoServerMessage);
        return;
    }
    QString url = m_serverAddress + FeedPath.arg(UpdatePlatform::architecture());
    if (latest)
        url += QStringLiteral("&latest");
    qDebug("Updater::check(%s): %s", qUtf8Printable(channel), qUtf8Printable(url));
    m_checkManager->get(request(QUrl(url)));
}

void Updater::gotReply(QNetworkReply* reply)
{
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        qDebug("Updater network error %d: %ls", int(reply->error()), qUtf16Printable(reply->errorString()));
        setError(reply->errorString());
        setAvailable(CheckFailed);
        return;
    }
    m_installers.clear();
    m_versions.clear();
    m_urls.clear();
    m_notes.clear();
    if (!body.isEmpty()) {
        QString baseline = QCoreApplication::applicationVersion();
        if (!m_manualCheck) {
            setSkipVersion(QSettings().value(SkipVersionKey, QString()).toString());
            if (compareVersions(baseline, m_skipVersion) < 0) {
                qDebug("skipping %s", qUtf8Printable(m_skipVersion));
                baseline = m_skipVersion;
            }
        }
        // Read once: every item is compared with it.
        const QVersionNumber newestKnown = parseVersion(baseline).normalized();
        const QJsonArray items = QJsonDocument::fromJson(body).object().value(QStringLiteral("items")).toArray();
        for (const QJsonValue& value : items) {
            const QJsonObject item = value.toObject();
            const QString version = item.value(QStringLiteral("version")).toString();
            const QString name = item.value(QStringLiteral("name")).toString();
            const QVersionNumber offered = parseVersion(version).normalized();
            qDebug("version %s, installer %s", qUtf8Printable(offered.toString()), qUtf8Printable(name));
            if (QVersionNumber::compare(newestKnown, offered) >= 0)
                continue;
            m_versions.append(version);
            m_installers.append(name);
            m_urls.append(item.value(QStringLiteral("url")).toString());
            m_notes.append(item.value(QStringLiteral("notes")).toString());
            qDebug("found new version %s!", qUtf8Printable(version));
        }
    }
    emit installersChanged();
    emit versionsChanged();
    emit urlsChanged();
    emit notesChanged();
    setAvailable(int(m_versions.size()));
}

bool Updater::download(QString installer, QUrl location)
{
    if (m_downloading || m_host.running()) {
        qDebug("download %s refused: busy", qUtf8Printable(installer));
        return false;
    }
    if (!m_downloadManager)
        m_downloadManager = new QNetworkAccessManager(this);
    const QString path = location.toLocalFile();
    qDebug("download %s to %s", qUtf8Printable(installer), qUtf8Printable(path));
    m_downloadFile.setFileName(path);
    if (!m_downloadFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug("cannot open %s: %s", qUtf8Printable(path), qUtf8Printable(m_downloadFile.errorString()));
        m_host.setStatusString(QStringLiteral("Unable to open file %1").arg(path));
        return false;
    }
    qDebug("download: %s", qUtf8Printable(installer));
    m_host.setProgress(0.0);
    m_host.runNothing();
    m_downloading = true;
    m_downloadReply = m_downloadManager->get(request(QUrl::fromUserInput(installer)));
    connect(m_downloadReply, &QNetworkReply::errorOccurred, this, &Updater::downloadError);
    connect(m_downloadReply, &QNetworkReply::sslErrors, this, &Updater::downloadSslErrors);
    connect(m_downloadReply, &QNetworkReply::downloadProgress, this, &Updater::downloadProgress);
    connect(m_downloadReply, &QNetworkReply::finished, this, &Updater::downloadFinished);
    m_inactivity.start(m_downloadInactivityMs);
    return true;
}

void Updater::downloadProgress(qlonglong read, qlonglong total)
{
    if (!m_downloading || !m_downloadReply)
        return;
    m_inactivity.start(m_downloadInactivityMs);
    const QByteArray bytes = m_downloadReply->readAll();
    const qint64 written = bytes.isEmpty() ? 0 : m_downloadFile.write(bytes);
    if (written < bytes.size()) {
        qDebug("read %lld bytes but wrote %lld!", qlonglong(bytes.size()), qlonglong(written));
        finishDownload(WriteFailedMessage, Ending::Failed);
        return;
    }
    const QString name = m_downloadFile.fileName();
    if (total > 0) {
        const double fraction = double(read) / double(total);
        m_host.setProgress(fraction);
        m_host.setStatusString(QStringLiteral("Downloading %1, %2%").arg(name).arg(int(fraction * 100)));
    } else {
        m_host.setStatusString(QStringLiteral("Downloading %1").arg(name));
    }
    if (!m_host.running())
        finishDownload(QStringLiteral("Download stopped."), Ending::Stopped);
}

void Updater::downloadError(QNetworkReply::NetworkError err)
{
    if (!m_downloading || !m_downloadReply)
        return;
    qDebug("DOWNLOAD ERROR  %d: %s", int(err), qUtf8Printable(m_downloadReply->errorString()));
    finishDownload(QStringLiteral("Download stopped with error: %1").arg(m_downloadReply->errorString()), Ending::Failed);
}

void Updater::downloadSslErrors(QList<QSslError> errors)
{
    if (!m_downloading || !m_downloadReply)
        return;
    qDebug("DOWNLOAD SSL ERRORS: %s", qUtf8Printable(m_downloadReply->errorString()));
    for (const QSslError& error : errors)
        qDebug("  %s", qUtf8Printable(error.errorString()));
    finishDownload(QStringLiteral("Download stopped with SSL errors. See Log Messages for details."), Ending::Failed);
}

void Updater::downloadFinished()
{
    if (!m_downloading || !m_downloadReply)
        return;
    if (m_downloadReply->error() != QNetworkReply::NoError) {
        downloadError(m_downloadReply->error());
        return;
    }
    // Bytes that arrived with the end of the reply, after the last progress notification.
    const QByteArray rest = m_downloadReply->readAll();
    if (!rest.isEmpty() && m_downloadFile.write(rest) < rest.size()) {
        finishDownload(WriteFailedMessage, Ending::Failed);
        return;
    }
    qDebug("download done.");
    finishDownload(QStringLiteral("Installer at %1").arg(m_downloadFile.fileName()), Ending::Complete);
}

void Updater::downloadAbort()
{
    if (!m_downloading)
        return;
    finishDownload(QStringLiteral("Download stopped."), Ending::Stopped);
}

void Updater::discardDownloadFile()
{
    m_downloadFile.close();
    const QString path = m_downloadFile.fileName();
    if (!QFile::exists(path))
        return;
    if (!QFile::moveToTrash(path) && !QFile::remove(path))
        qDebug("could not remove %s", qUtf8Printable(path));
}

void Updater::finishDownload(const QString& message, Ending ending)
{
    if (!m_downloading)
        return;
    m_downloading = false;
    m_inactivity.stop();
    qDebug("FinishDownload: %s", qUtf8Printable(message));

    QString status = message;
    if (ending == Ending::Complete) {
        const bool written = m_downloadFile.flush() && m_downloadFile.error() == QFileDevice::NoError;
        m_downloadFile.close();
        if (!written || m_downloadFile.error() != QFileDevice::NoError) {
            ending = Ending::Failed;
            status = WriteFailedMessage;
        }
    }
    if (m_downloadReply) {
        // The reply's later notifications must not reach a download that has ended.
        disconnect(m_downloadReply, nullptr, this, nullptr);
        // A reply that already failed is over; aborting it again reports its error twice.
        if (ending != Ending::Complete && m_downloadReply->error() == QNetworkReply::NoError)
            m_downloadReply->abort();
        m_downloadReply->deleteLater();
        m_downloadReply = nullptr;
    }
    if (ending != Ending::Complete)
        discardDownloadFile();
    if (ending == Ending::Stopped)
        status = QStringLiteral("Download stopped.");

    m_host.setProgress(-1.0);
    m_host.setStatusString(status);
    const bool launched = ending == Ending::Complete && launchInstaller(m_downloadFile.fileName());
    m_host.setRunning(false);
    if (launched)
        quitAfterDelay();
}

bool Updater::launchInstaller(const QString& path)
{
    qDebug("Installing %s", qUtf8Printable(path));
    if (!QFile::exists(path)) {
        const QString message = path + QStringLiteral(" does not exist; will not install.");
        qDebug("%s", qUtf8Printable(message));
        m_host.setStatusString(message);
        return false;
    }
    UpdatePlatform::showInFolder(path);
    QString reason;
    if (!UpdatePlatform::startInstaller(path, &reason)) {
        const QString message = QStringLiteral("Unable to start the installer %1: %2").arg(path, reason);
        qDebug("%s", qUtf8Printable(message));
        m_host.setStatusString(message);
        return false;
    }
    return true;
}

void Updater::quitAfterDelay()
{
    m_host.setProgress(1.0);
    m_host.setStatusString(QStringLiteral("Installer launching; Velotrim will quit..."));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < m_quitDelayMs) {
        QCoreApplication::processEvents();
        QThread::msleep(QuitWaitSliceMs);
    }
    m_quit();
}

void Updater::installerTest()
{
    if (launchInstaller(testInstallerPath()))
        quitAfterDelay();
}

void Updater::shutdown()
{
    finishDownload(QStringLiteral("Download stopped."), Ending::Stopped);
    for (QNetworkAccessManager** manager : {&m_downloadManager, &m_checkManager}) {
        if (!*manager)
            continue;
        disconnect(*manager, nullptr, nullptr, nullptr);
        (*manager)->deleteLater();
        *manager = nullptr;
    }
}
