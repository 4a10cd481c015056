#include "shell/Velotrimmer.h"

#include "display/DisplayBase.h"
#include "engine/Calibrator.h"
#include "instruments/CameraController.h"
#include "instruments/ImageSource.h"
#include "shell/SettingKeys.h"

#include <QDebug>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr int TargetExposureGreen = 175;
constexpr double GreenPerClick = 20.0;
// The mesh test pattern: a faint mesh, so the cells show without hiding the picture; its dark
// cells take this gain in red and blue.
constexpr float MeshTestPatternAmount = 0.05f;
constexpr double MeshTestPatternDarkGain = -1.0;

} // namespace

// ---- Target LDM and tile -----------------------------------------------------------------------

void Velotrimmer::chooseTargetLdm(int ldmNumber)
{
    if (busy())
        return;
    if (ldmNumber < 1 || static_cast<uint>(ldmNumber) > m_display->ldmCount()) {
        qDebug("Velotrimmer::chooseTargetLdm(): no LDM #%d", ldmNumber);
        setStatusString(QStringLiteral("There is no LDM #%1.").arg(ldmNumber));
        return;
    }
    setStatusString(QStringLiteral("Testing target LDM..."));
    m_targetLdmPending = true;
    setSelectedLdm(ldmNumber);
}

void Velotrimmer::chooseTargetTile(int tileNumber)
{
    const uint count = m_display->ldmCount();
    for (uint number = 1; number <= count; ++number) {
        if (tileNumber >= 0 && m_display->ldm(number).tileNumber == static_cast<quint32>(tileNumber)) {
            qDebug("Velotrimmer::chooseTargetTile() -> LDM %d", number);
            chooseTargetLdm(static_cast<int>(number));
            return;
        }
    }
    qDebug("Velotrimmer::chooseTargetTile() didn't find LDM!");
}

void Velotrimmer::setSelectedLdm(int selectedLdm)
{
    if (busy())
        return;
    const bool valid = selectedLdm >= 1 && static_cast<uint>(selectedLdm) <= m_display->ldmCount();
    if (selectedLdm != 0 && !valid) {
        qDebug("setSelectedLDM: no LDM #%d", selectedLdm);
        m_targetLdmPending = false;
        return;
    }
    m_selectedLdm = selectedLdm;
    qDebug("setSelectedLDM #%d", selectedLdm);
    QSettings().setValue(Key::SelectedLdm + m_display->address(), selectedLdm);
    emit selectedLdmChanged();
    if (selectedLdm == 0)
        return;

    deleteAdjusters();
    auto record = std::make_unique<Macropixel>(static_cast<quint32>(selectedLdm), 0.0f, 0.0f, 100.0f, 100.0f);
    *record = m_display->ldm(static_cast<uint>(selectedLdm));
    m_adjusterSet.appendRecord(std::move(record));
    runNothing();
    m_aeCount = 0;
    m_grabContinuation = [this](bool success) { targetLdmGrabbed(success); };
    if (!getImageLdmRGBData(false))
        targetLdmGrabbed(false);
}

