#pragma once

#include "update/UpdaterHost.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>

#include <functional>

class QNetworkAccessManager;

// Asks the update server for newer releases, lists them for the interface and downloads and
// starts the installer the user picks. The controller owns it (as a Qt child) and is its host: a
// download holds the controller's run and reports on its status line and progress bar.
//
// The server's address is fixed when the program is configured; without one a check fails (on a
// later event-loop turn, as a reply would) with "No update server configured". A download ends
// exactly once: only a complete, cleanly written file reaches the launch step; every failure or
// stop moves the partial file to the trash and starts nothing.
class Updater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList installers READ installers WRITE setInstallers NOTIFY installersChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(QStringList versions READ versions WRITE setVersions NOTIFY versionsChanged)
    Q_PROPERTY(int available READ available WRITE setAvailable NOTIFY availableChanged)
    Q_PROPERTY(QStringList urls READ urls WRITE setUrls NOTIFY urlsChanged)
    Q_PROPERTY(QStringList notes READ notes WRITE setNotes NOTIFY notesChanged)
    Q_PROPERTY(QString skipVersion READ skipVersion WRITE setSkipVersion NOTIFY skipVersionChanged)
    Q_PROPERTY(bool manualCheck READ manualCheck WRITE setManualCheck NOTIFY manualCheckChanged)
public:
    static const QString NoServerMessage;
    // The number of releases after a failed check.
    static constexpr int CheckFailed = -1;
    // A release-list request with no data for this long fails.
    static constexpr int CheckTimeoutMs = 10000;
    // A download that receives nothing for this long fails.
    static constexpr int DownloadInactivityMs = 30000;
    // Between starting the installer and quitting, so the user sees it start.
    static constexpr int QuitDelayMs = 3000;
    static constexpr int QuitWaitSliceMs = 50;

    explicit Updater(UpdaterHost& host, QObject* parent = nullptr);

    QStringList installers() const { return m_installers; }
    QString error() const { return m_error; }
    QStringList versions() const { return m_versions; }
    int available() const { return m_available; }
    QStringList urls() const { return m_urls; }
    QStringList notes() const { return m_notes; }
    QString skipVersion() const { return m_skipVersion; }
    bool manualCheck() const { return m_manualCheck; }

    void setInstallers(const QStringList& installers);
    void setError(const QString& error);
    void setVersions(const QStringList& versions);
    void setAvailable(int available);
    void setUrls(const QStringList& urls);
    void setNotes(const QStringList& notes);
    // Stores the version and remembers it under "SkipVersion".
    void setSkipVersion(const QString& skipVersion);
    void setManualCheck(bool manualCheck);

    // The scheme and host requests go to; the configured address by default.
    void setServerAddress(const QString& address) { m_serverAddress = address; }
    QString serverAddress() const { return m_serverAddress; }
    // For tests: shorter waits than the program's.
    void setQuitDelay(int ms) { m_quitDelayMs = ms; }
    void setDownloadInactivityLimit(int ms) { m_downloadInactivityMs = ms; }
    // For tests: what ends the program once the installer runs (QCoreApplication::quit, which
    // does nothing outside the application's own event loop).
    void setQuit(std::function<void()> quit) { m_quit = std::move(quit); }
    // The fixed path installerTest launches.
    static QString testInstallerPath();

    // The version number in a release text: a leading non-digit is dropped, then the "."-separated
    // parts that are non-negative integers ("V1.04.2" and "1.04.beta.2" are both 1.4.2).
    static QVersionNumber parseVersion(const QString& text);
    // Compares two release texts as version numbers (negative, 0 or positive, as a is older, the
    // same as or newer than b): "1.05.0" is 1.5.0, and 1.10 is newer than 1.9.
    Q_INVOKABLE static int compareVersions(const QString& a, const QString& b);

public slots:
    void check(QString channel, bool latest);
    void gotReply(QNetworkReply* reply);
    // Refused (false) while the host runs or when the file cannot be opened.
    bool download(QString installer, QUrl location);
    void downloadError(QNetworkReply::NetworkError err);
    void downloadSslErrors(QList<QSslError> errors);
    void downloadProgress(qlonglong read, qlonglong total);
    void downloadFinished();
    void downloadAbort();
    void installerTest();
    void shutdown();

signals:
    void installersChanged();
    void errorChanged();
    void versionsChanged();
    void availableChanged();
    void urlsChanged();
    void notesChanged();
    void skipVersionChanged();
    void manualCheckChanged();

private:
    enum class Ending { Complete, Failed, Stopped };

    QNetworkRequest request(const QUrl& url) const;
    void failCheckLater(const QString& message);
    // Ends the running download once; later notifications of its reply do nothing.
    void finishDownload(const QString& message, Ending ending);
    void discardDownloadFile();
    bool launchInstaller(const QString& path);
    void quitAfterDelay();

    UpdaterHost& m_host;
    QNetworkAccessManager* m_checkManager = nullptr;
    QNetworkAccessManager* m_downloadManager = nullptr;
    QPointer<QNetworkReply> m_downloadReply;
    QFile m_downloadFile;
    QTimer m_inactivity;
    bool m_downloading = false;
    QString m_serverAddress;
    int m_quitDelayMs = QuitDelayMs;
    int m_downloadInactivityMs = DownloadInactivityMs;
    std::function<void()> m_quit;

    QStringList m_installers;
    QString m_error;
    QStringList m_versions;
    int m_available = 0;
    QStringList m_urls;
    QStringList m_notes;
    QString m_skipVersion;
    bool m_manualCheck = false;
};
