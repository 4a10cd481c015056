#include "display/Kestra.h"

#include "common/SameValue.h"
#include "display/KestraGainsDocument.h"
#include "display/KestraLayout.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSettings>
#include <QStringList>
#include <QtNumeric>

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace {

namespace http = boost::beast::http;

constexpr const char* kDeviceName = "KESTRA";
constexpr const char* kDefaultService = "80";
// The shortest value the scrambler can have written: version, flags and the random byte.
constexpr qsizetype kShortestScrambledValue = 3;

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

QJsonValue at(const QJsonObject& object, std::initializer_list<const char*> path)
{
    QJsonValue value = object;
    for (const char* key : path)
        value = value.toObject().value(QLatin1String(key));
    return value;
}

// Status members: a member that is missing, null or of another type gives nothing, so that its
// property keeps its value instead of turning into zero.
void noteWrongType(const char* member, const QJsonValue& value)
{
    if (!value.isUndefined())
        qDebug("KESTRA: status member %s is not of the expected type; left unchanged", member);
}

std::optional<double> numberAt(const QJsonObject& object, const char* member)
{
    const QJsonValue value = object.value(QLatin1String(member));
    if (value.isDouble())
        return value.toDouble();
    noteWrongType(member, value);
    return std::nullopt;
}

std::optional<uint> cctAt(const QJsonObject& object)
{
    const std::optional<double> value = numberAt(object, "cct");
    if (!value)
        return std::nullopt;
    const double rounded = std::round(*value);
    if (rounded < 0.0 || rounded > double(std::numeric_limits<uint>::max())) {
        qDebug("KESTRA: status member cct %f is out of range; left unchanged", *value);
        return std::nullopt;
    }
    return uint(rounded);
}

std::optional<QString> stringAt(const QJsonObject& object, const char* member)
{
    const QJsonValue value = object.value(QLatin1String(member));
    if (value.isString())
        return value.toString();
    noteWrongType(member, value);
    return std::nullopt;
}

std::optional<bool> boolAt(const QJsonObject& object, const char* member)
{
    const QJsonValue value = object.value(QLatin1String(member));
    if (value.isBool())
        return value.toBool();
    noteWrongType(member, value);
    return std::nullopt;
}

// "r", "g" and "b" of a status group, only when all three are numbers.
std::optional<std::array<double, 3>> rgbAt(const QJsonObject& group)
{
    const auto r = numberAt(group, "r");
    const auto g = numberAt(group, "g");
    const auto b = numberAt(group, "b");
    if (!r || !g || !b)
        return std::nullopt;
    return std::array<double, 3>{*r, *g, *b};
}

bool gainsFinite(const Macropixel& ldm)
{
    return allFinite({ldm.redGain, ldm.greenGain, ldm.blueGain, ldm.intensityGain});
}

// The documents sent seldom (test patterns, the generator, a calibration) are built as Qt's JSON
// objects and written here; the display settings and the LDM gains, sent all through a run, are
// written directly, as the same bytes (KestraDisplaySettings, KestraGainsDocument).
std::string compactText(const QJsonDocument& document)
{
    return document.toJson(QJsonDocument::Compact).toStdString();
}

QJsonDocument testPatternDocument(const QJsonObject& testPattern)
{
    return QJsonDocument(QJsonObject{
        {QStringLiteral("dev"),
         QJsonObject{{QStringLiteral("ingest"), QJsonObject{{QStringLiteral("testPattern"), testPattern}}}}}});
}

// A grid of cells of width x height pixels, each with a white rectangle a third of the cell's
// size in its centre.
QJsonDocument generatorDocument(int width, int height)
{
    const auto rounded = [](double value) { return qint64(std::llround(value)); };
    const double rectWidth = width / 3.0;
    const double rectHeight = height / 3.0;
    const QJsonObject rect{
        {QStringLiteral("type"), QStringLiteral("rect")},
        {QStringLiteral("position"),
         QJsonArray{rounded((width - rectWidth) * 0.5), rounded((height - rectHeight) * 0.5)}},
        {QStringLiteral("size"), QJsonArray{rounded(rectWidth), rounded(rectHeight)}},
        {QStringLiteral("color"), QJsonArray{1, 1, 1}},
    };
    const QJsonObject repeat{
        {QStringLiteral("type"), QStringLiteral("repeat")},
        {QStringLiteral("step"), QJsonArray{width, height}},
        {QStringLiteral("draw"), QJsonArray{rect}},
    };
    return QJsonDocument(QJsonObject{
        {QStringLiteral("$schema"), QStringLiteral("./kestra-generate-v1.json")},
        {QStringLiteral("draw"), QJsonArray{repeat}},
    });
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
    , m_lanes(m_http, kProcessorLanes)
    , m_loop(ioContext, [this] { http_client::cancel_all(m_http); })
    , m_host(hostOf(address()))
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

KestraDisplaySettings::Values Kestra::displaySettings() const
{
    KestraDisplaySettings::Values values;
    values.brightness = m_percentBrightness;
    values.cct = m_cct;
    values.gainRed = displayGainRed();
    values.gainGreen = displayGainGreen();
    values.gainBlue = displayGainBlue();
    values.gamma = m_gamma;
    values.red = red();
    values.green = green();
    values.blue = blue();
    values.curvesEnabled = m_curvesEnabled;
    values.testPatternEnabled = m_testPatternEnabled;
    return values;
}

ErrorType Kestra::sendDisplaySettings()
{
    if (!m_sendingEnabled)
        return {};
    // One send at a time, in order: a send that started earlier (further down this thread's
    // stack, waiting for its reply) ends first; the document is built afterwards, from the
    // values current then.
    m_loop.runUntil([this] { return !m_settingsSendInFlight; });
    return toErrorType(m_loop.waitFor(trackSettingsSend(m_settingsBody.body(displaySettings()))));
}

QCoro::Task<Kestra::JsonResult> Kestra::trackSettingsSend(std::string body)
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
        result = send(compactText(document), http::verb::patch, kDataTarget);
    }
    if (!result.ok())
        qDebug("sendCalibration: error %s", qUtf8Printable(result.message));
    return result;
}