void Velotrimmer::targetLdmGrabbed(bool success)
{
    if (success && !m_adjusterSet.macropixels().isEmpty()) {
        if (adjustExposureClicks()) {
            ++m_aeCount;
            qDebug("aeCount %d", m_aeCount);
            if (m_aeCount < MaxExposureAdjustments) {
                if (getImageLdmRGBData(false))
                    return;
                success = false;
            }
        }
    }
    if (success && !m_adjusterSet.macropixels().isEmpty()) {
        const Macropixel& target = *m_adjusterSet.macropixels().constFirst();
        if (acceptTargetLdm(target)) {
            setBalanceTargetRed(target.redObserved);
            setBalanceTargetGreen(target.greenObserved);
            setBalanceTargetBlue(target.blueObserved);
            setTargetTime(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss yyyy-MM-dd")));
            qInfo("LDM #%d: %s", target.number, qUtf8Printable(m_display->dumpLdm(target.number)));
            m_imageSource->saveExposure();
        }
    } else {
        qWarning("Error: unable to get RGB values for selected LDM");
    }
    deleteAdjusters();
    endRunning();
    emit selectedLdmChanged();
    emit m_display->ldmDataChanged();
    m_targetLdmPending = false;
}

bool Velotrimmer::acceptTargetLdm(const Macropixel& ldm)
{
    if (!m_targetLdmPending)
        return true;
    const int red = static_cast<int>(ldm.redObserved);
    const int green = static_cast<int>(ldm.greenObserved);
    const int blue = static_cast<int>(ldm.blueObserved);
    QString title;
    QString advice;
    if (green < TargetMinGreen || red < TargetMinRedBlue || blue < TargetMinRedBlue) {
        title = QStringLiteral("Target LDM too dark");
        advice = QStringLiteral("Increase camera\u2019s exposure or KESTRA\u2019s brightness");
    } else if (green > TargetMaxGreen || red > TargetMaxRedBlue || blue > TargetMaxRedBlue) {
        title = QStringLiteral("Target LDM too bright");
        advice = QStringLiteral("Decrease camera\u2019s exposure or KESTRA\u2019s brightness");
    } else {
        setStatusString(QStringLiteral("Using target LDM\u2019s RGB %1, %2, %3").arg(red).arg(green).arg(blue));
        return true;
    }
    setStatusString(title);
    emit showMessageBox(title,
                        QStringLiteral("This LDM's RGB values are %2, %3, %4. Target RGB values<br>must be between %5, "
                                       "%6, %5 and %7, %8, %7.<br><br>%1.<br>Aim for an exposure between middle gray "
                                       "and 75% peak white,<br>or a reading of +0.3 to +0.7 on the camera\u2019s "
                                       "exposure meter.")
                            .arg(advice)
                            .arg(red)
                            .arg(green)
                            .arg(blue)
                            .arg(TargetMinRedBlue)
                            .arg(TargetMinGreen)
                            .arg(TargetMaxRedBlue)
                            .arg(TargetMaxGreen));
    return false;
}

bool Velotrimmer::adjustExposureClicks()
{
    if (!m_targetLdmPending || m_imageSource != m_cameraController)
        return false;
    if (!m_autoControlExposure && m_useDebugOptions)
        return false;
    if (m_adjusterSet.macropixels().isEmpty())
        return false;
    const int green = static_cast<int>(m_adjusterSet.macropixels().constFirst()->greenObserved);
    const int clicks = static_cast<int>(std::round(static_cast<float>(TargetExposureGreen - green) / GreenPerClick));
    waitWhileRunning(m_exposureTiming.settleMs);
    qDebug("******* %+d clicks: green is %d  (target %d, diff %+d) *******", clicks, green, TargetExposureGreen,
           TargetExposureGreen - green);
    const bool changed = m_imageSource->changeExposure(clicks) != 0;
    qDebug("requested %+d clicks, got %schanges", clicks, changed ? "" : "NO ");
    if (changed)
        waitWhileRunning(m_exposureTiming.changedSettleMs);
    if (clicks == 0 || changed)
        return changed;
    qDebug("exposure didn't change; camera at limits.");
    setStatusString(QStringLiteral("Can't properly expose target LDM; please adjust KESTRA brightness."));
    return false;
}

void Velotrimmer::displayLdm(int ldmNumber)
{
    const uint number = static_cast<uint>(std::max(ldmNumber, 0));
    QString text = m_display->dumpLdm(number);
    if (m_balanceTargetRed != 0.0 && m_balanceTargetGreen != 0.0 && m_balanceTargetBlue != 0.0) {
        text += QStringLiteral(";  errors %1%, %2%, %3%")
                    .arg(100.0 * ldmRedError(ldmNumber), 7, 'f', 3, QLatin1Char(' '))
                    .arg(100.0 * ldmGreenError(ldmNumber), 7, 'f', 3, QLatin1Char(' '))
                    .arg(100.0 * ldmBlueError(ldmNumber), 7, 'f', 3, QLatin1Char(' '));
    }
    setStatusString(text);
    qInfo("%s", qUtf8Printable(text));
    setLoggableAdjuster(number);
}

void Velotrimmer::displayTile(int tileNumber)
{
    const uint number = static_cast<uint>(std::max(tileNumber, 0));
    const QString text = m_display->dumpTile(number);
    setStatusString(text);
    qInfo("%s", qUtf8Printable(text));
    setLoggableAdjuster(number);
}

void Velotrimmer::setLoggableAdjuster(uint number)
{
    for (Calibrator* adjuster : m_adjusterSet.adjusters())
        adjuster->setLoggable(adjuster->number() == number);
}

double Velotrimmer::ldmError(int ldmNumber, double target, double (DisplayBase::*observed)(uint))
{
    const uint number = static_cast<uint>(std::max(ldmNumber, 0));
    return relativeError((m_display->*observed)(number), target);
}

double Velotrimmer::ldmRedError(int ldmNumber)
{
    return ldmError(ldmNumber, m_balanceTargetRed, &DisplayBase::ldmRedObserved);
}

double Velotrimmer::ldmGreenError(int ldmNumber)
{
    return ldmError(ldmNumber, m_balanceTargetGreen, &DisplayBase::ldmGreenObserved);
}

double Velotrimmer::ldmBlueError(int ldmNumber)
{
    return ldmError(ldmNumber, m_balanceTargetBlue, &DisplayBase::ldmBlueObserved);
}

// ---- The wall's LDM configuration ------------------------------------------------------------

void Velotrimmer::fetchLdms()
{
    if (!uniformityMode())
        return;
    qInfo("Getting LDM configuration...");
    setRunningSilently(true);
    waitWhileRunning(FetchLdmsDelayMs);
    setRunningSilently(false);
    // The program may have begun to quit during the wait: no new request then.
    if (m_shutDown)
        return;
    const quint64 question = m_displayQuestion;
    const ErrorType result = m_display->fetchOutputConfig();
    if (!result.ok())
        qWarning("Fetch LDMs failed: %s", qUtf8Printable(result.message));
    noteDisplayAnswer(result, question);
}

void Velotrimmer::fetchedOutputConfig()
{
    if (m_mode == Template)
        m_display->recallLitTiles();
}

void Velotrimmer::updateProgress()
{
    const QString items = m_mode == Template ? QStringLiteral("macropixels") : QStringLiteral("LDMs");
    uint active = 0;
    uint smallest = std::numeric_limits<uint>::max();
    for (Calibrator* adjuster : m_adjusterSet.adjusters()) {
        if (!adjuster->running())
            continue;
        ++active;
        smallest = std::min(smallest, adjuster->iteration());
    }
    // With no adjuster running there is no iteration to show.
    if (active == 0)
        return;
    const double fraction = static_cast<double>(smallest) / static_cast<double>(m_btMaxIterations);
    const QString remaining = Calibrator::updateStatusTimeRemaining(m_runStartTime, fraction);
    const QString text = smallest == 0
                             ? QStringLiteral("%1 %2 of %3 %4: setting initial gains%5...")
                                   .arg(QStringLiteral("Uniformity"))
                                   .arg(active)
                                   .arg(m_configuredAdjusters)
                                   .arg(items, remaining)
                             : QStringLiteral("%1 %2 of %3 %4: iteration %5%6...")
                                   .arg(QStringLiteral("Uniformity"))
                                   .arg(active)
                                   .arg(m_configuredAdjusters)
                                   .arg(items)
                                   .arg(smallest)
                                   .arg(remaining);
    setStatusString(text);
    setProgress(fraction);
}

void Velotrimmer::setMeshTestPattern()
{
    const uint across = m_tileMeshWidth;
    const uint down = m_tileMeshHeight;
    std::vector<Macropixel> cells;
    for (uint index = 1; index <= m_display->adjustableTileCount(); ++index) {
        const Tile& tile = m_display->adjustableTile(index);
        // A tile without area has no cells; a mesh of no cells has no cell size.
        if (!(tile.width > 0.0f && tile.height > 0.0f) || across == 0 || down == 0)
            continue;
        const float cellWidth = tile.width / float(across);
        const float cellHeight = tile.height / float(down);
        for (uint i = 0; i < across * down; ++i) {
            Macropixel cell(0, float(i % across) * cellWidth + tile.x, float(i / across) * cellHeight + tile.y,
                            cellWidth, cellHeight);
            cell.name = tile.name;
            cell.tileNumber = tile.number;
            const Macropixel* ldm = m_display->findLdm(tile.number, int(cell.x), int(cell.y));
            cell.indexInTile = ldm ? ldm->number : 0; // 0: in no LDM, so not uploaded
            // The parity comes from wall coordinates, so the board runs on across tile borders.
            const auto cx = qint64(cell.x / cellWidth);
            const auto cy = qint64(cell.y / cellHeight);
            const double gain = (cx + cy) % 2 == 0 ? MeshTestPatternDarkGain : 0.0;
            cell.redGain = gain;
            cell.blueGain = gain;
            cells.push_back(std::move(cell));
        }
    }
    QList<Macropixel*> list;
    list.reserve(qsizetype(cells.size()));
    for (Macropixel& cell : cells)
        list.append(&cell);
    const ErrorType result = m_display->setMeshRGBs(list, MeshTestPatternAmount);
    if (!result.ok())
        setStatusString(tr("Mesh test pattern not sent: %1").arg(result.message));
}

// ---- Uniformity set-up -------------------------------------------------------------------------

bool Velotrimmer::setupBalance()
{
    if (!uniformityMode())
        return false;
    if (m_display->ldmCount() == 0) {
        setStatusString(QStringLiteral("The display has no LDMs to adjust."));
        return false;
    }
    m_imageSource->useSavedExposure(true);
    m_runStartTime = QDateTime::currentDateTime();
    if (m_mode == Template)
        qInfo("Adjustable Tiles: %d,  Ldms: %d", m_display->adjustableTileCount(), m_display->adjustableLdmCount());
    const bool built = m_mode == Balance ? buildBalancers() : buildTemplaters();
    if (!built)
        return false;
    if (!m_adjusterBuilder.isBuilding() && m_adjusterSet.isEmpty()) {
        setStatusString(QStringLiteral("Nothing to adjust: the display has no adjustable LDMs or tiles."));
        return false;
    }
    return true;
}

bool Velotrimmer::startUniformity()
{
    if (!setupBalance())
        return false;
    // Stop is offered while the adjusters are built; the calibrator starts when they are.
    announceRunning();
    showSetupProgress(m_adjusterBuilder.built(), m_adjusterBuilder.total());
    return true;
}

void Velotrimmer::showSetupProgress(qsizetype built, qsizetype total)
{
    setStatusString(tr("Preparing adjusters: %1 of %2 %3...").arg(built).arg(total).arg(m_adjusterBuilder.items()));
}

void Velotrimmer::adjustersBuilt()
{
    if (!m_running || m_shutDown)
        return;
    configureBalancers_(m_mode);
    startWorkers();
}

void Velotrimmer::cancelSetup()
{
    if (!m_adjusterBuilder.isBuilding())
        return;
    m_adjusterBuilder.cancel();
    qInfo("Uniformity set-up stopped after %lld of %lld %s.", static_cast<long long>(m_adjusterBuilder.built()),
          static_cast<long long>(m_adjusterBuilder.total()), qUtf8Printable(m_adjusterBuilder.items()));
    deleteAdjusters();
    m_imageSource->useSavedExposure(false);
    setStatusString(QStringLiteral("%1 cancelled before it started.").arg(QStringLiteral("Uniformity")));
    setStatus(-1);
}

AdjusterSettings Velotrimmer::adjusterSettings() const
{
    AdjusterSettings settings;
    settings.targets = {m_balanceTargetRed, m_balanceTargetGreen, m_balanceTargetBlue};
    settings.readDelay = m_removeReflections ? 0u : m_readDelay;
    settings.highGainLimit = m_highGainLimit;
    settings.lowGainLimit = m_lowGainLimit;
    settings.compliantIterations = m_btCompliantIterations;
    settings.minIterations = m_btMinIterations;
    settings.maxIterations = m_btMaxIterations;
    return settings;
}

bool Velotrimmer::buildBalancers()
{
    deleteAdjusters();
    m_adjusterBuilder.startBalance(m_adjusterSet, *m_display, adjusterSettings());
    return true;
}

bool Velotrimmer::buildTemplaters()
{
    deleteAdjusters();
    qInfo("buildTemplaters after deletion: %lld balancers, %lld ldms",
          static_cast<long long>(m_adjusterSet.adjusters().size()),
          static_cast<long long>(m_adjusterSet.macropixels().size()));
    const std::optional<QString> refusal =
        m_adjusterBuilder.startTemplate(m_adjusterSet, *m_display, adjusterSettings(), {m_tileMeshWidth, m_tileMeshHeight});
    if (refusal) {
        setStatusString(*refusal);
        return false;
    }
    return true;
}

void Velotrimmer::configureBalancers_(Mode mode)
{
    if (m_adjusterSet.isEmpty())
        return;
    m_configuredAdjusters = static_cast<uint>(m_adjusterSet.size());
    m_display->setCycling(false);
    setTask(mode == Balance ? Calibrator::Balance : Calibrator::Template);

    // The adjusters were configured with these settings as they were built.
    const AdjusterSettings settings = m_adjusterBuilder.settings();
    const QList<Calibrator*> adjusters = m_adjusterSet.adjusters();
    const QList<Macropixel*> macropixels = m_adjusterSet.macropixels();
    const QList<Tile*> tiles = m_adjusterSet.tiles();
    onCalibrator([=](Calibrator& calibrator) {
        calibrator.setMode(mode);
        settings.applyTo(calibrator);
        calibrator.setLoggable(true);
        calibrator.setAdjusters(adjusters);
        calibrator.setMacropixels(macropixels);
        calibrator.setTiles(tiles);
    });
}

void Velotrimmer::summarizeUniformity()
{
    const QList<Calibrator*>& adjusters = m_adjusterSet.adjusters();
    if (adjusters.isEmpty()) {
        qInfo("%s had no adjusters; nothing to summarize.", "Uniformity");
        return;
    }
    uint fewestIterations = std::numeric_limits<uint>::max();
    uint mostIterations = 0;
    qint64 iterationSum = 0;
    uint fewestPoints = std::numeric_limits<uint>::max();
    uint mostPoints = 0;
    qint64 pointSum = 0;
    for (Calibrator* adjuster : adjusters) {
        const uint iterations = adjuster->iteration();
        const uint points = adjuster->pointsWithinError(0.0);
        fewestIterations = std::min(fewestIterations, iterations);
        mostIterations = std::max(mostIterations, iterations);
        iterationSum += iterations;
        fewestPoints = std::min(fewestPoints, points);
        mostPoints = std::max(mostPoints, points);
        pointSum += points;
    }
    qInfo("%s took %d - %d iterations; %lld on average.", "Uniformity", fewestIterations, mostIterations,
          static_cast<long long>(iterationSum / adjusters.size()));
    if (m_configuredAdjusters == 0)
        qInfo("%s had %d - %d weighted points; n/a on average.", "Uniformity", fewestPoints, mostPoints);
    else
        qInfo("%s had %d - %d weighted points; %d on average.", "Uniformity", fewestPoints, mostPoints,
              static_cast<int>(pointSum / m_configuredAdjusters));
}
