#include "instruments/CR100.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>

#include <array>
#include <cmath>

const QString CR100::InstrumentName = QStringLiteral("Colorimetry Research");
const QString CR100::NotFoundMessage = QStringLiteral("CRI colorimeter not found");

namespace {

// A status line has four ':'-separated fields: status, code, echo of the command and data.
constexpr qsizetype StatusFieldCount = 4;
// A filter line: number, name and type.
constexpr qsizetype FilterFieldCount = 3;
// A matrix line: number, name and nine coefficients.
constexpr qsizetype MatrixFieldCount = 11;

// The codes of a measurement too dark to read; reported as luminance 0.
const QString DarkCode = QStringLiteral("-304");
const QString DarkerCode = QStringLiteral("-305");

// A reading that took longer than this is worth a line in the log.
constexpr float SlowReadingSeconds = 20.0f;

// setFilter and setMatrix poll a running chain this often.
constexpr unsigned long ChainPollMs = 10;
// The longest chain, the set-up, has this many commands before its measurement.
constexpr int SetupCommandCount = 10;
// After the measurement: luminance, then CCT.
constexpr int ReadoutCommandCount = 2;

const QByteArray ResetCommand = QByteArrayLiteral("SM Reset\r");
const QByteArray ModelCommand = QByteArrayLiteral("RC Model\r");
const QByteArray InstrumentTypeCommand = QByteArrayLiteral("RC InstrumentType\r");
const QByteArray FilterListCommand = QByteArrayLiteral("RC Filter\r");
const QByteArray MatrixListCommand = QByteArrayLiteral("RC MatrixCalib\r");
const QByteArray MeasureCommand = QByteArrayLiteral("M\r");
const QByteArray LuminanceCommand = QByteArrayLiteral("RM Y\r");
const QByteArray CctCommand = QByteArrayLiteral("RM CCT\r");

QByteArray numberedCommand(const char* command, int number)
{
    return QByteArray(command) + ' ' + QByteArray::number(number) + '\r';
}

QByteArray calibModeCommand(bool matrixSelected)
{
    return numberedCommand("SM UserCalibMode", matrixSelected ? 1 : 0);
}

// A command without the number it carries as its argument ("SM Matrix" for "SM Matrix 11"); a
// command without an argument is returned whole.
QByteArrayView withoutArgument(QByteArrayView command)
{
    const qsizetype blank = command.lastIndexOf(' ');
    if (blank < 0)
        return command;
    bool numbered = false;
    (void)command.sliced(blank + 1).toInt(&numbered);
    return numbered ? command.first(blank) : command;
}

} // namespace

CR100::CR100(QObject* parent)
    : CR100(std::make_unique<SerialPortLister>(), parent)
{
}

CR100::CR100(std::unique_ptr<SerialPortLister> lister, QObject* parent)
    : Colorimeter(InstrumentName, parent)
    , m_lister(lister ? std::move(lister) : std::make_unique<SerialPortLister>())
    , m_readStart(QDateTime::currentDateTime())
    , m_replyTimer(this)
{
    m_replyTimer.setSingleShot(true);
    // A time-out is a promise to the instrument: a coarse timer may fire up to 5 % early.
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, &CR100::replyTimedOut);
}

CR100::~CR100() = default;

std::optional<SerialPortLister::Port> CR100::instrumentPort(const QList<SerialPortLister::Port>& ports)
{
    static constexpr std::array Prefixes{"cu", "COM", "tty"};
    for (const SerialPortLister::Port& port : ports) {
        if (port.vendorId != VendorId || port.productId != ProductId)
            continue;
        for (const char* prefix : Prefixes) {
            if (port.name.startsWith(QLatin1String(prefix)))
                return port;
        }
    }
    return std::nullopt;
}

std::chrono::milliseconds CR100::readingTimeout() const
{
    // The longest chain: the set-up's commands, the measurement, then luminance and CCT; each
    // command ends with its reply or its own time-out.
    return m_measurementTimeout + (SetupCommandCount + ReadoutCommandCount) * m_commandTimeout;
}

