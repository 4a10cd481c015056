// Mesh registration: where the cells of each tile's correction mesh lie in the camera image.
// Three stages, each ended by a tile capture: a white wall (the grader finds the screen's outline),
// a grid with one marker per mesh cell (captured against the same outline), and the grader's
// search for the markers, whose grid is kept as the mesh locations when it has the wall's size.
//
// The grader belongs to the grabber's thread and may be touched only between grabs: every call
// on it goes through onTileGrader, which the grabber runs once no grab is under way, and its
// answers come back here queued.
#include "shell/Velotrimmer.h"

#include "display/DisplayBase.h"
#include "engine/Calibrator.h"
#include "engine/TileGrader.h"

#include <QDebug>

namespace {

// Test patterns of the display.
constexpr qint8 PatternOff = 0;
constexpr qint8 PatternWhite = 1;
constexpr qint8 PatternCellGrid = 2;

const QString CaptureFailed = QStringLiteral("Failed to capture image");
const QString CellsNotFound = QStringLiteral("Failed to identify cell locations");
const QString CellsWrongSize = QStringLiteral("Incorrect cell locations");
const QString CellsAcquired = QStringLiteral("Cell locations acquired");
const QString RegistrationCancelled = QStringLiteral("Cell location cancelled");

} // namespace

void Velotrimmer::connectRegistration(TileGrader& grader)
{
    connect(&grader, &TileGrader::sectionsUpdated, this, &Velotrimmer::tileGraderSectionsUpdated, Qt::QueuedConnection);
    connect(&grader, &TileGrader::aspectRatioUpdated, this, &Velotrimmer::tileGraderAspectRatioUpdated,
            Qt::QueuedConnection);
    connect(&grader, &TileGrader::imageProcessed, this, &Velotrimmer::tileGraderImageProcessed, Qt::QueuedConnection);
    connect(&grader, &TileGrader::averagesUpdated, this, &Velotrimmer::tileGraderAveragesUpdated, Qt::QueuedConnection);
}

// ---- Tile-grader notifications -----------------------------------------------------------------

void Velotrimmer::tileGraderSectionsUpdated()
{
    m_tileGraderSectionsUpdated = true;
}

void Velotrimmer::tileGraderAspectRatioUpdated()
{
    m_tileGraderAspectRatioUpdated = true;
}

void Velotrimmer::tileGraderImageProcessed(bool successful)
{
    m_tileGraderImageProcessed = successful ? 1 : -1;
}

void Velotrimmer::tileGraderAveragesUpdated(cv::Mat)
{
}

// ---- Mesh registration -------------------------------------------------------------------------

void Velotrimmer::runMeshRegistration()
{
    if (!m_running) {
        if (refuseStart())
            return;
        runNothing();
    }
    const int registration = ++m_registration;

    // The next capture must find the screen afresh, and the old locations no longer hold.
    onTileGrader([](TileGrader& grader) {
        grader.setReuseScreenContour(false);
        grader.setMeshLocations(std::nullopt);
        emit grader.hasMeshLocationsChanged();
    });

    showPattern(PatternWhite);
    if (!settleForRegistration(registration, m_registrationTiming.whitePatternMs))
        return;
    captureForRegistration([this](bool success) { runMeshRegistrationPart2(success); });
}

void Velotrimmer::runMeshRegistrationPart2(bool success)
{
    if (!success) {
        endMeshRegistration(CaptureFailed, -1);
        return;
    }
    const int registration = m_registration;
    // The grid's photo is cut out along the outline the white wall gave.
    onTileGrader([this, registration](TileGrader& grader) {
        const bool fourCorners = grader.hasScreenContour();
        if (fourCorners)
            grader.setReuseScreenContour(true);
        QMetaObject::invokeMethod(
            this, [this, registration, fourCorners] { continueMeshRegistration(registration, fourCorners); },
            Qt::QueuedConnection);
    });
}

