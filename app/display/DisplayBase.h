#pragma once

#include "display/CurvePoint.h"
#include "display/DisplayCallGate.h"
#include "common/ErrorType.h"
#include "display/Macropixel.h"
#include "display/Tile.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

// The abstract output device: owns the wall model (the LDM and tile lists), exposes it and the
// current test colour to QML, and declares the device operations that drivers override.
//
// Threads. A display lives on one thread (the GUI thread in the program); QML, the controller and
// the drivers use it there. The calibration engine calls setRGB, setDisplayGainRGB, setLdmRGBs,
// setMeshRGBs and commitMeshRGBs from its worker thread: these five entry points are not virtual;
// they hand the call to the display's thread, wait for it and return its result (see
// DisplayCallGate), and the device behaviour lives in the protected virtual hooks of the same name
// with a trailing underscore, which drivers override. Called on the display's thread they run
// directly, so drivers may call them from their own operations.
//
// Shutdown rule: the display's thread must not wait for a thread that may be inside one of those
// five calls unless it has called closeToOtherThreads() first; otherwise both wait for each other.
// The display closes itself when the application's event loop ends (aboutToQuit, after which no
// queued call could run anyway) and when it is destroyed. A closed display refuses calls from other
// threads with a kind-2 result ("The display is shutting down"); calls on its own thread still run.
//
// Lookups. Records are looked up by 1-based number (valid from 1 to the length of the list) or by
// their 1-based position among the lit or adjustable records. References and pointers handed out
// point into the lists and stay valid until the wall model is rebuilt. An invalid number yields a
// fresh default record (number 0) that belongs to the calling thread and is reset on each such
// lookup, so a write through it never reaches the wall model or another caller.
//
// An LDM takes part in a correction when it is both adjustable and lit: adjustableLdmCount and
// adjustableLdm(index) both count exactly those.
class DisplayBase : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
    Q_PROPERTY(double red READ red WRITE setRed NOTIFY redChanged)
    Q_PROPERTY(double green READ green WRITE setGreen NOTIFY greenChanged)
    Q_PROPERTY(double blue READ blue WRITE setBlue NOTIFY blueChanged)
    Q_PROPERTY(uint maximum READ maximum WRITE setMaximum NOTIFY maximumChanged)
    Q_PROPERTY(double displayGainRed READ displayGainRed NOTIFY displayGainRedChanged)
    Q_PROPERTY(double displayGainGreen READ displayGainGreen NOTIFY displayGainGreenChanged)
    Q_PROPERTY(double displayGainBlue READ displayGainBlue NOTIFY displayGainBlueChanged)
    Q_PROPERTY(bool cycling READ cycling WRITE setCycling NOTIFY cyclingChanged)
    Q_PROPERTY(QString colorStr READ colorStr NOTIFY colorStrChanged)
    // The readout follows the colour, which changes with colorStrChanged.
    Q_PROPERTY(QString colorReadout READ colorReadout NOTIFY colorStrChanged)
    Q_PROPERTY(bool supportsMeshUniformity READ supportsMeshUniformity NOTIFY supportsMeshUniformityChanged)
    Q_PROPERTY(uint ldmCount READ ldmCount NOTIFY ldmCountChanged)
    Q_PROPERTY(uint litLdmCount READ litLdmCount NOTIFY litLdmCountChanged)
    Q_PROPERTY(uint adjustableLdmCount READ adjustableLdmCount NOTIFY adjustableLdmCountChanged)
    Q_PROPERTY(int ldmData READ ldmData WRITE setLdmData NOTIFY ldmDataChanged)
    Q_PROPERTY(uint tileCount READ tileCount NOTIFY tileCountChanged)
    Q_PROPERTY(uint litTileCount READ litTileCount NOTIFY litTileCountChanged)
    Q_PROPERTY(uint adjustableTileCount READ adjustableTileCount NOTIFY adjustableTileCountChanged)
    Q_PROPERTY(int tileData READ tileData WRITE setTileData NOTIFY tileDataChanged)
    Q_PROPERTY(int maxX READ maxX NOTIFY maxXChanged)
    Q_PROPERTY(int minX READ minX NOTIFY minXChanged)
    Q_PROPERTY(int maxY READ maxY NOTIFY maxYChanged)
    Q_PROPERTY(int minY READ minY NOTIFY minYChanged)
    Q_PROPERTY(int maxLitLdmX READ maxLitLdmX NOTIFY maxLitLdmXChanged)
    Q_PROPERTY(int minLitLdmX READ minLitLdmX NOTIFY minLitLdmXChanged)
    Q_PROPERTY(int maxLitLdmY READ maxLitLdmY NOTIFY maxLitLdmYChanged)
    Q_PROPERTY(int minLitLdmY READ minLitLdmY NOTIFY minLitLdmYChanged)
    Q_PROPERTY(int refresh READ refresh NOTIFY refreshChanged)
    Q_PROPERTY(int needFakeLdmRGBs READ needFakeLdmRGBs NOTIFY needFakeLdmRGBsChanged)
    Q_PROPERTY(bool isKestra READ isKestra NOTIFY isKestraChanged)
    Q_PROPERTY(double outputFrequency READ outputFrequency WRITE setOutputFrequency NOTIFY outputFrequencyChanged)

