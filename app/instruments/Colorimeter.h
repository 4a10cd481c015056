#pragma once

#include "common/ErrorType.h"
#include "instruments/OptionList.h"

#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <chrono>

// A light meter, and the last reading it took. There is no separate reading record: an
// instrument fills its own fields and emits dataAvailable(this); a receiver on another thread
// copies what it needs between lock() and unlock(). Every read() ends in exactly one
// dataAvailable, whether the reading succeeded or not (errorType and error tell which).
//
// Used by itself under the name "dummy" it is the dummy colorimeter: a fixed chromaticity and a
// random luminance, so that a run can proceed without an instrument.
//
// Address, filter and matrix are kept in the application settings under the instrument's name
// followed by "/address", "/filter" and "/matrix"; no filter or matrix is stored as -1.
class Colorimeter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
    Q_PROPERTY(double cct READ cct NOTIFY cctChanged)
    Q_PROPERTY(double duv READ duv NOTIFY duvChanged)
    Q_PROPERTY(double cieX READ cieX NOTIFY cieXChanged)
    Q_PROPERTY(double cieY READ cieY NOTIFY cieYChanged)
    Q_PROPERTY(double luminance READ luminance NOTIFY luminanceChanged)
    Q_PROPERTY(QString luminanceUnits READ luminanceUnits WRITE setLuminanceUnits NOTIFY luminanceUnitsChanged)
    Q_PROPERTY(QString cctString READ cctString NOTIFY cctStringChanged)
    Q_PROPERTY(QString duvString READ duvString NOTIFY duvStringChanged)
    Q_PROPERTY(QString cieXYString READ cieXYString NOTIFY cieXYStringChanged)
    Q_PROPERTY(QString luminanceString READ luminanceString NOTIFY luminanceStringChanged)
    Q_PROPERTY(QString timestamp READ timestamp WRITE setTimestamp NOTIFY timestampChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(ErrorType errorType READ errorType WRITE setErrorType NOTIFY errorTypeChanged)
    Q_PROPERTY(int filter READ filter WRITE setFilter NOTIFY filterChanged)
    Q_PROPERTY(QString filterName READ filterName NOTIFY filterNameChanged)
    Q_PROPERTY(OptionList* filterList READ filterList NOTIFY filterListChanged)
    Q_PROPERTY(int matrix READ matrix WRITE setMatrix NOTIFY matrixChanged)
    Q_PROPERTY(QString matrixName READ matrixName NOTIFY matrixNameChanged)
    Q_PROPERTY(OptionList* matrixList READ matrixList NOTIFY matrixListChanged)
public:
    // The name that makes a plain Colorimeter the dummy colorimeter (compared case-sensitively).
    static const QString DummyName;
    // "No filter" and "no matrix", as stored and as set.
    static constexpr int None = -1;
    // setFilterAndMatrix leaves a value of this or below untouched.
    static constexpr int Unchanged = -2;

    Colorimeter(const QString& name, QObject* parent = nullptr);

    // Readers; from another thread only between lock() and unlock().
    const QString& name() const { return m_name; }
    const QString& address() const { return m_address; }
    double cct() const { return m_cct; }
    double duv() const { return m_duv; }
    double cieX() const { return m_cieX; }
    double cieY() const { return m_cieY; }
    double luminance() const { return m_luminance; }
    const QString& luminanceUnits() const { return m_luminanceUnits; }
    const QString& cctString() const { return m_cctString; }
    const QString& duvString() const { return m_duvString; }
    const QString& cieXYString() const { return m_cieXYString; }
    const QString& luminanceString() const { return m_luminanceString; }
    const QString& timestamp() const { return m_timestamp; }
    const QString& error() const { return m_error; }
    ErrorType errorType() const { return m_errorType; }
    bool isSpectrometer() const { return m_isSpectrometer; }
    bool verbose() const { return m_verbose; }

    // The filter or matrix in use, or -1 while the instrument offers none.
    virtual int filter() const;
    virtual int matrix() const;
    QString filterName() const;
    QString matrixName() const;
    OptionList* filterList() { return &m_filterList; }
    OptionList* matrixList() { return &m_matrixList; }

    // Writers for the instruments: each stores and signals only a real change, and none of them
    // takes the lock (an instrument holds it while it writes a whole reading).
    void setName(const QString& name);
    // Stores the address without any "http://" and remembers it in the settings.
    void setAddress(const QString& address);
    void setCct(double cct);
    void setDuv(double duv);
    void setCieXY(double x, double y);
    void setLuminance(double luminance);
    void setLuminanceUnits(const QString& units);
    void setTimestamp(const QString& timestamp);
    // Sets the time stamp to now, in local time with its offset from UTC.
    void updateTimestamp();
    void setError(const QString& error);
    // Records only a change between success and failure: a change from one error to another,
    // or of the message alone, leaves the first error standing.
    virtual void setErrorType(const ErrorType& errorType);

    // The longest a read() may take before the instrument answers it, with a reading or with its
    // own time-out. Waiters for a reading wait at least this long. 0 for an instrument that
    // answers at once.
    virtual std::chrono::milliseconds readingTimeout() const { return std::chrono::milliseconds{0}; }
    // Why no instrument can answer a read() now (none attached, no address to ask), found without
    // asking the instrument; empty when one may answer. The dummy always answers.
    virtual QString unavailableReason() const { return QString(); }

    // Select a filter or matrix by number; a number missing from the list selects none.
    virtual void setFilter(int filter);
    virtual void setMatrix(int matrix);

public slots:
    // Requests one reading; it arrives through dataAvailable.
    virtual void read();
    void lock();
    void unlock();
    // Selects both, shortly after the caller returns, through setMatrix and setFilter; a value
    // of -2 or below leaves that one as it is.
    void setFilterAndMatrix(int filter, int matrix);

signals:
    void nameChanged();
    void cctChanged();
    void duvChanged();
    void cieXChanged();
    void cieYChanged();
    void luminanceChanged();
    void cctStringChanged();
    void duvStringChanged();
    void cieXYStringChanged();
    void luminanceStringChanged();
    void luminanceUnitsChanged();
    void dataAvailable(Colorimeter* data);
    void addressChanged();
    void timestampChanged();
    void errorChanged();
    void errorTypeChanged();
    void filterListChanged();
    void filterChanged();
    void filterNameChanged();
    void matrixListChanged();
    void matrixChanged();
    void matrixNameChanged();

protected:
    // A number of an instrument's answer; a field that is not a finite number ("nan", "inf",
    // "1e999", text) reads as 0, so that it never passes as a reading.
    static double readingNumber(const QString& field);
    // The lock that guards a reading while an instrument writes it or a receiver copies it.
    QRecursiveMutex& readingMutex() { return m_mutex; }
    // The numbers as stored, whatever the lists hold.
    int storedFilter() const { return m_filter; }
    int storedMatrix() const { return m_matrix; }
    void setSpectrometer(bool isSpectrometer) { m_isSpectrometer = isSpectrometer; }
    void setVerbose(bool verbose) { m_verbose = verbose; }
    // Debug lines listing the filters and the matrices, when verbose.
    void logFilterList() const;
    void logMatrixList() const;

private:
    void setText(QString& field, const QString& text, void (Colorimeter::*changed)());
    void updateLuminanceString();
    void logOptions(const OptionList& list, const char* headerFormat, const char* oneSuffix,
                    const char* manySuffix) const;
    // Validates the number against the list and stores it (and its setting) when it changed.
    void selectOption(int& stored, int number, const OptionList& list, const QString& key,
                      const char* notFoundFormat);

    QRecursiveMutex m_mutex;
    QString m_name;
    QString m_address;
    double m_cct = 0.0;
    double m_duv = 0.0;
    double m_cieX = 0.0;
    double m_cieY = 0.0;
    double m_luminance = 0.0;
    QString m_cctString;
    QString m_duvString;
    QString m_cieXYString;
    QString m_luminanceString;
    QString m_luminanceUnits;
    QString m_timestamp;
    QString m_error;
    ErrorType m_errorType;
    bool m_isSpectrometer = false;
    bool m_verbose = false;
    OptionList m_filterList;
    int m_filter = None;
    OptionList m_matrixList;
    int m_matrix = None;
    QString m_addressKey;
    QString m_filterKey;
    QString m_matrixKey;
};