void Velotrimmer::continueMeshRegistration(int registration, bool fourCorners)
{
    if (registration != m_registration)
        return;
    if (!fourCorners) {
        endMeshRegistration(CaptureFailed, -1);
        return;
    }
    const Tile& reference = m_display->litTile(1);
    const int cellWidth = static_cast<int>(static_cast<double>(reference.width) / m_tileMeshWidth);
    const int cellHeight = static_cast<int>(static_cast<double>(reference.height) / m_tileMeshHeight);
    showPattern(PatternCellGrid, cellWidth, cellHeight);
    if (!settleForRegistration(registration, m_registrationTiming.cellGridMs))
        return;
    captureForRegistration([this](bool success) { runMeshRegistrationPart3(success); });
}

void Velotrimmer::runMeshRegistrationPart3(bool success)
{
    if (!success) {
        endMeshRegistration(CaptureFailed, -1);
        return;
    }
    // The capture refused a reference tile that truncates to nothing, so these divide safely.
    const Tile& reference = m_display->litTile(1);
    const int tileWidth = static_cast<int>(reference.width);
    const int tileHeight = static_cast<int>(reference.height);
    const int tilesAcross = (m_display->maxLitLdmX() - m_display->minLitLdmX()) / tileWidth;
    const int tilesDown = (m_display->maxLitLdmY() - m_display->minLitLdmY()) / tileHeight;
    const cv::Size expected(tilesAcross * static_cast<int>(m_tileMeshWidth),
                            tilesDown * static_cast<int>(m_tileMeshHeight));
    const int registration = m_registration;
    onTileGrader([this, registration, expected](TileGrader& grader) {
        std::optional<cv::Mat> locations = grader.findMeshLocations(grader.screenImage().clone());
        CellLocations outcome = CellLocations::NotFound;
        cv::Size found;
        if (locations) {
            found = locations->size();
            outcome = found == expected ? CellLocations::Stored : CellLocations::WrongSize;
        }
        if (outcome == CellLocations::Stored) {
            grader.setMeshLocations(std::move(locations));
            emit grader.hasMeshLocationsChanged();
        }
        QMetaObject::invokeMethod(
            this,
            [this, registration, outcome, found, expected] {
                finishMeshRegistration(registration, outcome, found, expected);
            },
            Qt::QueuedConnection);
    });
}

void Velotrimmer::finishMeshRegistration(int registration, CellLocations outcome, cv::Size found, cv::Size expected)
{
    if (registration != m_registration)
        return;
    switch (outcome) {
    case CellLocations::NotFound:
        endMeshRegistration(CellsNotFound, -1);
        return;
    case CellLocations::WrongSize:
        qWarning("Cell locations size is (%dx%d), expected (%dx%d)", found.width, found.height, expected.width,
                 expected.height);
        endMeshRegistration(CellsWrongSize, -1);
        return;
    case CellLocations::Stored:
        break;
    }
    showPattern(PatternOff);
    waitWhileRunning(m_registrationTiming.patternOffMs);
    endRunning();
    setStatusString(CellsAcquired);
    setStatus(1);
}

bool Velotrimmer::settleForRegistration(int registration, int milliseconds)
{
    waitWhileRunning(milliseconds);
    if (registration != m_registration)
        return false; // a newer registration took over while this one waited
    if (m_running)
        return true;
    endMeshRegistration(RegistrationCancelled, -1);
    return false;
}

bool Velotrimmer::captureForRegistration(std::function<void(bool)> continuation)
{
    m_grabContinuation = std::move(continuation);
    if (getImageTileRGBData(m_lastGrabVerbose))
        return true;
    endMeshRegistration(CaptureFailed, -1);
    return false;
}

void Velotrimmer::endMeshRegistration(const QString& text, int status)
{
    ++m_registration; // answers still on their way belong to a registration that is over
    showPattern(PatternOff);
    endRunning();
    setStatusString(text);
    setStatus(status);
}

void Velotrimmer::showPattern(qint8 mode, int width, int height)
{
    const ErrorType result = m_display->showTestPattern(mode, width, height);
    if (!result.ok())
        qWarning("Mesh registration: test pattern %d: %s", int(mode), qUtf8Printable(result.message));
}
