#pragma once

#include "display/DisplayBase.h"
#include "display/IoEventLoop.h"
#include "display/KestraDisplaySettings.h"
#include "display/http/http_client.h"
#include "display/http/http_client_context.h"
#include "display/http/http_client_expected.h"
#include "display/http/http_client_lanes.h"
#include "common/Scrambler.h"

#include <boost/asio/io_context.hpp>
#include <boost/beast/http/verb.hpp>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The driver of the LED processor: a display that keeps the wall model like every display and
// talks to the processor over HTTP with JSON bodies and Digest authentication.
//
// Every operation that talks to the processor blocks its caller in a local event loop until the
// exchange is over (see IoEventLoop), so other slots, including further setters, may run in the
// middle of it. Display settings are therefore sent one at a time: a send that starts while
// another is in flight waits for it to end and then sends the values current at that moment, so
// the processor never receives an older document after a newer one.
//
// Nothing is retried and nothing is rolled back: a value is stored (and signalled) whether or not
// the processor took it. Every request goes through a few connections kept open to the processor
// (kProcessorLanes), in the order asked for.
class Kestra : public DisplayBase
{
    Q_OBJECT
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY usernameChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(uint cct READ cct WRITE setCct NOTIFY cctChanged)
    Q_PROPERTY(double duv READ duv WRITE setDuv NOTIFY duvChanged)
    Q_PROPERTY(QString eotfType READ eotfType WRITE setEotfType NOTIFY eotfTypeChanged FINAL)
    Q_PROPERTY(double gamma READ gamma WRITE setGamma NOTIFY gammaChanged)
    Q_PROPERTY(double lumaMax READ lumaMax NOTIFY lumaMaxChanged)
    Q_PROPERTY(double percentBrightness READ percentBrightness WRITE setPercentBrightness NOTIFY percentBrightnessChanged)
    Q_PROPERTY(bool testPatternEnabled READ testPatternEnabled WRITE setTestPatternEnabled NOTIFY testPatternEnabledChanged)
    Q_PROPERTY(bool curvesEnabled READ curvesEnabled WRITE setCurvesEnabled NOTIFY curvesEnabledChanged)

public:
    // The key under which the stored password is scrambled. Changing it makes every stored
    // password unreadable.
    static constexpr quint64 kScramblerKey = 0x4d17b2e90c5a3f6;
    // Settings keys of the user name (plain) and the password (scrambled text).
    static constexpr const char* kUserKey = "KestraU";
    static constexpr const char* kPasswordKey = "KestraP";
    static constexpr const char* kDataTarget = "/api/v1/data";
    static constexpr const char* kLayoutTarget = "/api/v1/data?dev.receivers&sys.fixtures";
    // The status members read back, in one request.
    static constexpr const char* kStatusTarget =
        "/api/v1/data?dev.display.brightness&dev.display.cct&dev.display.cctDuv&dev.display.gamma"
        "&dev.display.eotfType&dev.display.lumaMax&dev.display.tileBpc&dev.display.gains&dev.display.out.adjust"
        "&dev.display.out.curves.enabled&dev.ingest.testPattern.enabled&dev.ingest.testPattern.type"
        "&dev.ingest.outputFreq";
    static constexpr const char* kGenerateTarget = "/api/v1/media/generate";
    // The processor reports no peak luminance below this.
    static constexpr double kMinimumLumaMax = 100.0;
    // The connections kept open to the processor; every request waits for one of them. The web
    // servers inside LED processors are small embedded ones: many serve only a handful of
    // connections at once (a lwIP-class stack has five sockets by default) and handle their
    // requests one at a time, so more connections only queue there instead of here, and past
    // the server's limit they are refused. Four keep such a server busy while one answer is on
    // its way, and leave it a connection for its own web page or another client.
    static constexpr std::size_t kProcessorLanes = 4;

    using JsonResult = http_client::expected<QJsonDocument, ErrorType>;

