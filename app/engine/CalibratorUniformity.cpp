#include "engine/Calibrator.h"

#include "display/DisplayBase.h"
#include "engine/ThreadWait.h"

#include <QDeadlineTimer>
#include <QHash>

#include <set>
#include <utility>

// The balance and template runs: one adjuster per LDM (or mesh cell) searches that LDM's gain
// trims until its observed colour meets the common targets. The master drives every adjuster in
// lock-step on its own thread: each update cycle advances every adjuster's coroutine by one step,
// sends the changed gains in one batch, has the wall photographed once and hands each adjuster
// its LDM's observed values.

namespace {

// In these runs a gain is a trim around the neutral 0.
constexpr double TrimMinimum = -1.0;
constexpr double TrimMaximum = 1.0;
constexpr double TrimNeutral = 0.0;

// Both phases together end after this many update cycles; the run still counts as completed.
constexpr uint MaxUpdateCycles = 1000;
// Settling after the first cycle, on top of the read delay.
constexpr uint InitialSettleMs = 1000;
// setLdmRGBs attempts while the display answers with recoverable errors.
constexpr int LdmAttempts = 20;
// The scale of a mesh upload.
constexpr float MeshScale = 1.0f;

struct RunWords
{
    const char* run;     // "balance"
    const char* running; // "balancing"
    const char* adjuster; // "balancer"
};

RunWords runWords(bool templating)
{
    return templating ? RunWords{"template", "templating", "templater"} : RunWords{"balance", "balancing", "balancer"};
}

QString capitalized(const char* word)
{
    QString text = QString::fromLatin1(word);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

void Calibrator::runUniformity()
{
    const bool templating = task() == Template;
    const RunWords words = runWords(templating);
    if (verbose())
        qDebug("Calibrator #%u %s", m_number, words.running);
    if (m_number > 0) {
        refuseUniformity(QString::asprintf(
            "#%d %s should NOT happen here! Make sure that running is NOT sent to adjusters_[i].", int(m_number), words.run));
        return;
    }
    if (adjusters().size() != macropixels().size()) {
        refuseUniformity(QString::asprintf("***balance(): %lld adjusters != %lld macropixels. ***",
                                           static_cast<long long>(adjusters().size()),
                                           static_cast<long long>(macropixels().size())));
        return;
    }
    if (adjusters().isEmpty()) {
        refuseUniformity(QStringLiteral("***balance(): no macropixels to process. ***"));
        return;
    }

    m_stopReason.clear();
    makeTaskState().startTime = QDateTime::currentDateTime();
    makeTaskState().runClock.start();
    m_usingCoroutines = true;
    m_currentStep = 1;
    m_steps = 1;
    m_minimumValue = TrimMinimum;
    m_maximumValue = TrimMaximum;
    m_maximumLevel = TrimNeutral;
    for (Calibrator* adjuster : std::as_const(adjusters()))
        prepareAdjuster(*adjuster);
    adjusters().constFirst()->setLoggable(true);
    setStatusString(QStringLiteral("Setting initial levels..."));

    setAndReadMacropixels_(true);
    waitMs(m_readDelay + InitialSettleMs);

    uint cycles = 1;
    bool unfinished = true;
    while (unfinished && m_running && cycles < MaxUpdateCycles) {
        unfinished = advanceAdjusters(&Calibrator::m_gainTask, false);
        setAndReadMacropixels_(false);
        ++cycles;
    }
    unfinished = true;
    while (unfinished && m_running && cycles < MaxUpdateCycles) {
        unfinished = advanceAdjusters(&Calibrator::m_stepTask, true);
        setAndReadMacropixels_(false);
        ++cycles;
    }

    // Only a finished run becomes the tiles' calibration; a stopped one leaves its meshes
    // uploaded but uncommitted.
    if (templating && m_running && m_stopReason.isEmpty()) {
        DisplayBase* display = m_display;
        const ErrorType committed = display ? display->commitMeshRGBs(makeTaskState().macropixels)
                                            : ErrorType::failure(ErrorType::Fatal, QStringLiteral("no display"));
        if (!committed.ok())
            failRun(QStringLiteral("Calibrator::commitMeshRGBs: failed: %1").arg(committed.message));
    }

    for (Calibrator* adjuster : std::as_const(adjusters())) {
        adjuster->m_stepTask = EngineTask();
        adjuster->m_gainTask = EngineTask();
    }
    if (verbose())
        qDebug("*** %lld %ss done after %d update cycles. ***", static_cast<long long>(adjusters().size()), words.adjuster,
               int(cycles));

    const bool completed = m_running && m_stopReason.isEmpty();
    QString status;
    if (!m_stopReason.isEmpty())
        status = m_stopReason;
    else if (!m_running)
        status = QStringLiteral("%1 run cancelled").arg(capitalized(words.run));
    else
        status = QStringLiteral("%1 run completed").arg(capitalized(words.run));
    setStatusString(status);
    qDebug("%s", qUtf8Printable(status));
    TaskState& state = makeTaskState();
    state.elapsedSeconds = state.runClock.elapsed() / 1000;
    m_usingCoroutines = false;
    endRun();
    setProgress(-1.0);
    // The controller frees the adjusters and their records when done arrives: nothing of them
    // may be touched after it.
    emit done(m_number, completed);
}

void Calibrator::refuseUniformity(const QString& line)
{
    qDebug("%s", qUtf8Printable(line));
    setStatusString(line);
    endRun();
    emit done(m_number, false);
}

void Calibrator::prepareAdjuster(Calibrator& adjuster) const
{
    adjuster.m_usingCoroutines = true;
    adjuster.m_currentStep = 1;
    adjuster.m_steps = 1;
    adjuster.m_minimumValue = TrimMinimum;
    adjuster.m_maximumValue = TrimMaximum;
    adjuster.m_maximumLevel = TrimNeutral;
    adjuster.m_iteration = 0;
    adjuster.m_stopReason.clear();
    // The targets are observed red, green and blue levels: stored as they are, outside the ranges
    // the colour-temperature setters clamp to.
    adjuster.m_targetCCT = m_templateTargets[0];
    adjuster.m_targetDuv = m_templateTargets[1];
    adjuster.m_targetLum = m_templateTargets[2];
    adjuster.coSetRGBGains_(TrimNeutral, TrimNeutral, TrimNeutral, 0);
    adjuster.m_stepTask = adjuster.coCalibrateStep(m_templateTargets[2]);
    adjuster.m_gainTask = adjuster.coSetGains();
    adjuster.setRunning(true);
}

bool Calibrator::advanceAdjusters(EngineTask Calibrator::*task, bool idleWhenFinished)
{
    bool unfinished = false;
    for (Calibrator* adjuster : std::as_const(adjusters())) {
        if (!m_running)
            break;
        EngineTask& coroutine = adjuster->*task;
        // A finished coroutine is never resumed.
        if (coroutine.done())
            continue;
        coroutine.resume();
        if (!coroutine.done())
            unfinished = true;
        else if (idleWhenFinished)
            adjuster->setRunning(false);
    }
    return unfinished;
}

void Calibrator::setAndReadMacropixels_(bool initial)
{
    const bool templating = task() == Template;
    for (qsizetype index = 0; index < adjusters().size(); ++index) {
        const uint adjusterNumber = adjusters().at(index)->number();
        const uint ldmNumber = macropixels().at(index)->number;
        if (adjusterNumber != ldmNumber) {
            failRun(QString::asprintf("*** ERROR: adjusters and macropixels are out of sync: %d vs. %d for index %d ***",
                                      int(adjusterNumber), int(ldmNumber), int(index)));
            return;
        }
    }

    emit updateProgress();
    QHash<quint32, Tile*> tilesByNumber;
    for (Tile* tile : std::as_const(tiles())) {
        tile->extraFlag = initial;
        tilesByNumber.insert(tile->number, tile);
    }

    // Changed LDMs by (tile number, LDM in tile): a mesh upload sends every cell of such an LDM.
    std::set<std::pair<quint32, quint32>> changedKeys;
    int changedLdms = 0;
    for (qsizetype index = 0; index < macropixels().size(); ++index) {
        Macropixel& ldm = *macropixels()[index];
        Calibrator& adjuster = *adjusters()[index];
        if (initial) {
            ldm.redGain = ldm.greenGain = ldm.blueGain = m_maximumLevel;
        } else if (adjuster.m_rgbPending) {
            adjuster.m_rgbPending = false;
            ldm.redGain = adjuster.m_rgb[0];
            ldm.greenGain = adjuster.m_rgb[1];
            ldm.blueGain = adjuster.m_rgb[2];
        } else {
            continue;
        }
        ++changedLdms;
        if (templating) {
            changedKeys.insert({ldm.tileNumber, ldm.indexInTile});
            // A tile is changed whenever one of its LDMs is, so that later cycles reach the display.
            if (Tile* tile = tilesByNumber.value(ldm.tileNumber))
                tile->extraFlag = true;
        }
    }

    bool anyTileChanged = false;
    if (templating) {
        int changedTiles = 0;
        for (const Tile* tile : std::as_const(tiles()))
            changedTiles += tile->extraFlag ? 1 : 0;
        anyTileChanged = changedTiles > 0;
        if (changedTiles != tiles().size())
            qDebug("(%d tile(s) changed, %lld tiles total)", changedTiles, static_cast<long long>(tiles().size()));
        if (changedLdms == 0)
            qDebug("*** Nothing changed; will just grab image ***");
    }

    if (!templating) {
        sendLdmRGBs_();
    } else if (!m_simulatedDisplay) {
        QList<Macropixel*> changed;
        for (Macropixel* ldm : std::as_const(macropixels())) {
            if (changedKeys.count({ldm->tileNumber, ldm->indexInTile}) > 0)
                changed.append(ldm);
        }
        if (!changed.isEmpty() && m_running) {
            DisplayBase* display = m_display;
            const ErrorType result = display ? display->setMeshRGBs(changed, MeshScale)
                                             : ErrorType::failure(ErrorType::Fatal, QStringLiteral("no display"));
            if (result.ok())
                qDebug("Kestra::setAndReadMacropixels_: setMeshRGBs completed, %lld mpels changed",
                       static_cast<long long>(changed.size()));
            else
                failRun(QStringLiteral("Kestra::setAndReadMacropixels_: setMeshRGBs failed: %1").arg(result.message));
        }
    } else if (anyTileChanged) {
        sendLdmRGBs_();
    }
    if (!m_running)
        return;

    waitMs(m_readDelay);
    if (!waitForObservation())
        return;
    for (qsizetype index = 0; index < macropixels().size(); ++index) {
        const Macropixel& ldm = *macropixels().at(index);
        adjusters()[index]->m_reading = {ldm.redObserved, ldm.greenObserved, ldm.blueObserved};
    }
}

bool Calibrator::waitForObservation()
{
    if (!m_running)
        return false;
    m_readingReady = false;
    if (task() == Template)
        emit getTilesObserved();
    else
        emit getLdmsObserved();
    ThreadWait::until([this] { return m_readingReady || !m_running; },
                      QDeadlineTimer(qint64(timing().observationTimeoutMs), Qt::PreciseTimer));
    if (!m_running)
        return false;
    if (!m_readingReady) {
        failRun(QStringLiteral("Calibrator::setAndReadMacropixels_: no observed values within %1 ms")
                    .arg(timing().observationTimeoutMs));
        return false;
    }
    return true;
}

bool Calibrator::sendLdmRGBs_()
{
    for (int attempt = 1; attempt <= LdmAttempts && m_running; ++attempt) {
        DisplayBase* display = m_display;
        const ErrorType result = display ? display->setLdmRGBs(makeTaskState().macropixels)
                                         : ErrorType::failure(ErrorType::Fatal, QStringLiteral("no display"));
        if (result.ok())
            return true;
        if (result.kind == ErrorType::Fatal) {
            failRun(QStringLiteral("Calibrator::setLdmRGBs: fatal error %1").arg(result.message));
            return false;
        }
        // Recoverable, or a kind this engine does not know: either way one attempt is used up.
        const int left = LdmAttempts - attempt;
        if (left == 0) {
            failRun(QStringLiteral("Calibrator::setLdmRGBs: recoverable error %1; giving up after %2 attempts")
                        .arg(result.message)
                        .arg(LdmAttempts));
            return false;
        }
        qDebug("Calibrator::setLdmRGBs: recoverable error %s; will retry %dx...", qUtf8Printable(result.message), left);
        waitMs(timing().ldmRetryPauseMs);
    }
    return false;
}

void Calibrator::failRun(const QString& line)
{
    qDebug("%s", qUtf8Printable(line));
    stopRun(line);
}

void Calibrator::finishBalancing()
{
    m_finishRequested = true;
}

void Calibrator::macropixelsObserved(const QList<Macropixel*>& newMacropixels)
{
    if (m_mode != BalanceMode || newMacropixels.isEmpty())
        return;
    setMacropixels(newMacropixels);
    m_readingReady = true;
}

void Calibrator::tilesObserved(const QList<Tile*>& newTiles)
{
    if (m_mode != TemplateMode || newTiles.isEmpty())
        return;
    setTiles(newTiles);
    m_readingReady = true;
}