ErrorType Kestra::send(std::string body, http::verb verb, const char* target)
{
    return toErrorType(m_loop.waitFor(jsonRequest(std::move(body), verb, target)));
}

ErrorType Kestra::readyToSend()
{
    if (address().isEmpty())
        return ErrorType::failure(ErrorType::Fatal, tr("No network address"));
    if (m_endpoints.empty())
        resolveAddress(); // on failure the client reports the connection failure
    return {};
}

std::string Kestra::hostOf(const QString& address)
{
    // The Host field carries the host alone, never the port.
    return address.split(QLatin1Char(':')).constFirst().toStdString();
}

QCoro::Task<Kestra::JsonResult> Kestra::jsonRequest(std::string body, http::verb verb, const char* target)
{
    if (const ErrorType unready = readyToSend(); !unready.ok())
        co_return unready;

    const std::uint64_t length = body.size();
    auto reply = co_await m_lanes.digest_request(m_endpoints, m_host, verb, std::string(target), kJsonContentType,
                                                 length, std::move(body));
    if (!reply.has_value())
        co_return ErrorType::failure(ErrorType::Retryable, QString::fromStdString(reply.error().message()));

    const auto& response = reply.value();
    const unsigned status = response.result_int();
    const QByteArray replyBody = QByteArray::fromStdString(response.body());
    if (status != kHttpOk && status != kHttpNoContent)
        co_return ErrorType::failure(
            ErrorType::Retryable, tr("HTTP error %1: %2").arg(QString::number(status), QString::fromUtf8(replyBody)));
    // Only a GET reads its reply; the others' replies are not even parsed.
    if (replyBody.isEmpty() || verb != http::verb::get)
        co_return QJsonDocument();

    QJsonParseError parseError;
    QJsonDocument document = QJsonDocument::fromJson(replyBody, &parseError);
    // There a body that is not JSON is a broken exchange, not an empty document.
    if (parseError.error != QJsonParseError::NoError)
        co_return ErrorType::failure(ErrorType::Retryable, tr("Reply is not JSON: %1").arg(parseError.errorString()));
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
        texts << QStringLiteral("%1:%2")
                     .arg(QString::fromStdString(endpoint.address().to_string()))
                     .arg(endpoint.port());
    }
    qDebug("Kestra address resolved, %zu result(s): %s", std::size_t(resolved.value().size()),
           qUtf8Printable(texts.join(QLatin1String(", "))));
    // The address may have changed while this waited; those endpoints belong to the old one.
    if (address() == resolving)
        m_endpoints = std::move(resolved.value());
}