    // How a mesh upload waits for a tile to take its files: it polls the tile's state until the
    // tile has been "busy" and is "idle" again.
    struct TileStateTiming
    {
        std::chrono::milliseconds pollInterval{1000};
        // A tile that reads "idle" this long while the upload waits for "busy" went through its
        // busy phase between two polls.
        std::chrono::milliseconds idleGrace{3000};
        // The longest wait for one state; then the tile's upload fails.
        std::chrono::milliseconds limit{120000};
    };

    explicit Kestra(boost::asio::io_context& ioContext, QObject* parent = nullptr);
    // Cancels the requests still in flight and lets them end before the client state goes.
    ~Kestra() override;

    QString username() const;
    void setUsername(const QString& newUsername);
    QString password() const;
    void setPassword(const QString& newPassword);
    uint cct() const { return m_cct; }
    void setCct(uint newCct);
    double duv() const { return m_duv; }
    void setDuv(double newDuv);
    QString eotfType() const { return m_eotfType; }
    void setEotfType(const QString& newEotfType);
    double gamma() const { return m_gamma; }
    void setGamma(double newGamma);
    double lumaMax() const { return m_lumaMax; }
    double percentBrightness() const { return m_percentBrightness; }
    void setPercentBrightness(double newPercentBrightness);
    bool testPatternEnabled() const { return m_testPatternEnabled; }
    void setTestPatternEnabled(bool newTestPatternEnabled);
    bool curvesEnabled() const { return m_curvesEnabled; }
    void setCurvesEnabled(bool newCurvesEnabled);

    // The mesh upload's waits; tests shorten them.
    void setTileStateTiming(const TileStateTiming& timing) { m_tileStateTiming = timing; }
    // How long connecting, and one exchange from its write to its reply, may take; tests shorten it.
    void setExchangeTimeLimit(std::chrono::milliseconds limit) { m_http.time_limit = limit; }

    // While false, sendDisplaySettings sends nothing and succeeds.
    bool sendingEnabled() const { return m_sendingEnabled; }
    void setSendingEnabled(bool enabled) { m_sendingEnabled = enabled; }

    // Sends the whole set of display settings from the current values (one PATCH).
    ErrorType sendDisplaySettings();

    bool supportsMeshUniformity() const override;
    // Reads the display settings back from the processor into the properties, sending nothing.
    // A member that is missing or of the wrong type leaves its property as it was.
    ErrorType readStatus() override;
    // Rebuilds the wall model from the processor's receivers and fixtures. On failure the
    // previous model stays as it was.
    ErrorType fetchOutputConfig() override;
    // 0: test pattern off; 1: the white test pattern; 2: off, then a generated grid of cells of
    // width x height pixels, each with a centred rectangle a third of its size; other modes do
    // nothing.
    ErrorType showTestPattern(qint8 mode, int width, int height) override;
    ErrorType sendCalibration(const QList<CurvePoint>& curves, double red, double green, double blue) override;
    // Uploads one flat mesh per LDM, from the LDM's own gains, and commits it on every tile.
    Q_INVOKABLE ErrorType resetMesh() override;
    // Ends every request in flight or waiting for a connection (operation_aborted) and closes
    // the connections kept open to the processor.
    void cancelPending() override;

public slots:
    void setAddress(QString newAddress) override;
    ErrorType setRed(double newRed) override;
    ErrorType setGreen(double newGreen) override;
    ErrorType setBlue(double newBlue) override;
    ErrorType setLdmRGB(uint number, double r, double g, double b, double i = 0) override;
    void lightSelectedLdms() override;
    void lightLitLdms(bool on) override;
    void resetLdms(bool resetRGB, bool resetIntensity) override;

signals:
    void usernameChanged();
    void passwordChanged();
    void cctChanged(uint newCct);
    void gammaChanged(double newGamma);
    void lumaMaxChanged(double newLumaMax);
    void percentBrightnessChanged(double newMaxBrightness);
    void testPatternEnabledChanged();
    void curvesEnabledChanged();
    void duvChanged();
    void eotfTypeChanged();

protected:
    // Builds one correction mesh per LDM from the cells (grouped by tile and containing LDM),
    // uploads the files of all tiles at once (their requests sharing the processor's lanes) and
    // waits until every tile has taken them in.
    ErrorType setMeshRGBs_(QList<Macropixel*>& ldms, float scale) override;
    // Asks every tile of the cells, once each and in name order, to save its uploaded meshes.
    ErrorType commitMeshRGBs_(QList<Macropixel*>& ldms) override;
    ErrorType setRGB_(uint number, double red, double green, double blue) override;
    ErrorType setDisplayGainRGB_(double red, double green, double blue) override;
    ErrorType setLdmRGBs_(QList<Macropixel*>& ldms) override;

private:
    // The statuses with which the processor accepts a request.
    static constexpr unsigned kHttpOk = 200;
    static constexpr unsigned kHttpNoContent = 204;
    // Sent on every JSON request, with or without a body.
    static constexpr const char* kJsonContentType = "application/json";

