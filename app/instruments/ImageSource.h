#pragma once

#include "common/ErrorType.h"

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>

// The camera interface the rest of the program sees, and by itself the dummy camera.
//
// The dummy camera never takes a picture: it reports itself connected and ready as
// "Dummy Camera", and isDummy is true, which tells its users to take the LDM colours from the
// display model instead of from a photograph. Real cameras derive from it and override the
// virtual slots.
//
// Threads: the object lives on the GUI thread, where its slots and status timer run. The image
// grabber asks from its own thread whether the camera is ready, busy or failing, which image it
// took last and whether it is the dummy, and may switch verbose logging; those fields are
// therefore guarded by one lock, and their readers and writers may be called from any thread.
// Every other property belongs to the GUI thread. grab() may also be called from the grabber's
// thread; the dummy's touches no property.
class ImageSource : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString statusMessage READ statusMessage WRITE setStatusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(ErrorType errorType READ errorType WRITE setErrorType NOTIFY errorTypeChanged)
    Q_PROPERTY(bool cameraReady READ cameraReady WRITE setCameraReady NOTIFY cameraReadyChanged)
    Q_PROPERTY(bool cameraBusy READ cameraBusy WRITE setCameraBusy NOTIFY cameraBusyChanged)
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath NOTIFY imagePathChanged)
    Q_PROPERTY(QImage liveViewImage READ liveViewImage WRITE setLiveViewImage NOTIFY liveViewImageChanged)
    Q_PROPERTY(QString cameraName READ cameraName WRITE setCameraName NOTIFY cameraNameChanged)
    Q_PROPERTY(bool isDummy READ isDummy NOTIFY isDummyChanged)
    Q_PROPERTY(bool verbose READ verbose WRITE setVerbose NOTIFY verboseChanged)
public:
    static const QString DummyCameraName;
    // An error reported through setCameraStatus is shown only if no success follows this soon.
    static constexpr int StatusDelayMs = 100;

    explicit ImageSource(QObject* parent = nullptr);

    // Readers safe from any thread.
    ErrorType errorType() const;
    bool cameraReady() const;
    bool cameraBusy() const;
    QString imagePath() const;
    bool isDummy() const;
    bool verbose() const;

    // Readers for the GUI thread.
    QString statusMessage() const { return m_statusMessage; }
    QImage liveViewImage() const { return m_liveViewImage; }
    QString cameraName() const { return m_cameraName; }
    double displayRefreshRate() const { return m_displayRefreshRate; }
    int displayColourTemperature() const { return m_displayCct; }

    // Writers store and signal only a real change.
    void setStatusMessage(const QString& message);
    // Records only a change between success and failure: a change from one error to another,
    // or of the message alone, leaves the first error standing.
    void setErrorType(const ErrorType& errorType);
    void setCameraReady(bool ready);
    void setCameraBusy(bool busy);
    void setImagePath(const QString& path);
    void setLiveViewImage(const QImage& image);
    void setCameraName(const QString& name);
    void setVerbose(bool verbose);

public slots:
    virtual void connect();
    virtual void reconnect();
    virtual void grab();
    // Reports the camera's state. An error is held back briefly so that a success right
    // behind it cancels it; a success is applied at once and clears the status message. Either
    // is then announced through statusReported, also when it repeats the last one.
    virtual void setCameraStatus(ErrorType errorType, QString message);
    void timerDone();
    virtual void displayFrequency(double refreshRate);
    virtual void displayCct(int newCct);
    // Changes the exposure by the given steps (positive is brighter); non-zero when it changed.
    virtual int changeExposure(int clicks);
    virtual void saveExposure();
    virtual void useSavedExposure(bool useSaved);
    virtual void autoControlExposure(bool autoControl);
    virtual void useRawImages(bool useRaw);
    virtual void saveLastImage();
    virtual void deleteImageFiles();

signals:
    void statusMessageChanged();
    void cameraChanged();
    void connectCamera();
    void reconnectCamera();
    void captureImage();
    void saveImage();
    void deleteImages();
    void cameraReadyChanged();
    void cameraBusyChanged();
    void imagePathChanged();
    void errorTypeChanged();
    void liveViewImageChanged();
    void cameraNameChanged(QString newName);
    void isDummyChanged();
    void verboseChanged(bool newVerbose);
    // A status the camera reported (see setCameraStatus), when it takes effect.
    void statusReported(ErrorType errorType, QString message);

protected:
    // For a real camera, set once while it is built.
    void setDummy(bool isDummy);
    // Stores the image path under the state lock without announcing it, for a caller on another
    // thread that announces the change on ours; true when it changed.
    bool storeImagePath(const QString& path);

private:
    // The colour temperature assumed until the display reports its own, in kelvin.
    static constexpr int DefaultDisplayCct = 6500;

    // Stores a field guarded by the state lock; true when it changed.
    template <typename T>
    bool storeShared(T& field, const T& value);
    // Reads a field guarded by the state lock.
    template <typename T>
    T loadShared(const T& field) const;

    QString m_statusMessage;
    QImage m_liveViewImage;
    QString m_cameraName;
    QTimer m_statusTimer;
    ErrorType m_pendingError;
    QString m_pendingMessage;
    double m_displayRefreshRate = 0.0;
    int m_displayCct = DefaultDisplayCct;

    // The state lock, and the fields it guards.
    mutable QMutex m_stateMutex;
    bool m_isDummy = true;
    bool m_cameraReady = false;
    bool m_cameraBusy = false;
    bool m_verbose = false;
    QString m_imagePath;
    ErrorType m_errorType;
};