void CR100::setReplyTimeouts(std::chrono::milliseconds command, std::chrono::milliseconds measurement)
{
    m_commandTimeout = command;
    m_measurementTimeout = measurement;
}

// ---- Port ----------------------------------------------------------------------------------

QString CR100::unavailableReason() const
{
    if (portUsable())
        return QString();
    return instrumentPort(m_lister->ports()) ? QString() : NotFoundMessage;
}

bool CR100::findPort()
{
    if (m_port && !portUsable())
        releasePort();
    if (m_port)
        return true;

    const std::optional<SerialPortLister::Port> found = instrumentPort(m_lister->ports());
    if (!found) {
        setOutcome(NotFoundMessage, ErrorType::Fatal);
        emit dataAvailable(this);
        return false;
    }

    qDebug("Found CRI colorimeter on port %s.", qUtf8Printable(found->name));
    endChain();
    discardOptions();
    m_lines.clear();
    m_lineGone = false;
    m_port = new QSerialPort(this);
    m_port->setPortName(found->systemLocation);
    if (!m_port->open(QIODevice::ReadWrite)) {
        qDebug("%s: %s: %s", qUtf8Printable(name()), qUtf8Printable(found->systemLocation),
               qUtf8Printable(m_port->errorString()));
        releasePort();
        setOutcome(QStringLiteral("Unable to open serial port"), ErrorType::Fatal);
        emit dataAvailable(this);
        return false;
    }
    // Connected once open, so that a failure to open is reported only once.
    connect(m_port, &QSerialPort::errorOccurred, this, &CR100::handleError);
    connect(m_port, &QSerialPort::readyRead, this, &CR100::readData);
    setOutcome(QString(), ErrorType::Success);
    return true;
}

void CR100::releasePort()
{
    disconnect(m_port, nullptr, this, nullptr);
    // Not deleted at once: this may run inside one of the port's own signals. Its destructor
    // closes it.
    m_port->deleteLater();
    m_port = nullptr;
}

void CR100::handleError(QSerialPort::SerialPortError error)
{
    // A pseudo-terminal whose other end hung up, and some USB adapters when unplugged, report a
    // read error on every turn of the event loop rather than a resource error; all of them mean
    // the line is gone.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError)
        return;
    if (!m_port || sender() != m_port || m_lineGone)
        return;
    m_lineGone = true;
    QSerialPort* port = m_port;
    // Closed from the event loop, outside the port's own notification, which stops the
    // repeating errors; the next discovery replaces the port.
    QTimer::singleShot(0, port, [port] { port->close(); });
    failChain(port->errorString(), ErrorType::Fatal);
}

bool CR100::sendCommand(const QByteArray& command)
{
    if (!portUsable())
        return false;
    if (verbose()) {
        QByteArray shown = command;
        shown.replace("\r", "\\r");
        qDebug("Sending [%s]", shown.constData());
    }
    m_awaited = command.chopped(1);
    // Started even when the write fails, so that a lost command ends its chain like a lost reply.
    m_replyTimer.start(command == MeasureCommand ? m_measurementTimeout : m_commandTimeout);
    return m_port->write(command) > 0;
}

bool CR100::sendFilter(int filter)
{
    Colorimeter::setFilter(filter);
    const int selected = storedFilter();
    if (selected < 0) {
        if (verbose())
            qDebug("%s: filter #-1; sending SM Reset", qUtf8Printable(name()));
        return sendCommand(ResetCommand);
    }
    if (verbose())
        qDebug("%s: setting filter #%d", qUtf8Printable(name()), selected);
    return sendCommand(numberedCommand("SM Filter1", selected));
}

