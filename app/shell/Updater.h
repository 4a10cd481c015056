#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// Asks the update server for newer releases, lists them for the interface and downloads and
// starts the installer the user picks. A child of the controller.
//
// This build has no update server to ask: a check ends at once as a failed check (available -1
// with the reason in error), and a download is refused the same way.
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
    static const QString UnavailableMessage;
    // The number of releases after a failed check.
    static constexpr int CheckFailed = -1;

    explicit Updater(QObject* parent = nullptr);

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

public slots:
    void check(QString channel, bool latest);
    bool download(QString installer, QUrl location);
    void downloadAbort();
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
    QStringList m_installers;
    QString m_error;
    QStringList m_versions;
    int m_available = 0;
    QStringList m_urls;
    QStringList m_notes;
    QString m_skipVersion;
    bool m_manualCheck = false;
};
