#include "instruments/CineMeterII.h"

#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <array>
#include <cmath>

const QString CineMeterII::InstrumentName = QStringLiteral("Cine Meter II");
const QString CineMeterII::NoAddressMessage = QStringLiteral("Cine Meter II: no network address; can't connect");

namespace {

// The filters the meter can hold: number, name and type. Only neutral-density filters of the
// radiance type are offered.
constexpr std::array FilterTable = {
    "4,ND-100-0.3,Radiance",
    "5,ND-100-0.6,Radiance",
    "6,ND-100-0.9,Radiance",
    "7,ND-100-1.2,Radiance",
    "1,ND-100-1.8,Radiance",
    "2,ND-100-2.1,Radiance",
    "9,CC30M,Radiance",
    "2,ND-42-42,Unassigned",
};

// The meter's calibration matrices: number, name and nine coefficients, of which only the
// number and the name are used here.
constexpr std::array MatrixTable = {
    "0,Matrix One,1.030e+00,-1.363e-02,-8.051e-03,-2.175e-02,1.072e+00,1.- 203e-02,5.340e-02,3.940e-03,1.058e+00",
    "1,Second Matrix,1.030e+00,-1.363e-02,-8.051e-03,-2.175e-02,1.072e+00,1.- 203e-02,5.340e-02,3.940e-03,1.058e+00",
    "3,Ventana,1.030e+00,-1.363e-02,-8.051e-03,-2.175e-02,1.072e+00,1.- 203e-02,5.340e-02,3.940e-03,1.058e+00",
};

// Keys of the meter's answer.
const QString LuminanceKey = QStringLiteral("brightness_SI");
const QString CctKey = QStringLiteral("CCT");
const QString DuvKey = QStringLiteral("\u2206uv");
const QString CieXKey = QStringLiteral("cie1931_x");
const QString CieYKey = QStringLiteral("cie1931_y");

bool isTimestampLine(const QString& line)
{
    return line.startsWith(QStringLiteral("20")) || line.startsWith(QStringLiteral("timestamp"));
}


QStringList answerLines(const QByteArray& body)
{
    QStringList lines = QString::fromUtf8(body).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Tolerate a meter that ends its lines with CR LF.
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    lines.removeAll(QString());
    return lines;
}

// An answer is a reading only when it reports the luminance; anything else (an error page, a
// stray text) would otherwise pass the previous reading off as a new one.
bool holdsReading(const QStringList& lines)
{
    for (const QString& line : lines) {
        if (line.section(QLatin1Char(' '), 0, 0) == LuminanceKey)
            return true;
    }
    return false;
}

// Aborts a request once no data moved for idleMs, on a precise timer: the network manager's own
// transfer time-out runs on a coarse one, which may end a request up to 5 % early.
void abortWhenIdle(QNetworkReply* reply, int idleMs)
{
    auto* idle = new QTimer(reply);
    idle->setSingleShot(true);
    idle->setTimerType(Qt::PreciseTimer);
    idle->setInterval(idleMs);
    QObject::connect(idle, &QTimer::timeout, reply, &QNetworkReply::abort);
    const auto moved = [idle] { idle->start(); };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, idle, moved);
    QObject::connect(reply, &QNetworkReply::downloadProgress, idle, moved);
    QObject::connect(reply, &QNetworkReply::uploadProgress, idle, moved);
    QObject::connect(reply, &QNetworkReply::finished, idle, &QTimer::stop);
    idle->start();
}

} // namespace

CineMeterII::CineMeterII(QObject* parent)
    : Colorimeter(InstrumentName, parent)
    , m_network(new QNetworkAccessManager(this))
    , m_listTimer(new QTimer(this))
{
    QObject::connect(m_network, &QNetworkAccessManager::finished, this, &CineMeterII::gotReply);
    m_listTimer->setSingleShot(true);
    QObject::connect(m_listTimer, &QTimer::timeout, this, &CineMeterII::buildLists);
    m_listTimer->start(ListDelayMs);
}

std::chrono::milliseconds CineMeterII::readingTimeout() const
{
    return std::chrono::milliseconds{TransferTimeoutMs};
}