    // Kind 2 "No network address" without an address; else resolves it first (blocking) when it
    // has not been resolved, and succeeds whatever the resolution's outcome (a failed one shows
    // as the request's connection failure).
    ErrorType readyToSend();
    // The host part of an address: the Host field, without the port.
    static std::string hostOf(const QString& address);
    // One exchange with the processor: the body, JSON text (empty for none); the reply of a GET
    // parsed, of any other request not read (a null document). Starts at the call; resolves the
    // address first (blocking) when it has not been resolved.
    QCoro::Task<JsonResult> jsonRequest(std::string body, boost::beast::http::verb verb, const char* target);
    // Resolves the address into the endpoints that every request uses; blocks until done.
    void resolveAddress();
    // jsonRequest, waited for; the reply document is dropped.
    ErrorType send(std::string body, boost::beast::http::verb verb, const char* target);
    QCoro::Task<JsonResult> trackSettingsSend(std::string body);
    KestraDisplaySettings::Values displaySettings() const;
    void setLumaMax(double newLumaMax);
    ErrorType applyStatus(const QJsonObject& reply);
    // Stores a changed setting and sends the display settings; false when unchanged.
    template <class T>
    bool storeAndSend(T& stored, const T& value, bool unchanged);
    static bool refusedNonFinite(const char* setter, double value);
    static ErrorType nonFiniteRefusal();
    // The state of one mesh upload, shared by its coroutines (KestraMesh.cpp).
    struct MeshUpload;
    using UploadResult = std::optional<QString>; // an error text, or nothing on success
    // Files the meshes of the cells into the upload; an error when a mesh cannot be written or
    // no cell lies in a known tile and LDM. Works a few milliseconds at a time, handing the thread
    // back to the wait in between: a wall's worth of cells takes tens of milliseconds.
    QCoro::Task<ErrorType> buildMeshFiles(const QList<Macropixel*>& cells, float factor, MeshUpload& upload);
    static QCoro::Task<UploadResult> uploadAllTiles(MeshUpload& upload);
    static QCoro::Task<UploadResult> UploadLdms(MeshUpload& upload, std::string tile);
    static QCoro::Task<UploadResult> waitForTileState(MeshUpload& upload, std::string tile, std::string wanted);
    // Asks each tile, in this order, to save its uploaded meshes; stops at the first failure.
    QCoro::Task<ErrorType> commitTiles(std::vector<QString> names);
    // Hands every LDM's gains to setLdmRGBs, after a lighting change.
    void sendAllLdmGains();

    bool m_sendingEnabled = true;
    bool m_settingsSendInFlight = false;
    http_client::cancel_set m_registrations;
    http_client::context m_http;
    http_client::lane_pool m_lanes;
    http_client::endpoints m_endpoints;
    IoEventLoop m_loop;
    std::string m_host; // of the address
    KestraDisplaySettings m_settingsBody;
    Scrambler m_scrambler{kScramblerKey};
    quint32 m_cct = 6500;
    double m_duv = 0.0;
    QString m_eotfType = QStringLiteral("sdrPreserve");
    double m_gamma = 2.4;
    double m_lumaMax = 10000.0;
    double m_percentBrightness = 10.0;
    bool m_testPatternEnabled = false;
    bool m_curvesEnabled = false;
    bool m_fixtureSupportsMesh = false;
    TileStateTiming m_tileStateTiming;
};