bool CR100::sendMatrix(int matrix)
{
    Colorimeter::setMatrix(matrix);
    const int selected = storedMatrix();
    if (selected < 0) {
        if (verbose())
            qDebug("%s: matrix #-1; sending SM UserCalibMode 0", qUtf8Printable(name()));
        return sendCommand(calibModeCommand(false));
    }
    if (verbose())
        qDebug("%s: setting matrix #%d", qUtf8Printable(name()), selected);
    return sendCommand(numberedCommand("SM Matrix", selected));
}

void CR100::discardOptions()
{
    m_filtersPending = 0;
    m_matricesPending = 0;
    m_filtersRead = false;
    filterList()->clear();
    emit filterChanged();
    emit filterNameChanged();
    emit filterListChanged();
    m_matricesRead = false;
    matrixList()->clear();
    emit matrixChanged();
    emit matrixNameChanged();
    emit matrixListChanged();
}

void CR100::setErrorType(const ErrorType& errorType)
{
    Colorimeter::setErrorType(errorType);
    if (errorType.kind != ErrorType::Fatal)
        return;
    if (verbose())
        qDebug("%s: fatal error, discarding filters and matrices.", qUtf8Printable(name()));
    discardOptions();
}

// ---- Chains --------------------------------------------------------------------------------

void CR100::beginChain()
{
    m_busy = true;
    m_readStart = QDateTime::currentDateTime();
}

void CR100::endChain()
{
    m_busy = false;
    m_replyTimer.stop();
    setVerbose(false);
}

bool CR100::claimLine()
{
    if (!findPort())
        return false;
    // Every command of a chain times out on its own, so the wait ends; the deadline only guards
    // against a chain that keeps going.
    const QDeadlineTimer deadline(m_measurementTimeout + SetupCommandCount * m_commandTimeout);
    while (m_busy && portUsable()) {
        if (deadline.hasExpired()) {
            replyTimedOut();
            break;
        }
        if (verbose())
            qDebug("===================================== waiting...");
        QCoreApplication::processEvents();
        QThread::msleep(ChainPollMs);
    }
    if (!findPort())
        return false;
    beginChain();
    return true;
}

void CR100::read()
{
    if (!findPort())
        return;
    if (m_busy) {
        qDebug("%s: read() still in progress; returning", qUtf8Printable(name()));
        return;
    }
    beginChain();
    m_port->readAll();
    m_lines.clear();
    if (!m_filtersRead) {
        setVerbose(true);
        if (!sendCommand(ResetCommand))
            qDebug("Sending \"SM Reset\" failed.");
    } else if (!sendCommand(MeasureCommand)) {
        qDebug("Sending \"M\" failed.");
    }
}

void CR100::setFilter(int filter)
{
    const bool claimed = claimLine();
    // Until the instrument has listed its filters again (after a fatal error or a lost reply),
    // a filter number cannot be checked: taken for an unlisted one, it would lose the setting.
    if (!m_filtersRead && !filterList()->find(filter)) {
        refuseSelection(QStringLiteral("Filter #%1 cannot be set before the CRI colorimeter has listed its filters")
                            .arg(filter),
                        claimed);
        emit filterChanged();
        emit filterNameChanged();
        return;
    }
    sendFilter(filter);
}

void CR100::setMatrix(int matrix)
{
    const bool claimed = claimLine();
    if (!m_matricesRead && !matrixList()->find(matrix)) {
        refuseSelection(QStringLiteral("Matrix #%1 cannot be set before the CRI colorimeter has listed its matrices")
                            .arg(matrix),
                        claimed);
        emit matrixChanged();
        emit matrixNameChanged();
        return;
    }
    sendMatrix(matrix);
}

void CR100::refuseSelection(const QString& error, bool claimed)
{
    qDebug("%s: %s", qUtf8Printable(name()), qUtf8Printable(error));
    // Without the line, discovery has already given this call its answer.
    if (claimed)
        failChain(error, ErrorType::Retryable);
}