void CineMeterII::buildLists()
{
    for (const char* entry : FilterTable) {
        const QString line = QString::fromUtf8(entry);
        const QStringList parts = line.split(QLatin1Char(','));
        if (parts.size() != 3)
            continue;
        auto* option = new Option(static_cast<int>(parts[0].toUInt()), parts[1], parts[2], this);
        if (option->name().startsWith(QStringLiteral("ND")) &&
            option->type().startsWith(QStringLiteral("Radiance"))) {
            filterList()->append(option);
            if (verbose())
                qDebug("CMII: adding filter %s", qUtf8Printable(line));
        } else if (verbose()) {
            qDebug("CMII: skipping filter %s", qUtf8Printable(line));
        }
    }
    logFilterList();
    emit filterListChanged();
    applyFilter(storedFilter());

    for (const char* entry : MatrixTable) {
        const QString line = QString::fromUtf8(entry);
        const QStringList parts = line.split(QLatin1Char(','));
        if (parts.size() < 2)
            continue;
        matrixList()->append(new Option(static_cast<int>(parts[0].toUInt()), parts[1], QString(), this));
        if (verbose())
            qDebug("dummy: adding matrix %s", qUtf8Printable(line));
    }
    logMatrixList();
    emit matrixListChanged();
    Colorimeter::setMatrix(storedMatrix());
}

void CineMeterII::applyFilter(int filter)
{
    Colorimeter::setFilter(filter);

    const OptionList* list = filterList();
    const Option* option = list->find(storedFilter());
    if (!option)
        return;
    if (option == list->at(0)) {
        m_filterFactor = 1.0;
        return;
    }
    const QStringList words = option->name().split(QLatin1Char(' '));
    if (words.size() < 2) {
        m_filterFactor = 1.0;
        return;
    }
    // The name ends in the filter's optical density.
    m_filterFactor = std::pow(10.0, readingNumber(words.last()));
    qDebug("CMII: ND value is %s, filter factor is %.2f", qUtf8Printable(words.last()), m_filterFactor);
}

QString CineMeterII::unavailableReason() const
{
    return address().isEmpty() ? NoAddressMessage : QString();
}

void CineMeterII::read()
{
    if (const QString why = unavailableReason(); !why.isEmpty()) {
        QMutexLocker locker(&readingMutex());
        reportFailure(2, why);
        return;
    }
    const QUrl url(QStringLiteral("http://") + address(), QUrl::TolerantMode);
    abortWhenIdle(m_network->get(QNetworkRequest(url)), TransferTimeoutMs);
}

void CineMeterII::gotReply(QNetworkReply* reply)
{
    reply->deleteLater();
    QMutexLocker locker(&readingMutex());

    // An error page is no reading, whatever its body says.
    if (reply->error() != QNetworkReply::NoError) {
        reportFailure(1, reply->errorString());
        return;
    }
    const QStringList lines = answerLines(reply->readAll());
    if (lines.isEmpty()) {
        reportFailure(1, QStringLiteral("Cine Meter II: empty reply"));
        return;
    }
    if (!holdsReading(lines)) {
        reportFailure(1, QStringLiteral("Cine Meter II: reply holds no reading"));
        return;
    }

    double x = 0.0;
    double y = 0.0;
    for (const QString& line : lines) {
        applyLine(line, x, y);
        if (x != 0.0 && y != 0.0)
            setCieXY(x, y);
    }
    if (luminance() < LowLightLimit) {
        qDebug("Cine Meter II low light limit");
        setLuminance(0.0);
    }
    setError(QString());
    setErrorType(ErrorType{});
    emit dataAvailable(this);
}

void CineMeterII::applyLine(const QString& line, double& x, double& y)
{
    if (isTimestampLine(line)) {
        setTimestamp(line);
        return;
    }
    // Fields are separated by single spaces; a doubled space leaves an empty field.
    const QStringList fields = line.split(QLatin1Char(' '));
    const QString& key = fields[0];
    if (key == LuminanceKey) {
        if (fields.size() >= 3) {
            setLuminance(readingNumber(fields[1]) * m_filterFactor);
            setLuminanceUnits(fields[2]);
        }
        return;
    }
    if (fields.size() < 2)
        return;
    if (key == CctKey)
        setCct(readingNumber(fields[1]));
    else if (key == DuvKey)
        setDuv(readingNumber(fields[1]));
    else if (key == CieXKey)
        x = readingNumber(fields[1]);
    else if (key == CieYKey)
        y = readingNumber(fields[1]);
}

void CineMeterII::reportFailure(qint32 kind, const QString& error)
{
    setError(error);
    setErrorType(ErrorType{kind, {}});
    emit dataAvailable(this);
}