// ---- Layout, status and test patterns ----------------------------------------------------------

ErrorType Kestra::fetchOutputConfig()
{
    // The model is rebuilt only from a reply that could be read: until then, and after any
    // failure, the previous wall stays whole.
    auto reply = m_loop.waitFor(jsonRequest({}, http::verb::get, kLayoutTarget));
    if (!reply.has_value())
        return reply.error();
    const KestraLayout layout = KestraLayout::read(reply.value());
    if (!layout.error.ok())
        return layout.error;

    const bool supportedMesh = supportsMeshUniformity();
    clearOutputConfig();
    for (const Tile& tile : layout.tiles)
        addTile(tile);
    for (const Macropixel& ldm : layout.ldms)
        addLdm(ldm);
    m_fixtureSupportsMesh = layout.supportsMesh;
    if (supportsMeshUniformity() != supportedMesh)
        emit supportsMeshUniformityChanged();
    finishOutputConfig();
    return {};
}

ErrorType Kestra::readStatus()
{
    auto reply = m_loop.waitFor(jsonRequest({}, http::verb::get, kStatusTarget));
    if (!reply.has_value())
        return reply.error();
    // The setters store and signal the processor's values; nothing goes back to it.
    m_sendingEnabled = false;
    const ErrorType result = applyStatus(reply.value().object());
    m_sendingEnabled = true;
    return result;
}

ErrorType Kestra::applyStatus(const QJsonObject& reply)
{
    const QJsonObject display = at(reply, {"dev", "display"}).toObject();
    const QJsonObject ingest = at(reply, {"dev", "ingest"}).toObject();
    const bool curvesOn = at(display, {"out", "curves", "enabled"}).toBool();
    ErrorType result;

    if (const auto brightness = numberAt(display, "brightness"))
        setPercentBrightness(*brightness);
    if (const auto cct = cctAt(display))
        setCct(*cct);
    if (const auto duv = numberAt(display, "cctDuv"))
        setDuv(*duv);
    if (const auto eotfType = stringAt(display, "eotfType"))
        setEotfType(*eotfType);
    if (const auto gamma = numberAt(display, "gamma"))
        setGamma(*gamma);
    if (const auto lumaMax = numberAt(display, "lumaMax"))
        setLumaMax(std::max(kMinimumLumaMax, *lumaMax));

    // The base forms: they store and signal without sending.
    if (const auto gain = rgbAt(at(display, {"out", "adjust", "gain"}).toObject())) {
        DisplayBase::setRGB_(0, (*gain)[0], (*gain)[1], (*gain)[2]);
    } else if (!curvesOn) {
        qDebug("KESTRA: r,g,b data not found.");
        result = ErrorType::failure(ErrorType::Fatal, tr("RGB data not found in KESTRA status"));
    }
    if (const auto gains = rgbAt(display.value(QLatin1String("gains")).toObject())) {
        DisplayBase::setDisplayGainRGB_((*gains)[0], (*gains)[1], (*gains)[2]);
    } else if (!curvesOn) {
        qDebug("KESTRA: display.gains r,g,b data not found.");
        result = ErrorType::failure(ErrorType::Fatal, tr("display.gains RGB data not found in KESTRA status"));
    }

    if (const auto testPattern = boolAt(ingest.value(QLatin1String("testPattern")).toObject(), "enabled"))
        setTestPatternEnabled(*testPattern);
    if (const auto outputFreq = numberAt(ingest, "outputFreq"))
        setOutputFrequency(*outputFreq);
    return result;
}

