#pragma once

#include "common/ErrorType.h"
#include "display/Macropixel.h"
#include "display/Tile.h"
#include "engine/CalibrationPoint.h"
#include "instruments/OptionList.h"
#include "shell/AdjusterBuilder.h"
#include "shell/AdjusterSet.h"
#include "shell/LogModel.h"
#include "update/UpdaterHost.h"

#include <boost/asio/io_context.hpp>

#include <opencv2/core.hpp>

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>
#include <memory>

class Background;
class Calibrator;
class CameraController;
class CineMeterII;
class Colorimeter;
class CR100;
class DisplayBase;
class ImageSource;
class Kestra;
class Option;
class SimulatedDisplay;
class TileGrader;
class TileGraderRelay;
class Updater;

Q_MOC_INCLUDE("display/DisplayBase.h")
Q_MOC_INCLUDE("display/Kestra.h")
Q_MOC_INCLUDE("engine/Calibrator.h")
Q_MOC_INCLUDE("engine/TileGrader.h")
Q_MOC_INCLUDE("instruments/Colorimeter.h")
Q_MOC_INCLUDE("instruments/ImageSource.h")
Q_MOC_INCLUDE("shell/TileGraderRelay.h")
Q_MOC_INCLUDE("update/Updater.h")

// The central controller that the QML interface reaches as "velotrimmer": it owns every device
// object, persists the operator's settings and runs one activity at a time through the main
// calibrator on its worker thread. It hosts its updater (UpdaterHost): a download holds the
// controller's run and reports on its status line and progress bar.
//
// Threads. The controller, the displays, the colorimeters, the image sources and the updater live
// on the GUI thread. The main calibrator lives on calibratorThread and the background grabber
// (with its tile grader) on backgroundThread; the controller reaches both only through queued
// calls, so every setting it hands them arrives in order before the queued start of a run.
class Velotrimmer : public QObject, private UpdaterHost
{
    Q_OBJECT
    Q_PROPERTY(LogModel* appLog READ appLog CONSTANT)
    Q_PROPERTY(LogModel* linearityLog READ linearityLog CONSTANT)
    Q_PROPERTY(Colorimeter* colorimeter READ colorimeter WRITE setColorimeter NOTIFY colorimeterChanged)
    Q_PROPERTY(DisplayBase* display READ display WRITE setDisplay NOTIFY displayChanged)
    Q_PROPERTY(ImageSource* imageSource READ imageSource WRITE setImageSource NOTIFY imageSourceChanged)
    Q_PROPERTY(Kestra* kestra READ kestra WRITE setKestra NOTIFY kestraChanged)
    Q_PROPERTY(Calibrator* calibrator READ calibrator NOTIFY calibratorChanged)
    Q_PROPERTY(Updater* updater READ updater NOTIFY updaterChanged)
    Q_PROPERTY(TileGrader* tileGrader READ tileGrader NOTIFY tileGraderChanged)
    // The grader as the interface may bind to it, on the GUI thread.
    Q_PROPERTY(TileGraderRelay* graderRelay READ graderRelay CONSTANT)
    Q_PROPERTY(Colorimeter* cineMeterII READ cineMeterII NOTIFY cineMeterIIChanged)
    Q_PROPERTY(uint targetCCT READ targetCCT WRITE setTargetCCT NOTIFY targetCCTChanged)
    Q_PROPERTY(double targetDuv READ targetDuv WRITE setTargetDuv NOTIFY targetDuvChanged)
    Q_PROPERTY(uint readDelay READ readDelay WRITE setReadDelay NOTIFY readDelayChanged)
    Q_PROPERTY(uint readCount READ readCount WRITE setReadCount NOTIFY readCountChanged)
    Q_PROPERTY(uint steps READ steps WRITE setSteps NOTIFY stepsChanged)
    Q_PROPERTY(double gamma READ gamma WRITE setGamma NOTIFY gammaChanged)
    Q_PROPERTY(bool ambientBlack READ ambientBlack WRITE setAmbientBlack NOTIFY ambientBlackChanged)
    Q_PROPERTY(double stepSpacing READ stepSpacing WRITE setStepSpacing NOTIFY stepSpacingChanged)
    Q_PROPERTY(uint brightnessLevel READ brightnessLevel WRITE setBrightnessLevel NOTIFY brightnessLevelChanged)
    Q_PROPERTY(bool useSrgb READ useSrgb WRITE setUseSrgb NOTIFY useSrgbChanged)
    Q_PROPERTY(bool trust1stPoint READ trust1stPoint WRITE setTrust1stPoint NOTIFY trust1stPointChanged)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(QString statusString READ statusString WRITE setStatusString NOTIFY statusStringChanged)
    Q_PROPERTY(int status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(bool showSimulatedDisplay READ showSimulatedDisplay NOTIFY showSimulatedDisplayChanged)
    Q_PROPERTY(QString filename READ filename WRITE setFilename NOTIFY filenameChanged)
    Q_PROPERTY(bool calibrationAvailable READ calibrationAvailable WRITE setCalibrationAvailable NOTIFY calibrationAvailableChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(uint resumeStep READ resumeStep WRITE setResumeStep NOTIFY resumeStepChanged)
    Q_PROPERTY(double errorAllowed READ errorAllowed WRITE setErrorAllowed NOTIFY errorAllowedChanged)
    Q_PROPERTY(Mode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(int selectedLdm READ selectedLdm WRITE setSelectedLdm NOTIFY selectedLdmChanged)
    Q_PROPERTY(double balanceTargetRed READ balanceTargetRed WRITE setBalanceTargetRed NOTIFY balanceTargetRedChanged)
    Q_PROPERTY(double balanceTargetGreen READ balanceTargetGreen WRITE setBalanceTargetGreen NOTIFY balanceTargetGreenChanged)
    Q_PROPERTY(double balanceTargetBlue READ balanceTargetBlue WRITE setBalanceTargetBlue NOTIFY balanceTargetBlueChanged)
    Q_PROPERTY(QString targetTime READ targetTime WRITE setTargetTime NOTIFY targetTimeChanged)
    Q_PROPERTY(double fakeLdmVariation READ fakeLdmVariation WRITE setFakeLdmVariation NOTIFY fakeLdmVariationChanged)
    Q_PROPERTY(int colorimeterType READ colorimeterType WRITE setColorimeterType NOTIFY colorimeterTypeChanged)
    Q_PROPERTY(int cameraType READ cameraType WRITE setCameraType NOTIFY cameraTypeChanged)
    Q_PROPERTY(int outputType READ outputType WRITE setOutputType NOTIFY outputTypeChanged)
    Q_PROPERTY(bool tileGraderProfiling READ tileGraderProfiling WRITE setTileGraderProfiling NOTIFY tileGraderProfilingChanged)
    Q_PROPERTY(QString cameraName READ cameraName WRITE setCameraName NOTIFY cameraNameChanged)
    Q_PROPERTY(QString lensName READ lensName WRITE setLensName NOTIFY lensNameChanged)
    Q_PROPERTY(QString lensFile READ lensFile WRITE setLensFile NOTIFY lensFileChanged)
    Q_PROPERTY(QString lensFileName READ lensFileName NOTIFY lensFileNameChanged)
    Q_PROPERTY(OptionList* lensFileList READ lensFileList NOTIFY lensFileListChanged)
    Q_PROPERTY(OptionList* lensNameList READ lensNameList NOTIFY lensNameListChanged)
    Q_PROPERTY(bool useDebugOptions READ useDebugOptions WRITE setUseDebugOptions NOTIFY useDebugOptionsChanged)
    Q_PROPERTY(double highGainLimit READ highGainLimit WRITE setHighGainLimit NOTIFY highGainLimitChanged)
    Q_PROPERTY(double lowGainLimit READ lowGainLimit WRITE setLowGainLimit NOTIFY lowGainLimitChanged)
    Q_PROPERTY(uint btCompliantIterations READ btCompliantIterations WRITE setBtCompliantIterations NOTIFY btCompliantIterationsChanged)
    Q_PROPERTY(uint btMinIterations READ btMinIterations WRITE setBtMinIterations NOTIFY btMinIterationsChanged)
    Q_PROPERTY(uint btMaxIterations READ btMaxIterations WRITE setBtMaxIterations NOTIFY btMaxIterationsChanged)
    Q_PROPERTY(uint tileMeshWidth READ tileMeshWidth WRITE setTileMeshWidth NOTIFY tileMeshWidthChanged)
    Q_PROPERTY(uint tileMeshHeight READ tileMeshHeight WRITE setTileMeshHeight NOTIFY tileMeshHeightChanged)
    Q_PROPERTY(bool autoControlExposure READ autoControlExposure WRITE setAutoControlExposure NOTIFY autoControlExposureChanged)
    Q_PROPERTY(bool removeReflections READ removeReflections WRITE setRemoveReflections NOTIFY removeReflectionsChanged)
    Q_PROPERTY(bool useLogImages READ useLogImages WRITE setUseLogImages NOTIFY useLogImagesChanged)
    Q_PROPERTY(bool useRawImages READ useRawImages WRITE setUseRawImages NOTIFY useRawImagesChanged)
    Q_PROPERTY(uint linearGainBoost READ linearGainBoost WRITE setLinearGainBoost NOTIFY linearGainBoostChanged)
    Q_PROPERTY(uint rawInterpolation READ rawInterpolation WRITE setRawInterpolation NOTIFY rawInterpolationChanged)
    Q_PROPERTY(uint highlightRecovery READ highlightRecovery WRITE setHighlightRecovery NOTIFY highlightRecoveryChanged)
    Q_PROPERTY(float gainTweak READ gainTweak WRITE setGainTweak NOTIFY gainTweakChanged)
    // Whether the current display answered its last poll (a DisplayAnswer), and the error when not.
    Q_PROPERTY(int displayAnswer READ displayAnswer NOTIFY displayAnswerChanged)
    Q_PROPERTY(QString displayError READ displayError NOTIFY displayAnswerChanged)

public:
    enum Mode : quint32 {
        Linearity = 0, // colorimeter-based correction of the whole display
        Balance = 1,   // camera-based uniformity, one adjuster per adjustable LDM
        Template = 2,  // camera-based uniformity, one adjuster per mesh cell of every adjustable tile
    };
    Q_ENUM(Mode)

    // What the current display (at its current address) made of the last poll.
    enum DisplayAnswer : int {
        DisplayFailed = -1, // no answer, or an unusable one: displayError says why
        DisplayNotAsked = 0,
        DisplayAnswered = 1,
    };
    Q_ENUM(DisplayAnswer)

    // Clamps and limits of the settings.
    static constexpr uint MinTargetCCT = 1667;
    static constexpr uint MaxTargetCCT = 10000;
    static constexpr double MaxAbsTargetDuv = 0.01;
    static constexpr uint MinReadDelayMs = 500;
    static constexpr uint MaxReadDelayMs = 5000;
    static constexpr uint MaxReadCount = 100;
    static constexpr double MinGamma = 1.0;
    static constexpr double MaxGamma = 3.8;
    // The only processor gamma under which an sRGB correction makes sense (processor gamma 1.0).
    static constexpr double SrgbProcessorGamma = 2.4;
    static constexpr int PollIntervalMs = 10000;
    // The wait before a uniformity mode fetches the display's layout.
    static constexpr int FetchLdmsDelayMs = 300;
    static constexpr int WaitSliceMs = 50;
    // Limits of an observed target LDM colour that can serve as the balance target.
    static constexpr int TargetMinRedBlue = 60;
    static constexpr int TargetMinGreen = 160;
    static constexpr int TargetMaxRedBlue = 235;
    static constexpr int TargetMaxGreen = 190;
    static constexpr uint MaxExposureAdjustments = 20;
    // How long the target LDM's exposure steps let the camera settle: before each change, and
    // again after a change the camera made.
    struct ExposureTiming
    {
        int settleMs = 1500;
        int changedSettleMs = 500;
    };
    // Tests shorten the waits.
    void setExposureTiming(const ExposureTiming& timing) { m_exposureTiming = timing; }
    // An observed value's error against a balance target, relative to the target; 0 without one.
    static double relativeError(double observed, double target)
    {
        return target == 0.0 ? 0.0 : (observed - target) / target;
    }

    Velotrimmer(boost::asio::io_context& ioContext, QObject* parent = nullptr);
    ~Velotrimmer() override;

    LogModel* appLog() const { return m_appLog; }
    LogModel* linearityLog() { return &m_linearityLog; }
    Colorimeter* colorimeter() const { return m_colorimeter; }
    DisplayBase* display() const { return m_display; }
    ImageSource* imageSource() const { return m_imageSource; }
    Kestra* kestra() const { return m_kestra; }
    Calibrator* calibrator() const;
    Updater* updater() const { return m_updater; }
    TileGrader* tileGrader() const;
    TileGraderRelay* graderRelay() const { return m_graderRelay; }
    Colorimeter* cineMeterII() const;
    uint targetCCT() const { return m_targetCCT; }
    double targetDuv() const { return m_targetDuv; }
    uint readDelay() const { return m_readDelay; }
    uint readCount() const { return m_readCount; }
    uint steps() const { return m_steps; }
    double gamma() const { return m_gamma; }
    bool ambientBlack() const { return m_ambientBlack; }
    double stepSpacing() const { return m_stepSpacing; }
    uint brightnessLevel() const { return m_brightnessLevel; }
    bool useSrgb();
    bool trust1stPoint() const { return m_trust1stPoint; }
    bool running() const override { return m_running; }
    QString statusString() const { return m_statusString; }
    int status() const { return m_status; }
    bool showSimulatedDisplay() const;
    QString filename() const { return m_filename; }
    bool calibrationAvailable() const { return m_calibrationAvailable; }
    double progress() const { return m_progress; }
    uint resumeStep() const { return m_resumeStep; }
    double errorAllowed() const { return m_errorAllowed; }
    Mode mode() const { return m_mode; }
    int selectedLdm() const { return m_selectedLdm; }
    double balanceTargetRed() const { return m_balanceTargetRed; }
    double balanceTargetGreen() const { return m_balanceTargetGreen; }
    double balanceTargetBlue() const { return m_balanceTargetBlue; }
    QString targetTime() const { return m_targetTime; }
    double fakeLdmVariation() const { return m_fakeLdmVariation; }
    int colorimeterType() const { return m_colorMeter ? 0 : 1; }
    int cameraType() const { return m_camera ? 1 : 0; }
    int outputType() const { return m_output ? 1 : 0; }
    bool tileGraderProfiling() const { return m_tileGraderProfiling; }
    QString cameraName() const { return m_cameraName; }
    QString lensName() const { return m_lensName; }
    QString lensFile() const { return m_lensFile; }
    QString lensFileName() const { return m_lensFileName; }
    OptionList* lensFileList() { return &m_lensFileList; }
    OptionList* lensNameList() { return &m_lensNameList; }
    bool useDebugOptions() const { return m_useDebugOptions; }
    double highGainLimit() const { return m_highGainLimit; }
    double lowGainLimit() const { return m_lowGainLimit; }
    uint btCompliantIterations() const { return m_btCompliantIterations; }
    uint btMinIterations() const { return m_btMinIterations; }
    uint btMaxIterations() const { return m_btMaxIterations; }
    uint tileMeshWidth() const { return m_tileMeshWidth; }
    uint tileMeshHeight() const { return m_tileMeshHeight; }
    bool autoControlExposure() const { return m_autoControlExposure; }
    bool removeReflections() const { return m_removeReflections; }
    bool useLogImages() const { return m_useLogImages; }
    bool useRawImages() const { return m_useRawImages; }
    uint linearGainBoost() const { return m_linearGainBoost; }
    uint rawInterpolation() const { return m_rawInterpolation; }
    uint highlightRecovery() const { return m_highlightRecovery; }
    float gainTweak() const { return m_gainTweak; }
    int displayAnswer() const { return m_displayAnswer; }
    QString displayError() const { return m_displayError; }

    // The devices the controller owns, whichever is current.
    Colorimeter* dummyColorimeter() const { return m_dummyColorimeter; }
    CR100* cr100() const { return m_cr100; }
    SimulatedDisplay* simulatedDisplay() const { return m_simulatedDisplay; }
    ImageSource* dummyCamera() const { return m_dummyCamera; }
    CameraController* cameraController() const { return m_cameraController; }
    Background* background() const;

    // The folder in which result and log files are offered: ends with "/" or is empty.
    QString filepath() const { return m_filepath; }
    // Keeps the folder part of a path (up to and including the last "/") and remembers it.
    void setFilepath(const QString& path);

    // The correction points of the last correction or of the last result file read.
    const QList<CalibrationPoint>& correctionPoints() const { return m_points; }
    const AdjusterSet& adjusterSet() const { return m_adjusterSet; }
    bool pollDisplay() const { return m_pollDisplay; }
    // Stops the periodic poll of the devices; pollDevices still polls when called.
    void stopPeriodicPoll() { m_timer.stop(); }
    bool targetLdmPending() const { return m_targetLdmPending; }

    void setColorimeter(Colorimeter* colorimeter);
    void setDisplay(DisplayBase* display);
    void setImageSource(ImageSource* imageSource);
    void setKestra(Kestra* kestra);
    void setTargetCCT(uint targetCCT);
    void setTargetDuv(double targetDuv);
    void setReadDelay(uint readDelay);
    void setReadCount(uint readCount);
    void setSteps(uint steps);
    void setGamma(double gamma);
    void setAmbientBlack(bool ambientBlack);
    void setStepSpacing(double stepSpacing);
    void setBrightnessLevel(uint brightnessLevel);
    void setUseSrgb(bool useSrgb);
    void setTrust1stPoint(bool trust1stPoint);
    void setRunning(bool running) override;
    void setStatusString(const QString& statusString) override;
    void setStatus(int status);
    void setFilename(const QString& filename);
    void setCalibrationAvailable(bool calibrationAvailable);
    void setProgress(double progress) override;
    void setResumeStep(uint resumeStep);
    void setErrorAllowed(double errorAllowed);
    void setMode(Mode mode);
    void setSelectedLdm(int selectedLdm);
    void setBalanceTargetRed(double balanceTargetRed);
    void setBalanceTargetGreen(double balanceTargetGreen);
    void setBalanceTargetBlue(double balanceTargetBlue);
    void setTargetTime(const QString& targetTime);
    void setFakeLdmVariation(double fakeLdmVariation);
    void setColorimeterType(int colorimeterType);
    void setCameraType(int cameraType);
    void setOutputType(int outputType);
    void setTileGraderProfiling(bool tileGraderProfiling);
    void setCameraName(const QString& cameraName);
    void setLensName(const QString& lensName);
    void setLensFile(const QString& lensFile);
    void setUseDebugOptions(bool useDebugOptions);
    void setHighGainLimit(double highGainLimit);
    void setLowGainLimit(double lowGainLimit);
    void setBtCompliantIterations(uint iterations);
    void setBtMinIterations(uint iterations);
    void setBtMaxIterations(uint iterations);
    void setTileMeshWidth(uint width);
    void setTileMeshHeight(uint height);
    void setAutoControlExposure(bool autoControlExposure);
    void setRemoveReflections(bool removeReflections);
    void setUseLogImages(bool useLogImages);
    void setUseRawImages(bool useRawImages);
    void setLinearGainBoost(uint linearGainBoost);
    void setRawInterpolation(uint rawInterpolation);
    void setHighlightRecovery(uint highlightRecovery);
    void setGainTweak(float gainTweak);

    // The exposure acceptance check of a target LDM (always true unless a target is pending).
    bool acceptTargetLdm(const Macropixel& ldm);

    // The text of elapsedTimeString for a number of whole seconds.
    static QString elapsedTimeText(qint64 seconds);

public slots:
    // Connected to the application's aboutToQuit. Stops the run, cancels pending display work and
    // joins the worker threads, so that nothing runs on the I/O context or on released objects
    // afterwards. Safe to call more than once; the destructor calls it too.
    void aboutToQuit();

    void switchInput();
    void switchOutput();
    void switchCamera();

    void resume();
    void test();
    void takeMeasurement();
    void runNothing() override;
    void stop();
    void chooseTargetLdm(int ldmNumber);
    void chooseTargetTile(int tileNumber);
    void displayLdm(int ldmNumber);
    void displayTile(int tileNumber);
    double ldmRedError(int ldmNumber);
    double ldmGreenError(int ldmNumber);
    double ldmBlueError(int ldmNumber);
    void fetchLdms();
    void fetchedOutputConfig();
    void blankDisplay(bool blank);
    bool usingRawImages() const;
    void appendLinearityLog(QString text);
    void clearLinearityLog();
    void pollDevices();

    void updateStatusString(QString newString);
    void updateProgress();
    // Shows the mesh cells on the wall: a checkerboard of tileMeshWidth x tileMeshHeight cells per
    // adjustable tile, sent to the display as a faint mesh. A failure shows in statusString.
    Q_INVOKABLE void setMeshTestPattern();

    bool setupBalance();
    void calibratorDone(uint number, bool completed);
    QString elapsedTimeString() const;
    QString defaultLogFileName() const;
    // The folder a file dialog starts in: that of the path, else the kept one, as long as it
    // exists; else the documents folder (created when missing), else the home folder. Ends in "/".
    Q_INVOKABLE QString offeredFolder(const QString& path);

    // Each ends with the outcome in statusString and status: 1 when written, -1 with the reason
    // when not. No file is written where a folder is or is offered.
    bool saveCalibration(QUrl url);
    bool readCalibration(QUrl url);
    bool saveLog(QUrl url);

    bool getImageLdmRGBData(bool verbose = false);
    bool getImageTileRGBData(bool verbose = false);
    void grabImageDataDone(bool success, QList<cv::Mat*>* averagesArrayList);
    void getLdmsObserved();
    void getTilesObserved();
    void getLensFiles();

    // The capture-and-processing test of the interface's grab button: one photo of the lit LDMs
    // (Balance mode) or tiles (the other modes), mapped as a run would map it; the result shows
    // in status and statusString.
    void grabImage(bool verbose = true);
    void runMeshRegistration();

signals:
    void colorimeterChanged();
    void displayChanged();
    void imageSourceChanged();
    void kestraChanged();
    void calibratorChanged();
    void updaterChanged();
    void tileGraderChanged();
    void cineMeterIIChanged();
    void targetCCTChanged(uint newTargetCCT);
    void targetDuvChanged();
    void readDelayChanged(uint newReadDelay);
    void readCountChanged();
    void stepsChanged();
    void gammaChanged();
    void ambientBlackChanged();
    void stepSpacingChanged();
    void brightnessLevelChanged();
    void useSrgbChanged();
    void trust1stPointChanged();
    void runningChanged(bool newValue);
    // Starts (true) or stops the calibrator's task and the grabber. A uniformity run announces
    // running to the interface first and starts its workers once its adjusters are built.
    void workersRunningChanged(bool running);
    void statusStringChanged();
    void statusChanged();
    void showSimulatedDisplayChanged();
    void filenameChanged();
    void calibrationAvailableChanged();
    void progressChanged();
    void resumeStepChanged();
    void errorAllowedChanged();
    void modeChanged();
    void selectedLdmChanged();
    void balanceTargetRedChanged();
    void balanceTargetGreenChanged();
    void balanceTargetBlueChanged();
    void targetTimeChanged();
    void fakeLdmVariationChanged();
    void colorimeterTypeChanged();
    void cameraTypeChanged();
    void outputTypeChanged();
    void tileGraderProfilingChanged();
    void cameraNameChanged();
    void lensNameChanged();
    void lensFileChanged(QString lensFile);
    void lensFileNameChanged();
    void lensFileListChanged();
    void lensNameListChanged();
    void useDebugOptionsChanged();
    void highGainLimitChanged();
    void lowGainLimitChanged();
    void btCompliantIterationsChanged();
    void btMinIterationsChanged();
    void btMaxIterationsChanged();
    void tileMeshWidthChanged();
    void tileMeshHeightChanged();
    void autoControlExposureChanged();
    void removeReflectionsChanged();
    void useLogImagesChanged();
    void useRawImagesChanged();
    void linearGainBoostChanged();
    void rawInterpolationChanged();
    void highlightRecoveryChanged();
    void gainTweakChanged();
    void displayAnswerChanged();

    void calibrate();
    void ldmsObserved(QList<Macropixel*> ldms);
    void tilesObserved(QList<Tile*> tiles);
    void ldmArrayDimensions(int width, int height);
    void ldmArrayAspectRatio(float aspectRatio);
    void newLdmArrayImage(QString newImagePath);
    void ldmArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio);
    void grabImageData(bool verbose);
    void showMessageBox(QString title, QString message);
    void finishBalancing();
    void showMacropixelInsetChanged();

    // ---- Lens lists and mesh registration (VelotrimmerLenses.cpp, VelotrimmerRegistration.cpp)
public:
    // How long the mesh registration lets the wall settle: before the capture of the white
    // pattern, before that of the cell grid, and after the pattern is switched off.
    struct RegistrationTiming
    {
        int whitePatternMs = 4000;
        int cellGridMs = 8000;
        int patternOffMs = 2000;
    };
    // Tests shorten the waits.
    void setRegistrationTiming(const RegistrationTiming& timing) { m_registrationTiming = timing; }
    bool tileGraderSectionsWereUpdated() const { return m_tileGraderSectionsUpdated; }
    bool tileGraderAspectRatioWasUpdated() const { return m_tileGraderAspectRatioUpdated; }
    int tileGraderImageProcessedState() const { return m_tileGraderImageProcessed; }

public slots:
    void tileGraderSectionsUpdated();
    void tileGraderAspectRatioUpdated();
    void tileGraderImageProcessed(bool successful);
    void tileGraderAveragesUpdated(cv::Mat averagesArray);
    void runMeshRegistrationPart2(bool success);
    void runMeshRegistrationPart3(bool success);

private:
    // What the grader made of the cell grid's photo.
    enum class CellLocations { NotFound, WrongSize, Stored };
    void connectRegistration(TileGrader& grader);
    void restoreLensFile();
    static Option* findLensOption(const OptionList& list, const QString& type);
    // Waits while the wall settles; false, with the registration ended as cancelled, when
    // running was cleared meanwhile.
    bool settleForRegistration(int registration, int milliseconds);
    // Starts the tile capture of a stage; false, with the registration ended, when it cannot start.
    bool captureForRegistration(std::function<void(bool)> continuation);
    void continueMeshRegistration(int registration, bool fourCorners);
    void finishMeshRegistration(int registration, CellLocations outcome, cv::Size found, cv::Size expected);
    // Ends the registration: pattern off, running cleared, the text and the status.
    void endMeshRegistration(const QString& text, int status);
    void showPattern(qint8 mode, int width = 0, int height = 0);

    // Owns the lens options on show; the lists only point at them.
    std::unique_ptr<QObject> m_lensOptions;
    RegistrationTiming m_registrationTiming;
    // Counts registrations, so that a late answer of an ended one is ignored.
    int m_registration = 0;
    bool m_tileGraderSectionsUpdated = false;
    bool m_tileGraderAspectRatioUpdated = false;
    int m_tileGraderImageProcessed = 0;

private:
    // Which runs a settings change invalidates (resumeStep back to 0).
    enum class ResetRule {
        Linearity,          // in Linearity mode
        LinearitySimulated, // in Linearity mode with the simulated display (the processor has its own targets)
        Balance,            // in Balance mode
        Always,             // in every mode
        Uniformity,         // in Balance and Template modes
    };

    void restoreSettings();
    // Whether the reason a file was not written is still to be logged, or its writer logged it.
    enum class UnsavedLog { Write, Written };
    // A file not written: the reason in the status line, the status red, and in the log once.
    void reportUnsaved(const QString& path, const QString& reason, UnsavedLog log);
    // A stored mode from an older or damaged store falls back to the colorimeter correction.
    static Mode validMode(uint value);
    void connectCalibrator();
    void connectColorimeter(bool connected);
    // Compares the stored field with the value as given, stores the value to keep and persists it.
    template <typename T>
    bool storeSetting(T& field, const T& given, const T& kept, const QString& key);
    void resetResumeStep(ResetRule rule);
    bool uniformityMode() const { return m_mode == Balance || m_mode == Template; }
    // A run is under way, or a stopped one has not yet been reported ended by the calibrator
    // (which still drives the display and still owns the shared task until it does).
    bool busy() const { return m_running || m_awaitingDone; }
    // True, with the reason in the status line (duringRun while running, if not empty), when busy.
    bool refuseWhileBusy(const QString& duringRun);
    // True when a new activity may not start now: the program quits, or busy (said so).
    bool refuseStart();
    // True, with the reason in the status line, when no colorimeter can take readings: a run
    // that needs one is refused before anything is sent to the display.
    bool refuseWithoutColorimeter();
    // Announces the start to the calibrator and the grabber.
    void startCalibrator();
    // The two halves of startCalibrator: the interface learns of the run, the workers start.
    void announceRunning();
    void startWorkers();
    bool kestraIsCurrent() const;
    // The poll's answer, kept when the display it asked is still current at the same address.
    void noteDisplayAnswer(const ErrorType& result, quint64 question);
    // The current display or its address changed: nothing is known of it yet.
    void forgetDisplayAnswer();
    // The camera in use reported its state: an error goes to the status line in the modes that
    // use the camera, and a success replaces what the camera itself said there last.
    void showCameraStatus(const ErrorType& error, const QString& message);
    // The camera in use, just chosen or its mode just come up, says its trouble if it has any.
    void showCameraTrouble();
    // The camera goes: what it wrote in the status line goes with it.
    void withdrawCameraStatus();

    // Runs a call on the main calibrator's thread, after every call queued before it.
    void onCalibrator(std::function<void(Calibrator&)> call);
    void onBackground(std::function<void(Background&)> call);
    void onTileGrader(std::function<void(TileGrader&)> call);
    void setTask(int task);
    // Ends the busy or run state: clears running and tells the calibrator when it was set.
    void endRunning();
    // Sets running without telling anyone (the checks and waits before a start).
    void setRunningSilently(bool running) { m_running = running; }
    // Processes events in slices until the time has passed or running has been cleared.
    void waitWhileRunning(int milliseconds);

    void setupKestra();
    void resetKestra(bool completed);
    void updateKestra_();
    void setupCalibrator();

    void deleteAdjusters();
    // Starts a uniformity run: the adjusters' set-up, then (adjustersBuilt) the calibrator.
    // False, with the run not started, when the set-up is refused.
    bool startUniformity();
    void showSetupProgress(qsizetype built, qsizetype total);
    void adjustersBuilt();
    // A stop while the adjusters are being built: the build ends and nothing of it stays.
    void cancelSetup();
    AdjusterSettings adjusterSettings() const;
    bool buildBalancers();
    bool buildTemplaters();
    void configureBalancers_(Mode mode);
    bool buildCurves_();
    void sendCalibration_();
    void summarizeCorrection();
    void summarizeUniformity();
    // The UTC time as a file name part: ISO 8601 with "-" for ":" (and the "Z" kept).
    static QString fileTimestamp();

    void setLoggableAdjuster(uint number);
    double ldmError(int ldmNumber, double target, double (DisplayBase::*observed)(uint));
    void targetLdmGrabbed(bool success);
    bool adjustExposureClicks();
    void getLdmsObservedPart2(bool ok);
    void getTilesObservedPart2(bool ok);
    // What the last grab described: the array of lit LDMs or of lit tiles.
    enum GrabKind { GrabLdms = 1, GrabTiles = 2 };
    bool describeArrayAndGrab(int width, int height, int subColumns, int subRows, int kind, bool verbose,
                              const char* what);
    // The cells of the lit array for a cell of width x height (both non-zero); none, said so in
    // the log, when the array is empty (no lit LDM, or smaller than one cell).
    struct ArrayGeometry
    {
        int columns = 0;
        int rows = 0;
        float aspect = 0.0f;
    };
    std::optional<ArrayGeometry> arrayGeometry(int width, int height) const;
    void grabImagePart2(bool success);
    // Writes the averages of a finished grab onto the LDMs or the tile cells; false when unusable.
    bool mapAverages(const QList<cv::Mat*>* averages);

    boost::asio::io_context& m_ioContext;
    LogModel* m_appLog = nullptr;
    LogModel m_linearityLog;
    Colorimeter* m_colorimeter = nullptr;
    CineMeterII* m_cineMeterII = nullptr;
    CR100* m_cr100 = nullptr;
    Colorimeter* m_dummyColorimeter = nullptr;
    DisplayBase* m_display = nullptr;
    SimulatedDisplay* m_simulatedDisplay = nullptr;
    Kestra* m_kestra = nullptr;
    ImageSource* m_imageSource = nullptr;
    ImageSource* m_dummyCamera = nullptr;
    CameraController* m_cameraController = nullptr;
    QTimer m_timer;
    QPointer<Background> m_background;
    Updater* m_updater = nullptr;
    TileGraderRelay* m_graderRelay = nullptr;
    QThread m_calibratorThread;
    QThread m_backgroundThread;
    bool m_colorMeter = true;
    bool m_output = false;
    bool m_camera = false;
    QPointer<Calibrator> m_calibrator;
    bool m_pollDisplay = true;
    bool m_pollColorimeter = true;
    bool m_polling = false;
    bool m_shutDown = false;
    // The calibrator was started on a task whose done has not arrived yet.
    bool m_awaitingDone = false;
    int m_task = 0; // the task last selected for the calibrators

    // Snapshot of the processor's display state, taken when a correction starts.
    double m_kestraPercentBrightness = 50.0;
    double m_kestraCct = 3200.0;
    double m_kestraDuv = 0.0;
    QString m_kestraEotfType = QStringLiteral("sdrPreserve");
    double m_kestraGamma = 0.0;

    uint m_targetCCT = 6500;
    double m_targetDuv = 0.0;
    uint m_readDelay = 1500;
    uint m_readCount = 4;
    uint m_steps = 17;
    double m_gamma = 2.4;
    bool m_ambientBlack = false;
    double m_stepSpacing = 2.0;
    uint m_brightnessLevel = 100;
    bool m_useSrgb = true;
    bool m_trust1stPoint = false;
    bool m_running = false;
    QString m_statusString;
    int m_status = 0;
    QString m_filename;
    bool m_calibrationAvailable = false;
    double m_progress = -1.0;
    uint m_resumeStep = 0;
    double m_errorAllowed = 0.3;
    Mode m_mode = Linearity;
    int m_selectedLdm = 0;
    double m_balanceTargetRed = 0.0;
    double m_balanceTargetGreen = 0.0;
    double m_balanceTargetBlue = 0.0;
    QString m_targetTime;
    double m_fakeLdmVariation = 0.0;
    bool m_tileGraderProfiling = false;
    QString m_cameraName;
    QString m_lensName;
    QString m_lensFile;
    QString m_lensFileName;
    OptionList m_lensFileList;
    OptionList m_lensNameList;
    bool m_useDebugOptions = false;
    double m_highGainLimit = 0.5;
    double m_lowGainLimit = 0.25;
    uint m_btCompliantIterations = 20;
    uint m_btMinIterations = 50;
    uint m_btMaxIterations = 400;
    uint m_tileMeshWidth = 20;
    uint m_tileMeshHeight = 20;
    bool m_autoControlExposure = true;
    bool m_removeReflections = false;
    bool m_useLogImages = false;
    bool m_useRawImages = false;
    uint m_linearGainBoost = 2;
    uint m_rawInterpolation = 0;
    uint m_highlightRecovery = 1;
    float m_gainTweak = 1.0f;
    QString m_filepath;
    int m_displayAnswer = DisplayNotAsked;
    QString m_displayError;
    // Counts the changes of the display or its address, so that an answer about an earlier one is dropped.
    quint64 m_displayQuestion = 0;
    // The status line the camera wrote last.
    QString m_cameraStatusShown;

    bool m_targetLdmPending = false;
    uint m_aeCount = 0;
    ExposureTiming m_exposureTiming;
    int m_grabKind = 1;
    // The verbose flag of this controller's last grab request (the grabber's own copy belongs
    // to its thread).
    bool m_lastGrabVerbose = false;
    // Started by the capture-and-processing test; monotonic, so a clock change cannot skew it.
    QElapsedTimer m_grabTestTimer;
    std::function<void(bool)> m_grabContinuation;
    AdjusterSet m_adjusterSet;
    // Builds into m_adjusterSet (and goes first).
    AdjusterBuilder m_adjusterBuilder;
    uint m_configuredAdjusters = 0;
    // The steps handed to the calibrator for the last correction.
    uint m_runSteps = 0;
    QDateTime m_runStartTime;
    QList<CalibrationPoint> m_points;
};