public:
    // Settings: the address under name + addressKeySuffix; the lit-tiles rectangle under
    // litTilesKeyPrefix + address.
    static constexpr const char* addressKeySuffix = "/address";
    static constexpr const char* litTilesKeyPrefix = "litTiles";

    explicit DisplayBase(const QString& name, QObject* parent = nullptr);
    ~DisplayBase() override;

    // Device operations (drivers override these).
    virtual ErrorType setRed(double newRed);
    virtual ErrorType setGreen(double newGreen);
    virtual ErrorType setBlue(double newBlue);
    virtual void setAddress(QString newAddress);
    virtual bool supportsMeshUniformity() const;
    virtual uint ldmCount() const;
    virtual uint tileCount() const;
    virtual ErrorType readStatus();
    virtual ErrorType sendCalibration(const QList<CurvePoint>& curves, double red, double green, double blue);
    virtual ErrorType fetchOutputConfig();
    virtual ErrorType showTestPattern(qint8 mode, int width, int height);

    // Safe from any thread (see the class comment); the work is done by the hooks below.
    ErrorType setMeshRGBs(QList<Macropixel*>& ldms, float scale);
    ErrorType commitMeshRGBs(QList<Macropixel*>& ldms);

    Q_INVOKABLE virtual ErrorType resetMesh() = 0;
    // Ends every device operation in flight; called by the controller when the application quits.
    virtual void cancelPending() = 0;

    // From now on, refuse calls from other threads and release those still waiting for their turn.
    // Thread-safe.
    void closeToOtherThreads();

    QString name() const { return m_name; }
    void setName(const QString& newName);
    QString address() const { return m_address; }
    double red() const { return m_red; }
    double green() const { return m_green; }
    double blue() const { return m_blue; }
    uint maximum() const;
    void setMaximum(uint newMaximum);
    double displayGainRed() const { return m_displayGainRed; }
    double displayGainGreen() const { return m_displayGainGreen; }
    double displayGainBlue() const { return m_displayGainBlue; }
    bool cycling() const { return m_cycling; }
    void setCycling(bool newCycling);
    QString colorStr();
    QString colorReadout();
    uint litLdmCount() const { return m_litLdmCount; }
    uint adjustableLdmCount() const { return m_adjustableLdmCount; }
    int ldmData();
    void setLdmData(int ignored);
    uint litTileCount() const { return m_litTileCount; }
    uint adjustableTileCount() const { return m_adjustableTileCount; }
    int tileData();
    void setTileData(int ignored);
    int maxX() const { return m_maxX; }
    int minX() const { return m_minX; }
    int maxY() const { return m_maxY; }
    int minY() const { return m_minY; }
    int maxLitLdmX() const { return m_maxLitLdmX; }
    int minLitLdmX() const { return m_minLitLdmX; }
    int maxLitLdmY() const { return m_maxLitLdmY; }
    int minLitLdmY() const { return m_minLitLdmY; }
    int refresh();
    int needFakeLdmRGBs();
    bool isKestra() const { return m_isKestra; }
    double outputFrequency() const { return m_outputFrequency; }
    void setOutputFrequency(double newOutputFrequency);

    // The whole wall model in one read, for a view that shows every record (on the display's
    // thread only): record number n is element n - 1. Valid until the model is next changed; a
    // caller keeps no copy, so the display's next write does not have to detach the list.
    const QList<Macropixel>& allLdms() const { return m_ldms; }
    const QList<Tile>& allTiles() const { return m_tiles; }