void Kestra::setLumaMax(double newLumaMax)
{
    if (storeAndSend(m_lumaMax, newLumaMax, sameValue(m_lumaMax, newLumaMax)))
        emit lumaMaxChanged(newLumaMax);
}

ErrorType Kestra::showTestPattern(qint8 mode, int width, int height)
{
    const QString enabled = QStringLiteral("enabled");
    const QString mediaEnabled = QStringLiteral("mediaEnabled");
    switch (mode) {
    case 0:
        return send(compactText(testPatternDocument({{enabled, false}, {mediaEnabled, false}})), http::verb::patch,
                    kDataTarget);
    case 1:
        return send(compactText(testPatternDocument({{enabled, true},
                                                     {mediaEnabled, false},
                                                     {QStringLiteral("type"), QStringLiteral("white")}})),
                    http::verb::patch, kDataTarget);
    case 2: {
        const ErrorType off =
            send(compactText(testPatternDocument({{enabled, false}})), http::verb::patch, kDataTarget);
        if (!off.ok())
            return off;
        return send(compactText(generatorDocument(width, height)), http::verb::post, kGenerateTarget);
    }
    default:
        return {};
    }
}

// ---- Address and requests in flight -------------------------------------------------------------

void Kestra::setAddress(QString newAddress)
{
    if (newAddress == address())
        return;
    cancelPending(); // requests to the old address end at once
    DisplayBase::setAddress(std::move(newAddress));
    m_endpoints = http_client::endpoints();
    m_host = hostOf(address());
}

void Kestra::cancelPending()
{
    http_client::cancel_all(m_http);
    m_lanes.close_connections();
}

bool Kestra::supportsMeshUniformity() const
{
    return m_fixtureSupportsMesh;
}

// ---- LDM gains ----------------------------------------------------------------------------------

ErrorType Kestra::setLdmRGB(uint number, double r, double g, double b, double i)
{
    if (number == 0 || number > uint(ldmList().size()))
        return ErrorType::failure(ErrorType::Fatal);
    if (!allFinite({r, g, b, i}))
        return nonFiniteRefusal();
    Macropixel& ldm = ldmList()[number - 1];
    ldm.redGain = r;
    ldm.greenGain = g;
    ldm.blueGain = b;
    ldm.intensityGain = i;
    KestraGainsDocument gains;
    gains.add(ldm);

    // The record keeps the new gains whether or not the processor takes them.
    const ErrorType result = send(gains.text(), http::verb::patch, kDataTarget);
    if (result.ok())
        emit ldmDataChanged();
    return result;
}

ErrorType Kestra::setLdmRGBs_(QList<Macropixel*>& ldms)
{
    const auto taken = [this](const Macropixel* given) {
        return given && given->number >= 1 && given->number <= uint(ldmList().size());
    };
    // Nothing is stored or sent when any gain is not a number the processor can take.
    const auto refused = [&](const Macropixel* given) { return taken(given) && !gainsFinite(*given); };
    if (std::any_of(ldms.cbegin(), ldms.cend(), refused))
        return nonFiniteRefusal();

    KestraGainsDocument gains;
    gains.reserve(ldms.size());
    for (const Macropixel* given : std::as_const(ldms)) {
        if (!taken(given))
            continue;
        Macropixel& own = ldmList()[given->number - 1];
        own.redGain = given->redGain;
        own.greenGain = given->greenGain;
        own.blueGain = given->blueGain;
        own.intensityGain = given->intensityGain;
        gains.add(own);
    }

    const ErrorType result = send(gains.text(), http::verb::patch, kDataTarget);
    if (result.ok())
        emit ldmDataChanged();
    return result;
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