void CR100::replyTimedOut()
{
    if (!m_busy)
        return;
    qDebug("%s: no reply to [%s]", qUtf8Printable(name()), m_awaited.constData());
    m_lines.clear();
    // What the instrument made of the lost command is unknown: the next read sets it up afresh.
    discardOptions();
    failChain(QStringLiteral("No reply from CRI colorimeter to [%1]").arg(QString::fromLatin1(m_awaited)),
              ErrorType::Retryable);
}

void CR100::failChain(const QString& error, qint32 kind)
{
    endChain();
    setOutcome(error, kind);
    emit dataAvailable(this);
}

void CR100::setOutcome(const QString& error, qint32 kind)
{
    // The engine copies error and errorType from its own thread under this lock.
    QMutexLocker locker(&readingMutex());
    setError(error);
    setErrorType(ErrorType{kind, {}});
}

// ---- Replies -------------------------------------------------------------------------------

void CR100::readData()
{
    if (!m_port)
        return;
    QByteArray bytes(m_port->bytesAvailable(), Qt::Uninitialized);
    const qint64 count = m_port->read(bytes.data(), bytes.size());
    if (count < 0) {
        readFailed();
        return;
    }
    bytes.truncate(count);
    m_lines.append(bytes);
    // A receiver of dataAvailable may start the next chain, or give up the port, meanwhile.
    while (m_port) {
        const std::optional<QByteArray> line = m_lines.takeLine();
        if (!line)
            break;
        processLine(*line);
    }
}

void CR100::readFailed()
{
    m_lines.clear();
    failChain(QStringLiteral("readData error"), ErrorType::Fatal);
}

void CR100::processLine(const QByteArray& bytes)
{
    const QString line = QString::fromLatin1(bytes);
    // Only a running chain expects replies: a late reply to a command that timed out, or one
    // after a chain ended in an error, must not start commands or readings of its own.
    if (!m_busy) {
        qDebug("%s: ignoring unexpected [%s]", qUtf8Printable(name()), qUtf8Printable(line));
        return;
    }
    if (verbose())
        qDebug("%s line [%s]", qUtf8Printable(name()), qUtf8Printable(line));
    const QStringList fields = line.split(QLatin1Char(':'));
    if (fields.size() == StatusFieldCount)
        handleStatus(line, fields);
    else
        handleListLine(line);
}

void CR100::handleStatus(const QString& line, const QStringList& fields)
{
    const QString& status = fields[0];
    const QString& code = fields[1];
    const QString& echo = fields[2];
    const QString& data = fields[3];
    // A reply to anything but the command awaited (a late one, to a command that timed out) is
    // not this chain's: taken, it would send commands of its own in the middle of the chain.
    if (!answersAwaited(echo)) {
        qDebug("%s: ignoring [%s] while awaiting the reply to [%s]", qUtf8Printable(name()), qUtf8Printable(line),
               m_awaited.constData());
        return;
    }
    if (status == QLatin1String("OK")) {
        dispatch(echo, data);
        return;
    }
    if (status == QLatin1String("ER") && (code == DarkCode || code == DarkerCode)) {
        reportDarkReading(code, data);
        return;
    }
    // An error ends the chain: none of its later commands is sent.
    failChain(QStringLiteral("Error: [%1]").arg(line), ErrorType::Fatal);
}

namespace {
enum class Match { Exact, Prefix };
} // namespace

// One row of the dispatch table: the echo it answers and the action it takes.
struct CR100::Route
{
    const char* echo;
    Match match;
    ReplyHandler handle;
};

