#include "display/Kestra.h"

#include "display/http_client_cancel_registration.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSettings>
#include <QStringList>
#include <QtNumeric>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

namespace http = boost::beast::http;

constexpr const char* kDeviceName = "KESTRA";
constexpr const char* kDefaultService = "80";
constexpr const char* kContentType = "application/json";
constexpr unsigned kHttpOk = 200;
constexpr unsigned kHttpNoContent = 204;
// The shortest value the scrambler can have written: version, flags and the random byte.
constexpr qsizetype kShortestScrambledValue = 3;

bool sameValue(double a, double b)
{
    return a == b || qFuzzyCompare(a, b);
}

bool allFinite(std::initializer_list<double> values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

QJsonObject rgb(const QJsonValue& r, const QJsonValue& g, const QJsonValue& b)
{
    return QJsonObject{{QStringLiteral("r"), r}, {QStringLiteral("g"), g}, {QStringLiteral("b"), b}};
}

// One channel's curve point as the processor reads it.
QJsonObject curvePoint(double px, double py, double mx, double my)
{
    return QJsonObject{{QStringLiteral("px"), px}, {QStringLiteral("py"), py}, {QStringLiteral("mx"), mx},
                       {QStringLiteral("my"), my}};
}

// The processor takes each curve as the text of a JSON array, not as an array.
QString curveText(const QJsonArray& points)
{
    return QString::fromUtf8(QJsonDocument(points).toJson(QJsonDocument::Compact));
}

ErrorType toErrorType(const Kestra::JsonResult& result)
{
    return result.has_value() ? ErrorType() : result.error();
}

// Set while a display-settings send is in flight: from its start (resolution included) to its end.
class InFlightMark
{
public:
    explicit InFlightMark(bool& flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~InFlightMark() { m_flag = false; }
    InFlightMark(const InFlightMark&) = delete;
    InFlightMark& operator=(const InFlightMark&) = delete;

private:
    bool& m_flag;
};

} // namespace

Kestra::Kestra(boost::asio::io_context& ioContext, QObject* parent)
    : DisplayBase(QLatin1String(kDeviceName), parent)
    , m_http(ioContext, &m_registrations)
    , m_loop(ioContext, [this] { http_client::cancel_all(m_http); })
{
    setIsKestra(true);

    QSettings settings;
    if (settings.contains(QLatin1String(kUserKey)))
        setUsername(settings.value(QLatin1String(kUserKey), QString()).toString());
    if (settings.contains(QLatin1String(kPasswordKey))) {
        const QString stored = settings.value(QLatin1String(kPasswordKey), QString()).toString();
        const QString password = m_scrambler.decryptToText(stored);
        // Without this line the operator would only see the processor refuse every request.
        if (m_scrambler.lastError() != Scrambler::NoError
            || (!stored.isEmpty() && QByteArray::fromBase64(stored.toLatin1()).size() < kShortestScrambledValue))
            qWarning("Kestra: the stored processor password is damaged and cannot be read; enter it again");
        setPassword(password);
    }
    storeColor(0.0, 0.0, 0.0);
}

Kestra::~Kestra()
{
    // The request coroutines refer to the client state and the registrations: let every one of
    // them end before those go. Nothing is registered after a normal shutdown, and then the I/O
    // context (which may already be gone) is not touched.
    if (!m_registrations.empty())
        m_loop.cancelAndSettle([this] { return m_registrations.empty(); });
}

// ---- Credentials --------------------------------------------------------------------------------

QString Kestra::username() const
{
    return QString::fromStdString(m_http.username);
}

void Kestra::setUsername(const QString& newUsername)
{
    if (username() == newUsername)
        return;
    m_http.username = newUsername.toStdString();
    emit usernameChanged();
    QSettings().setValue(QLatin1String(kUserKey), newUsername);
}

QString Kestra::password() const
{
    return QString::fromStdString(m_http.password);
}

void Kestra::setPassword(const QString& newPassword)
{
    if (password() == newPassword)
        return;
    m_http.password = newPassword.toStdString();
    emit passwordChanged();
    QSettings().setValue(QLatin1String(kPasswordKey), m_scrambler.encryptToText(newPassword));
}

// ---- Processor settings -------------------------------------------------------------------------

template <class T>
bool Kestra::storeAndSend(T& stored, const T& value, bool unchanged)
{
    if (unchanged)
        return false;
    stored = value;
    // The value stays stored whether or not the processor took it.
    sendDisplaySettings();
    return true;
}

bool Kestra::refusedNonFinite(const char* setter, double value)
{
    if (std::isfinite(value))
        return false;
    qWarning("Kestra::%s: refused %f, which is not a finite number", setter, value);
    return true;
}

void Kestra::setCct(uint newCct)
{
    if (storeAndSend(m_cct, quint32(newCct), newCct == m_cct))
        emit cctChanged(newCct);
}

void Kestra::setDuv(double newDuv)
{
    if (!refusedNonFinite("setDuv", newDuv) && storeAndSend(m_duv, newDuv, sameValue(m_duv, newDuv)))
        emit duvChanged();
}

void Kestra::setEotfType(const QString& newEotfType)
{
    if (storeAndSend(m_eotfType, newEotfType, newEotfType == m_eotfType))
        emit eotfTypeChanged();
}

void Kestra::setGamma(double newGamma)
{
    if (!refusedNonFinite("setGamma", newGamma) && storeAndSend(m_gamma, newGamma, sameValue(m_gamma, newGamma)))
        emit gammaChanged(newGamma);
}

void Kestra::setPercentBrightness(double newPercentBrightness)
{
    if (!refusedNonFinite("setPercentBrightness", newPercentBrightness)
        && storeAndSend(m_percentBrightness, newPercentBrightness,
                        sameValue(m_percentBrightness, newPercentBrightness)))
        emit percentBrightnessChanged(newPercentBrightness);
}

void Kestra::setTestPatternEnabled(bool newTestPatternEnabled)
{
    if (storeAndSend(m_testPatternEnabled, newTestPatternEnabled, newTestPatternEnabled == m_testPatternEnabled))
        emit testPatternEnabledChanged();
}

void Kestra::setCurvesEnabled(bool newCurvesEnabled)
{
    if (storeAndSend(m_curvesEnabled, newCurvesEnabled, newCurvesEnabled == m_curvesEnabled))
        emit curvesEnabledChanged();
}

// ---- Colour and display gains -------------------------------------------------------------------

ErrorType Kestra::setRed(double newRed)
{
    if (newRed == red())
        return {};
    return setRGB(0, newRed, green(), blue());
}

ErrorType Kestra::setGreen(double newGreen)
{
    if (newGreen == green())
        return {};
    return setRGB(0, red(), newGreen, blue());
}

ErrorType Kestra::setBlue(double newBlue)
{
    if (newBlue == blue())
        return {};
    return setRGB(0, red(), green(), newBlue);
}

ErrorType Kestra::setRGB_(uint number, double red, double green, double blue)
{
    if (number == 1) {
        qDebug("Kestra::setRGB: #%d %.4f %.4f %.4f", int(number), red, green, blue);
        qDebug("      --> %.4f %.4f %.4f", red, green, blue);
    }
    if (number != 0) {
        qDebug("*** Kestra::setRGB called with number %d ****", int(number));
        return setLdmRGB(number, red, green, blue, Macropixel::normalIntensity);
    }
    if (!allFinite({red, green, blue}))
        return nonFiniteRefusal();

    const bool redChanges = red != this->red();
    const bool greenChanges = green != this->green();
    const bool blueChanges = blue != this->blue();
    storeColor(red, green, blue);
    if (redChanges)
        emit redChanged();
    if (greenChanges)
        emit greenChanged();
    if (blueChanges)
        emit blueChanged();
    if (redChanges || greenChanges || blueChanges)
        emit colorStrChanged();
    return sendDisplaySettings();
}

ErrorType Kestra::setDisplayGainRGB_(double red, double green, double blue)
{
    if (!allFinite({red, green, blue}))
        return nonFiniteRefusal();
    DisplayBase::setDisplayGainRGB_(red, green, blue);
    return sendDisplaySettings();
}

ErrorType Kestra::nonFiniteRefusal()
{
    return ErrorType::failure(ErrorType::Fatal, tr("Refused a value that is not a finite number"));
}

// ---- Sending ------------------------------------------------------------------------------------

QJsonDocument Kestra::displaySettingsDocument() const
{
    const QJsonObject adjust{
        {QStringLiteral("enabled"), true},
        {QStringLiteral("legacy"), false},
        {QStringLiteral("lift"), rgb(0, 0, 0)},
        {QStringLiteral("gamma"), rgb(1, 1, 1)},
        {QStringLiteral("gain"), rgb(red(), green(), blue())},
        {QStringLiteral("offset"), rgb(0, 0, 0)},
        {QStringLiteral("saturation"), 1},
    };
    const QJsonObject display{
        {QStringLiteral("brightness"), m_percentBrightness},
        {QStringLiteral("cct"), qint64(m_cct)},
        {QStringLiteral("gains"), rgb(displayGainRed(), displayGainGreen(), displayGainBlue())},
        {QStringLiteral("gamma"), m_gamma},
        {QStringLiteral("out"),
         QJsonObject{{QStringLiteral("adjust"), adjust},
                     {QStringLiteral("curves"), QJsonObject{{QStringLiteral("enabled"), m_curvesEnabled}}}}},
    };
    const QJsonObject ingest{
        {QStringLiteral("testPattern"),
         QJsonObject{{QStringLiteral("enabled"), m_testPatternEnabled}, {QStringLiteral("type"), QStringLiteral("white")}}},
    };
    return QJsonDocument(QJsonObject{
        {QStringLiteral("dev"), QJsonObject{{QStringLiteral("display"), display}, {QStringLiteral("ingest"), ingest}}}});
}

ErrorType Kestra::sendDisplaySettings()
{
    if (!m_sendingEnabled)
        return {};
    // One send at a time, in order: a send that started earlier (further down this thread's
    // stack, waiting for its reply) ends first; the document is built afterwards, from the
    // values current then.
    m_loop.runUntil([this] { return !m_settingsSendInFlight; });
    return toErrorType(m_loop.waitFor(trackSettingsSend(displaySettingsDocument())));
}

QCoro::Task<Kestra::JsonResult> Kestra::trackSettingsSend(QJsonDocument body)
{
    const InFlightMark mark(m_settingsSendInFlight);
    co_return co_await jsonRequest(std::move(body), http::verb::patch, kDataTarget);
}

ErrorType Kestra::sendCalibration(const QList<CurvePoint>& curves, double red, double green, double blue)
{
    bool finite = allFinite({red, green, blue});
    QJsonArray redCurve;
    QJsonArray greenCurve;
    QJsonArray blueCurve;
    for (const CurvePoint& p : curves) {
        finite = finite
            && allFinite({p.redPx, p.redPy, p.redMx, p.redMy, p.greenPx, p.greenPy, p.greenMx, p.greenMy, p.bluePx,
                          p.bluePy, p.blueMx, p.blueMy});
        redCurve.append(curvePoint(p.redPx, p.redPy, p.redMx, p.redMy));
        greenCurve.append(curvePoint(p.greenPx, p.greenPy, p.greenMx, p.greenMy));
        blueCurve.append(curvePoint(p.bluePx, p.bluePy, p.blueMx, p.blueMy));
    }

    ErrorType result;
    if (!finite) {
        result = nonFiniteRefusal();
    } else {
        const QJsonObject curvesObject{
            {QStringLiteral("enabled"), true},
            {QStringLiteral("y"), QStringLiteral("[]")},
            {QStringLiteral("r"), curveText(redCurve)},
            {QStringLiteral("g"), curveText(greenCurve)},
            {QStringLiteral("b"), curveText(blueCurve)},
        };
        const QJsonObject display{
            {QStringLiteral("gains"), rgb(red, green, blue)},
            {QStringLiteral("out"), QJsonObject{{QStringLiteral("curves"), curvesObject}}},
        };
        const QJsonDocument document(
            QJsonObject{{QStringLiteral("dev"), QJsonObject{{QStringLiteral("display"), display}}}});
        result = send(document, http::verb::patch, kDataTarget);
    }
    if (!result.ok())
        qDebug("sendCalibration: error %s", qUtf8Printable(result.message));
    return result;
}

ErrorType Kestra::send(const QJsonDocument& body, http::verb verb, const char* target)
{
    return toErrorType(m_loop.waitFor(jsonRequest(body, verb, target)));
}

QCoro::Task<Kestra::JsonResult> Kestra::jsonRequest(QJsonDocument body, http::verb verb, const char* target)
{
    if (address().isEmpty())
        co_return ErrorType::failure(ErrorType::Fatal, tr("No network address"));
    if (m_endpoints.empty())
        resolveAddress(); // on failure the client reports the connection failure below

    // The Host field carries the host alone, never the port.
    const std::string host = address().split(QLatin1Char(':')).constFirst().toStdString();
    std::string text = body.isNull() ? std::string() : body.toJson(QJsonDocument::Compact).toStdString();
    const std::uint64_t length = text.size();
    auto reply = co_await http_client::digest_request(m_http, m_endpoints, host, verb, std::string(target),
                                                      kContentType, length, std::move(text));
    if (!reply.has_value())
        co_return ErrorType::failure(ErrorType::Retryable, QString::fromStdString(reply.error().message()));

    const auto& response = reply.value();
    const unsigned status = response.result_int();
    const QByteArray replyBody = QByteArray::fromStdString(response.body());
    if (status != kHttpOk && status != kHttpNoContent)
        co_return ErrorType::failure(ErrorType::Retryable,
                                     tr("HTTP error %1: %2").arg(QString::number(status), QString::fromUtf8(replyBody)));
    if (replyBody.isEmpty())
        co_return QJsonDocument();

    QJsonParseError parseError;
    QJsonDocument document = QJsonDocument::fromJson(replyBody, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        // Only a GET reads its reply: there a body that is not JSON is a broken exchange, not an
        // empty document. Other replies are not read.
        if (verb == http::verb::get)
            co_return ErrorType::failure(ErrorType::Retryable,
                                         tr("Reply is not JSON: %1").arg(parseError.errorString()));
        document = QJsonDocument();
    }
    co_return document;
}

void Kestra::resolveAddress()
{
    const QString resolving = address();
    qDebug("Kestra resolving address %s", qUtf8Printable(resolving));
    const QStringList pieces = resolving.split(QLatin1Char(':'));
    const QString service = pieces.size() >= 2 ? pieces.at(1) : QLatin1String(kDefaultService);

    auto resolved = m_loop.waitFor(
        http_client::resolve_address(m_http, pieces.constFirst().toStdString(), service.toStdString()));
    if (!resolved.has_value()) {
        qCritical("Kestra address failed to resolve, error %s", resolved.error().message().c_str());
        return;
    }
    QStringList texts;
    for (const auto& entry : resolved.value()) {
        const auto endpoint = entry.endpoint();
        texts << QStringLiteral("%1:%2").arg(QString::fromStdString(endpoint.address().to_string())).arg(endpoint.port());
    }
    qDebug("Kestra address resolved, %zu result(s): %s", std::size_t(resolved.value().size()),
           qUtf8Printable(texts.join(QLatin1String(", "))));
    // The address may have changed while this waited; those endpoints belong to the old one.
    if (address() == resolving)
        m_endpoints = std::move(resolved.value());
}

// ---- Address and requests in flight -------------------------------------------------------------

void Kestra::setAddress(QString newAddress)
{
    if (newAddress == address())
        return;
    cancelPending(); // requests to the old address end at once
    DisplayBase::setAddress(std::move(newAddress));
    m_endpoints = http_client::endpoints();
}

void Kestra::cancelPending()
{
    http_client::cancel_all(m_http);
}

bool Kestra::supportsMeshUniformity() const
{
    return m_fixtureSupportsMesh;
}

// ---- LDM gains ----------------------------------------------------------------------------------

ErrorType Kestra::setLdmRGB(uint, double, double, double, double)
{
    return ErrorType::failure(ErrorType::Fatal, tr("LDM gain transfer is not available yet"));
}

ErrorType Kestra::setLdmRGBs_(QList<Macropixel*>&)
{
    return ErrorType::failure(ErrorType::Fatal, tr("LDM gain transfer is not available yet"));
}

void Kestra::sendAllLdmGains()
{
    QList<Macropixel*> all;
    all.reserve(ldmList().size());
    for (Macropixel& ldm : ldmList())
        all.append(&ldm);
    setLdmRGBs(all);
}

void Kestra::lightSelectedLdms()
{
    DisplayBase::lightSelectedLdms();
    sendAllLdmGains();
}

void Kestra::lightLitLdms(bool on)
{
    DisplayBase::lightLitLdms(on);
    sendAllLdmGains();
}

void Kestra::resetLdms(bool resetRGB, bool resetIntensity)
{
    DisplayBase::resetLdms(resetRGB, resetIntensity);
    sendAllLdmGains();
}

// ---- Mesh upload --------------------------------------------------------------------------------

ErrorType Kestra::setMeshRGBs_(QList<Macropixel*>&, float)
{
    return meshUnavailable();
}

ErrorType Kestra::commitMeshRGBs_(QList<Macropixel*>&)
{
    return meshUnavailable();
}

ErrorType Kestra::resetMesh()
{
    return meshUnavailable();
}

ErrorType Kestra::meshUnavailable()
{
    return ErrorType::failure(ErrorType::Fatal, tr("Mesh upload is not available yet"));
}