public slots:
    // Safe from any thread (see the class comment).
    ErrorType setRGB(uint number, double red, double green, double blue);
    ErrorType setDisplayGainRGB(double red, double green, double blue);

    virtual Macropixel& ldm(uint number);
    virtual Macropixel& litLdm(uint index);
    virtual Macropixel& adjustableLdm(uint index);
    virtual int ldmX(uint number);
    virtual int ldmY(uint number);
    virtual int ldmWidth(uint number);
    virtual int ldmHeight(uint number);
    virtual Tile& tile(uint number);
    virtual Tile& litTile(uint index);
    virtual Tile& adjustableTile(uint index);
    virtual int tileX(uint number);
    virtual int tileY(uint number);
    virtual int tileWidth(uint number);
    virtual int tileHeight(uint number);
    virtual double ldmRedGain(uint number);
    virtual double ldmGreenGain(uint number);
    virtual double ldmBlueGain(uint number);
    virtual double ldmIntensityGain(uint number);
    virtual bool ldmIsLit(uint number);
    virtual bool ldmAdjustable(uint number);
    virtual bool tileLit(uint number);
    virtual bool tileAdjustable(uint number);
    virtual ErrorType setLdmRGB(uint number, double r, double g, double b, double i = 0);
    virtual void setLdmRGBObserved(uint number, double r, double g, double b);
    // Safe from any thread (see the class comment).
    ErrorType setLdmRGBs(QList<Macropixel*>& ldms);
    virtual void getLdmObservedRGBs(QList<Macropixel*>& ldms);
    virtual void lightSelectedLdms();
    virtual void lightLitLdms(bool on);
    virtual void resetLdms(bool resetRGB, bool resetIntensity);
    virtual void lightSelectedTiles();

    QString dumpLdm(uint number);
    void dumpLdms();
    QString dumpTile(uint number);
    void dumpTiles();
    const Macropixel* findLdm(uint tileNumber, int x, int y);
    double ldmRedObserved(uint number);
    double ldmGreenObserved(uint number);
    double ldmBlueObserved(uint number);
    void selectAllLdms();
    void selectLdms(QPoint start, QPoint end);
    void adjustSelectedLdms(int selectionMode = 0);
    void setLitExtents();
    void selectAllTiles();
    void selectTiles(QPoint start, QPoint end);
    void adjustSelectedTiles(int selectionMode = 0);
    void recallLitTiles();

signals:
    void nameChanged();
    void redChanged();
    void greenChanged();
    void blueChanged();
    void maximumChanged();
    void colorStrChanged();
    void colorReadoutChanged();
    void cyclingChanged();
    void addressChanged();
    void supportsMeshUniformityChanged();
    void fetchedOutputConfig();
    void ldmCountChanged();
    void litLdmCountChanged();
    void adjustableLdmCountChanged();
    void ldmDataChanged();
    void tileCountChanged();
    void litTileCountChanged();
    void adjustableTileCountChanged();
    void tileDataChanged();
    void refreshChanged();
    void needFakeLdmRGBsChanged();
    void displayGainRedChanged();
    void displayGainGreenChanged();
    void displayGainBlueChanged();
    void isKestraChanged();
    void maxXChanged();
    void minXChanged();
    void maxYChanged();
    void minYChanged();
    void maxLitLdmXChanged();
    void minLitLdmXChanged();
    void maxLitLdmYChanged();
    void minLitLdmYChanged();
    void outputFrequencyChanged(double newOutputFrequency);