const CR100::Route* CR100::route(const QString& echo)
{
    // The first matching row applies; exact rows come before prefixes.
    static constexpr std::array Routes{
        Route{"M", Match::Exact, &CR100::measured},
        Route{"RM Y", Match::Exact, &CR100::luminanceRead},
        Route{"RM CCT", Match::Exact, &CR100::cctRead},
        Route{"SM Reset", Match::Exact, &CR100::resetDone},
        Route{"RC Model", Match::Exact, &CR100::modelRead},
        Route{"RC InstrumentType", Match::Exact, &CR100::instrumentTypeRead},
        Route{"RC Filter", Match::Exact, &CR100::filterCountRead},
        Route{"SM Filter", Match::Prefix, &CR100::filterSet},
        Route{"RC Matrix", Match::Prefix, &CR100::matrixCountRead},
        Route{"SM Matrix", Match::Prefix, &CR100::matrixSet},
        Route{"SM UserCalib", Match::Prefix, &CR100::calibModeSet},
    };
    for (const Route& route : Routes) {
        const QLatin1String key(route.echo);
        if (route.match == Match::Exact ? echo == key : echo.startsWith(key))
            return &route;
    }
    return nullptr;
}

bool CR100::answersAwaited(const QString& echo) const
{
    const QString awaited = QString::fromLatin1(m_awaited);
    if (echo == awaited)
        return true;
    // Some instruments echo a command without its argument ("SM Filter1" for "SM Filter1 5"),
    // or shortened ("RC Matrix" for "RC MatrixCalib"). Such an echo is the beginning of the
    // command without its argument, and is handled as the command itself would be. An echo that
    // carries an argument answers only the command with that very argument: "SM Matrix 1" is a
    // reply to another command than "SM Matrix 11", though it begins it.
    if (!QString::fromLatin1(withoutArgument(m_awaited)).startsWith(echo))
        return false;
    const Route* echoRoute = route(echo);
    return echoRoute && echoRoute == route(awaited);
}

void CR100::dispatch(const QString& echo, const QString& data)
{
    if (const Route* found = route(echo))
        (this->*found->handle)(data);
}

void CR100::reportDarkReading(const QString& code, const QString& data)
{
    qDebug("%s: error %s: %s; setting luminance to zero.", qUtf8Printable(name()), qUtf8Printable(code),
           qUtf8Printable(data));
    {
        QMutexLocker locker(&readingMutex());
        setLuminance(0.0);
        updateTimestamp();
    }
    logSuccess("\"success\": %.0f K, %.4f dUV, %.2f %s");
    // The dark reading is the answer to this chain; going on would give a second one.
    endChain();
    setOutcome(QString(), ErrorType::Success);
    emit dataAvailable(this);
}

void CR100::logSuccess(const char* format) const
{
    if (verbose())
        qDebug(format, cct(), duv(), luminance(), qUtf8Printable(luminanceUnits()));
}

void CR100::measured(const QString&)
{
    sendCommand(LuminanceCommand);
}

void CR100::luminanceRead(const QString& data)
{
    {
        QMutexLocker locker(&readingMutex());
        setLuminance(readingNumber(data));
    }
    sendCommand(CctCommand);
}

void CR100::cctRead(const QString& data)
{
    completeReading(data);
}

void CR100::completeReading(const QString& data)
{
    const QStringList items = data.split(QLatin1Char(','));
    if (items.size() != 2) {
        failChain(QStringLiteral("bad CCT,dUv [%1]").arg(data), ErrorType::Fatal);
        return;
    }
    if (readingNumber(items[0]) == 0.0) {
        failChain(QStringLiteral("CCT, dUV unavailable / out of range"), ErrorType::Retryable);
        return;
    }
    {
        QMutexLocker locker(&readingMutex());
        updateTimestamp();
        setCct(readingNumber(items[0]));
        setDuv(readingNumber(items[1]));
    }
    logSuccess("success: %.0f K, %.4f dUV, %.2f %s");
    const auto seconds = static_cast<float>(m_readStart.msecsTo(QDateTime::currentDateTime()) / 1000.0);
    if (seconds > SlowReadingSeconds)
        qDebug("Colorimeter reading took %.3f seconds", static_cast<double>(seconds));
    endChain();
    setOutcome(QString(), ErrorType::Success);
    emit dataAvailable(this);
}

void CR100::resetDone(const QString&)
{
    setVerbose(true);
    qDebug("requesting model...");
    sendCommand(ModelCommand);
}

