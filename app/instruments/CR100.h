#pragma once

#include "instruments/Colorimeter.h"
#include "instruments/SerialLineReader.h"
#include "instruments/SerialPortLister.h"

#include <QByteArray>
#include <QDateTime>
#include <QSerialPort>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

// The serial colorimeter of Colorimetry Research ("CRI colorimeter" in its messages), on a USB
// serial port. It speaks short ASCII commands ended by a CR; the instrument answers each with a
// status line "OK|ER:code:echo:data", after some commands followed by list lines. The exchange is
// driven by the replies: each reply sends the next command, so one read(), setFilter() or
// setMatrix() starts a chain that ends in exactly one dataAvailable.
//
// The first read after start-up, after a fatal error or after the device came back runs the
// set-up first: reset, model, instrument type, the filter list and the filter in use, the
// matrix list and the matrix in use. Later reads only measure.
//
// Every command waits a bounded time for its reply; a silent instrument ends the chain with a
// recoverable error, and the next read sets the instrument up afresh.
class CR100 : public Colorimeter
{
    Q_OBJECT
public:
    static const QString InstrumentName;
    static const QString NotFoundMessage;
    // The instrument's USB identifiers.
    static constexpr quint16 VendorId = 0x2799;
    static constexpr quint16 ProductId = 0x0002;
    // How long a command waits for its reply. A measurement in low light integrates for long.
    static constexpr std::chrono::milliseconds CommandTimeout{5000};
    static constexpr std::chrono::milliseconds MeasurementTimeout{60000};

    explicit CR100(QObject* parent = nullptr);
    // Finds its port in the given list of the system's serial ports.
    explicit CR100(std::unique_ptr<SerialPortLister> lister, QObject* parent = nullptr);
    ~CR100() override;

    // The first port in the list that is the instrument: a name of the system's serial ports
    // ("COM..." on Windows, "cu..." on macOS, "tty..." on Linux) with the instrument's USB
    // vendor and product identifiers.
    static std::optional<SerialPortLister::Port> instrumentPort(const QList<SerialPortLister::Port>& ports);

    // Replaces the reply time-outs: the first for every command but the measurement, the
    // second for the measurement.
    void setReplyTimeouts(std::chrono::milliseconds command, std::chrono::milliseconds measurement);
    // The longest chain a read() can start, set-up included, until its reply or time-out.
    std::chrono::milliseconds readingTimeout() const override;
    // Not found while no port is open and none of the system's ports is the instrument's.
    QString unavailableReason() const override;

    // A fatal error (kind 2) also discards the filters and matrices read from the instrument.
    void setErrorType(const ErrorType& errorType) override;
    // Wait for a running chain, select in the base and on the instrument, and end with a reading.
    // A number other than "none" cannot be selected while the instrument's list is not read:
    // the setter then answers with a recoverable error and leaves the setting as it was.
    void setFilter(int filter) override;
    void setMatrix(int matrix) override;

public slots:
    void read() override;
    // Processes every complete reply line waiting on the port.
    void readData();
    void handleError(QSerialPort::SerialPortError error);

private:
    // The handler of one kind of status reply; data is the reply's last field.
    using ReplyHandler = void (CR100::*)(const QString& data);
    struct Route;

    // True when an open port is held; discovers and opens the instrument's port when none is.
    bool findPort();
    void releasePort();
    bool sendCommand(const QByteArray& command);
    bool sendFilter(int filter);
    bool sendMatrix(int matrix);
    void discardOptions();

    // A chain runs from beginChain to endChain; only then are replies taken.
    void beginChain();
    void endChain();
    // Waits, running the event loop, until the chain in progress has ended; then claims the
    // line for a new one. False when there is no line to claim (discovery has said so).
    bool claimLine();
    // A selection that cannot be made: said in the log and, when the line was claimed for it, as
    // the chain's answer with a recoverable error; the setting stays as it was.
    void refuseSelection(const QString& error, bool claimed);
    void replyTimedOut();
    void readFailed();

    void processLine(const QByteArray& line);
    void handleStatus(const QString& line, const QStringList& fields);
    // The dispatch table's row for an echo; null for an echo no action is for.
    static const Route* route(const QString& echo);
    // The echo answers the command awaited: it is that command, or the beginning of that
    // command without its argument, routed to the same action.
    bool answersAwaited(const QString& echo) const;
    void dispatch(const QString& echo, const QString& data);
    void handleListLine(const QString& line);
    void reportDarkReading(const QString& code, const QString& data);
    void completeReading(const QString& data);
    void filterListComplete();
    void matrixListComplete();
    // Ends the chain with an error: its text, its kind and dataAvailable.
    void failChain(const QString& error, qint32 kind);
    // Sets the error text and kind together, under the reading lock.
    void setOutcome(const QString& error, qint32 kind);
    void logSuccess(const char* format) const;

    // The dispatch table's actions, each named after the reply it handles.
    void measured(const QString& data);
    void luminanceRead(const QString& data);
    void cctRead(const QString& data);
    void resetDone(const QString& data);
    void modelRead(const QString& data);
    void instrumentTypeRead(const QString& data);
    void filterCountRead(const QString& data);
    void filterSet(const QString& data);
    void matrixCountRead(const QString& data);
    void matrixSet(const QString& data);
    void calibModeSet(const QString& data);

    std::unique_ptr<SerialPortLister> m_lister;
    // Child of the instrument; released with deleteLater, as it may be in one of its own signals.
    QSerialPort* m_port = nullptr;
    SerialLineReader m_lines;
    bool m_filtersRead = false;
    quint32 m_filtersPending = 0;
    bool m_matricesRead = false;
    quint32 m_matricesPending = 0;
    bool m_busy = false;
    // The line hung up or failed: reported once, and the port is replaced on the next discovery.
    bool m_lineGone = false;
    // An open port whose line has not gone away.
    bool portUsable() const { return m_port && m_port->isOpen() && !m_lineGone; }
    QDateTime m_readStart;
    QTimer m_replyTimer;
    // The command whose reply is awaited, without its CR, for the time-out message.
    QByteArray m_awaited;
    std::chrono::milliseconds m_commandTimeout = CommandTimeout;
    std::chrono::milliseconds m_measurementTimeout = MeasurementTimeout;
};
