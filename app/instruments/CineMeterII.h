#pragma once

#include "instruments/Colorimeter.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The network light meter. Each read() sends one HTTP GET to the address the user entered; the
// meter answers with plain text lines of a key, a value and, for luminance, a unit. The
// luminance is multiplied by the factor of the neutral-density filter in use.
class CineMeterII : public Colorimeter
{
    Q_OBJECT
public:
    static const QString InstrumentName;
    static const QString NoAddressMessage;
    // A request with no data moving for this long is abandoned (never earlier).
    static constexpr int TransferTimeoutMs = 4000;
    // The filter and matrix lists are built this long after start-up.
    static constexpr int ListDelayMs = 5000;
    // Luminance below this is reported as darkness.
    static constexpr double LowLightLimit = 0.05;

    explicit CineMeterII(QObject* parent = nullptr);

    // Every read() is answered with the meter's reading or, once no data moved for the transfer
    // time-out, with a recoverable time-out error; a waiter for a reading waits that long.
    std::chrono::milliseconds readingTimeout() const override;
    // Unavailable while no address is entered.
    QString unavailableReason() const override;

    double filterFactor() const { return m_filterFactor; }

public slots:
    void read() override;
    void gotReply(QNetworkReply* reply);

public:
    // Selects a filter and takes its luminance factor from the last word of its name.
    virtual void applyFilter(int filter);

private:
    void buildLists();
    // Applies one line of the meter's answer; x and y collect the chromaticity across lines.
    void applyLine(const QString& line, double& x, double& y);
    // Ends a request that brought no reading: the error text, the kind and dataAvailable.
    void reportFailure(qint32 kind, const QString& error);

    QNetworkAccessManager* m_network = nullptr;
    double m_filterFactor = 1.0;
    QTimer* m_listTimer = nullptr;
};