protected:
    // The device behaviour of the thread-safe entry points; always run on the display's thread.
    virtual ErrorType setMeshRGBs_(QList<Macropixel*>& ldms, float scale);
    virtual ErrorType commitMeshRGBs_(QList<Macropixel*>& ldms);
    virtual ErrorType setRGB_(uint number, double red, double green, double blue);
    virtual ErrorType setDisplayGainRGB_(double red, double green, double blue);
    virtual ErrorType setLdmRGBs_(QList<Macropixel*>& ldms);

    // Building a wall model: clear, add the records, then finish.
    void clearOutputConfig();
    void addLdm(Macropixel ldm);
    void addTile(Tile tile);
    void finishOutputConfig();
    void saveLitTiles();

    QList<Macropixel>& ldmList() { return m_ldms; }
    QList<Tile>& tileList() { return m_tiles; }

    // True for a display that is its own device (the simulated display): a rebuild of the same
    // wall keeps the gains set on its LDMs, as a processor keeps the gains it holds and reports
    // them back. A driver's rebuild takes the gains the device reports.
    virtual bool holdsItsOwnGains() const { return false; }

    // Store without comparing and without signals; the caller emits what it needs.
    void storeColor(double red, double green, double blue);
    void storeDisplayGains(double red, double green, double blue);
    void setIsKestra(bool isKestra) { m_isKestra = isKestra; }

private:
    // Rules the sources of this class share (DisplayBase*.cpp, by concern).
    // Truncates toward zero into int32; out-of-range and NaN values (from a device) saturate or
    // give 0 instead of overflowing.
    static qint32 truncated(double value);
    // An LDM that takes part in the next correction: counted and walked by the same rule.
    static bool takesPart(const Macropixel& ldm);
    // A number in fixed notation with that many decimals, right-aligned in a field of that width.
    static QString fixed(double value, int width, int decimals);

    bool validLdm(uint number) const;
    bool validTile(uint number) const;
    static Macropixel& fallbackLdm();
    static Tile& fallbackTile();
    void recountAdjustableTiles();
    void keepStateOfSameLayout();
    void recountAdjustableLdms();
    QString settingsKeyOfLitTiles() const;

    QString m_name;
    double m_red = 0.0;
    double m_green = 0.0;
    double m_blue = 0.0;
    double m_maximum = 1.0;
    double m_displayGainRed = 1.0;
    double m_displayGainGreen = 1.0;
    double m_displayGainBlue = 1.0;
    QString m_colorStr;
    QString m_colorReadout;
    bool m_cycling = false;
    QString m_address;
    QString m_addressKey;
    quint32 m_ldmCount = 0;
    quint32 m_litLdmCount = 0;
    quint32 m_adjustableLdmCount = 0;
    qint32 m_maxX = 2;
    qint32 m_maxY = 1;
    qint32 m_minX = 0;
    qint32 m_minY = 0;
    qint32 m_maxLitLdmX = 2;
    qint32 m_maxLitLdmY = 1;
    qint32 m_minLitLdmX = 0;
    qint32 m_minLitLdmY = 0;
    QList<Macropixel> m_ldms;
    qint32 m_ldmData = 0;
    qint32 m_refresh = 0;
    quint32 m_tileCount = 0;
    quint32 m_litTileCount = 0;
    quint32 m_adjustableTileCount = 0;
    QList<Tile> m_tiles;
    // The wall before the rebuild in progress (between clearOutputConfig and finishOutputConfig).
    QList<Macropixel> m_previousLdms;
    QList<Tile> m_previousTiles;
    qint32 m_tileData = 0;
    bool m_isKestra = false;
    qint32 m_needFakeLdmRGBs = 0;
    double m_outputFrequency = 60.0;
    QRect m_selection{0, 0, 0, 0};
    QRect m_litTiles{0, 0, 0, 0};
    DisplayCallGate m_gate;
};