void CR100::modelRead(const QString& data)
{
    if (!data.isEmpty())
        setName(data);
    if (verbose())
        qDebug("After RC Model: Name is [%s]", qUtf8Printable(name()));
    sendCommand(InstrumentTypeCommand);
}

void CR100::instrumentTypeRead(const QString& data)
{
    if (data == QLatin1String("2"))
        setSpectrometer(true);
    if (verbose())
        qDebug("After RC InstrumentType: Name [%s], %s a spectrometer", qUtf8Printable(name()),
               isSpectrometer() ? "is" : "is not");
    sendCommand(FilterListCommand);
}

void CR100::filterCountRead(const QString& data)
{
    m_filtersPending = data.toUInt();
    filterList()->clear();
    if (verbose())
        qDebug("%s: %d filters in list", qUtf8Printable(name()), static_cast<int>(m_filtersPending));
    if (m_filtersPending == 0)
        filterListComplete();
}

void CR100::filterSet(const QString&)
{
    if (verbose())
        qDebug("%s: filter set; fetch matrices", qUtf8Printable(name()));
    sendCommand(MatrixListCommand);
}

void CR100::matrixCountRead(const QString& data)
{
    m_matricesPending = data.section(QLatin1Char(','), 0, 0).toUInt();
    matrixList()->clear();
    if (verbose())
        qDebug("%s: %d matrices in list", qUtf8Printable(name()), static_cast<int>(m_matricesPending));
    if (m_matricesPending == 0)
        matrixListComplete();
}

void CR100::matrixSet(const QString&)
{
    if (verbose())
        qDebug("%s: matrix has been set; now set calib mode.", qUtf8Printable(name()));
    const QByteArray command = calibModeCommand(storedMatrix() >= 0);
    if (verbose())
        qDebug("%s: sending %s", qUtf8Printable(name()), command.chopped(1).constData());
    sendCommand(command);
}

void CR100::calibModeSet(const QString&)
{
    if (verbose())
        qDebug("%s: UserCalibMode has been set; now measure.", qUtf8Printable(name()));
    sendCommand(MeasureCommand);
}

void CR100::handleListLine(const QString& line)
{
    const QStringList items = line.split(QLatin1Char(','));
    if (m_filtersPending != 0) {
        if (items.size() != FilterFieldCount) {
            // The rest of this list is not to be trusted either.
            m_filtersPending = 0;
            failChain(QStringLiteral("Bad filter response [%1]").arg(line), ErrorType::Fatal);
            return;
        }
        // Only neutral-density filters for radiance are offered.
        if (items[1].startsWith(QLatin1String("ND")) && items[2].startsWith(QLatin1String("Radiance")))
            filterList()->append(new Option(items[0].toInt(), items[1], items[2], this));
        else if (verbose())
            qDebug("%s: skipping filter %s", qUtf8Printable(name()), qUtf8Printable(line));
        if (--m_filtersPending == 0)
            filterListComplete();
        return;
    }
    if (m_matricesPending != 0) {
        if (items.size() != MatrixFieldCount) {
            m_matricesPending = 0;
            failChain(QStringLiteral("Bad matrix response [%1]").arg(line), ErrorType::Fatal);
            return;
        }
        matrixList()->append(new Option(items[0].toInt(), items[1], QStringLiteral("matrix"), this));
        if (--m_matricesPending == 0)
            matrixListComplete();
        return;
    }
    qDebug("%s: ignoring unexpected [%s]", qUtf8Printable(name()), qUtf8Printable(line));
}

void CR100::filterListComplete()
{
    m_filtersRead = true;
    emit filterListChanged();
    // A selected filter that the new list lacks turns into a reset: the set-up runs again
    // without a filter.
    if (storedFilter() >= 0)
        sendFilter(storedFilter());
    else
        sendCommand(MatrixListCommand);
}

void CR100::matrixListComplete()
{
    m_matricesRead = true;
    emit matrixListChanged();
    sendMatrix(storedMatrix());
}
