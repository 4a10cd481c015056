#include "instruments/Colorimeter.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>

#include <cmath>

const QString Colorimeter::DummyName = QStringLiteral("dummy");

namespace {

// What the dummy colorimeter shows until a real instrument is chosen.
constexpr double DummyCct = 6500.0;
constexpr double DummyDuv = 9.9654e-5;
constexpr double DummyCieX = 0.3;
constexpr double DummyCieY = 0.345678;
constexpr double DummyLuminance = 1024.0;
// Dummy readings are whole numbers from 0 to this limit, exclusive.
constexpr quint32 DummyLuminanceRange = 2000;
// setFilterAndMatrix applies its choice this long after the caller returned.
constexpr int SelectionDelayMs = 1;

// The chromaticity and Duv read-outs: four decimals, right-aligned in five places.
QString fixedFourDecimals(double value)
{
    return QStringLiteral("%1").arg(value, 5, 'f', 4);
}

} // namespace

Colorimeter::Colorimeter(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_luminanceUnits(QStringLiteral("cd/m\u00B2"))
    , m_filterList(this)
    , m_matrixList(this)
    , m_addressKey(name + QStringLiteral("/address"))
    , m_filterKey(name + QStringLiteral("/filter"))
    , m_matrixKey(name + QStringLiteral("/matrix"))
{
    const QSettings settings;
    if (settings.contains(m_addressKey))
        setAddress(settings.value(m_addressKey, QString()).toString());

    if (m_name == DummyName) {
        setAddress(QStringLiteral("N/A"));
        setCct(DummyCct);
        setDuv(DummyDuv);
        setCieXY(DummyCieX, DummyCieY);
        setLuminance(DummyLuminance);
    }

    // Signed: "no filter" is stored as -1, and must come back as -1 after a restart. A stored
    // number is checked only once the instrument has listed what it offers.
    m_filter = settings.value(m_filterKey, None).toInt();
    m_matrix = settings.value(m_matrixKey, None).toInt();
}

int Colorimeter::filter() const
{
    logFilterList();
    return m_filterList.count() < 2 ? None : m_filter;
}

int Colorimeter::matrix() const
{
    logMatrixList();
    return m_matrixList.count() < 2 ? None : m_matrix;
}

QString Colorimeter::filterName() const
{
    const Option* option = m_filterList.find(m_filter);
    return option ? option->name() : QString();
}

QString Colorimeter::matrixName() const
{
    const Option* option = m_matrixList.find(m_matrix);
    return option ? option->name() : QString();
}

void Colorimeter::setText(QString& field, const QString& text, void (Colorimeter::*changed)())
{
    if (field == text)
        return;
    field = text;
    emit(this->*changed)();
}

void Colorimeter::setName(const QString& name)
{
    setText(m_name, name, &Colorimeter::nameChanged);
}

void Colorimeter::setAddress(const QString& address)
{
    QString bare = address;
    bare.remove(QStringLiteral("http://"), Qt::CaseInsensitive);
    if (bare == m_address)
        return;
    m_address = bare;
    emit addressChanged();
    QSettings().setValue(m_addressKey, m_address);
}

void Colorimeter::setCct(double cct)
{
    if (cct == m_cct)
        return;
    m_cct = cct;
    emit cctChanged();
    setText(m_cctString, QStringLiteral("%1 K").arg(cct), &Colorimeter::cctStringChanged);
}

void Colorimeter::setDuv(double duv)
{
    if (duv == m_duv)
        return;
    m_duv = duv;
    emit duvChanged();
    // The sign follows the value, the digits its rounded magnitude.
    const QString sign = duv < 0.0 ? QStringLiteral("\u2212") : QStringLiteral("+");
    setText(m_duvString, sign + fixedFourDecimals(std::abs(duv)), &Colorimeter::duvStringChanged);
}

void Colorimeter::setCieXY(double x, double y)
{
    if (x == m_cieX && y == m_cieY)
        return;
    m_cieX = x;
    m_cieY = y;
    emit cieXChanged();
    emit cieYChanged();
    setText(m_cieXYString, QStringLiteral("%1, %2").arg(fixedFourDecimals(x), fixedFourDecimals(y)),
            &Colorimeter::cieXYStringChanged);
}

void Colorimeter::setLuminance(double luminance)
{
    if (luminance == m_luminance)
        return;
    m_luminance = luminance;
    emit luminanceChanged();
    updateLuminanceString();
}

void Colorimeter::setLuminanceUnits(const QString& units)
{
    if (units == m_luminanceUnits)
        return;
    m_luminanceUnits = units;
    emit luminanceUnitsChanged();
    updateLuminanceString();
}

void Colorimeter::updateLuminanceString()
{
    setText(m_luminanceString, QStringLiteral("%1 %2").arg(m_luminance).arg(m_luminanceUnits),
            &Colorimeter::luminanceStringChanged);
}

void Colorimeter::setTimestamp(const QString& timestamp)
{
    setText(m_timestamp, timestamp, &Colorimeter::timestampChanged);
}

void Colorimeter::updateTimestamp()
{
    QDateTime now = QDateTime::currentDateTime();
    // A fixed offset, so that the text carries it.
    now.setOffsetFromUtc(now.offsetFromUtc());
    setTimestamp(now.toString(Qt::ISODateWithMs));
}

void Colorimeter::setError(const QString& error)
{
    setText(m_error, error, &Colorimeter::errorChanged);
}

void Colorimeter::setErrorType(const ErrorType& errorType)
{
    if ((m_errorType.kind == 0) == (errorType.kind == 0))
        return;
    m_errorType = errorType;
    emit errorTypeChanged();
}

void Colorimeter::selectOption(int& stored, int number, const OptionList& list, const QString& key,
                               const char* notFoundFormat)
{
    if (!list.find(number)) {
        qDebug(notFoundFormat, number);
        number = None;
    }
    if (number == stored)
        return;
    stored = number;
    QSettings().setValue(key, stored);
}

void Colorimeter::setFilter(int filter)
{
    selectOption(m_filter, filter, m_filterList, m_filterKey,
                 "Filter #%d not found in filter list; setting no filter.");
    emit filterChanged();
    emit filterNameChanged();
}

void Colorimeter::setMatrix(int matrix)
{
    selectOption(m_matrix, matrix, m_matrixList, m_matrixKey,
                 "Matrix #%d not found in matrix list; setting no matrix.");
    emit matrixChanged();
    emit matrixNameChanged();
}

void Colorimeter::setFilterAndMatrix(int filter, int matrix)
{
    if (filter == m_filter && matrix == m_matrix)
        return;
    qDebug("Filter %d matrix %d", filter, matrix);
    // Applied from the event loop, through the virtual setters, so an instrument that talks to
    // hardware does so on its own thread. The one-shot timer is released once it has fired.
    QTimer::singleShot(SelectionDelayMs, this, [this, filter, matrix] {
        if (matrix > Unchanged)
            setMatrix(matrix);
        if (filter > Unchanged)
            setFilter(filter);
    });
}

void Colorimeter::read()
{
    {
        QMutexLocker locker(&m_mutex);
        setLuminance(QRandomGenerator::global()->generate() % DummyLuminanceRange);
        updateTimestamp();
    }
    emit dataAvailable(this);
}

void Colorimeter::lock()
{
    m_mutex.lock();
}

void Colorimeter::unlock()
{
    m_mutex.unlock();
}

void Colorimeter::logFilterList() const
{
    logOptions(m_filterList, "%s has %lld ND filter%s", "", "s");
}

void Colorimeter::logMatrixList() const
{
    logOptions(m_matrixList, "%s has %lld matri%s", "x", "ces");
}

void Colorimeter::logOptions(const OptionList& list, const char* headerFormat, const char* oneSuffix,
                             const char* manySuffix) const
{
    if (!m_verbose)
        return;
    const qsizetype count = list.count();
    qDebug(headerFormat, qUtf8Printable(m_name), static_cast<long long>(count),
           count == 1 ? oneSuffix : manySuffix);
    for (qsizetype i = 0; i < count; ++i) {
        const Option* option = list.at(i);
        qDebug("  %p: #%d, %s", static_cast<const void*>(option), option->number(),
               qUtf8Printable(option->name()));
    }
}

double Colorimeter::readingNumber(const QString& field)
{
    bool ok = false;
    const double value = field.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}
