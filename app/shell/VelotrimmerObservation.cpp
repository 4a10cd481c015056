#include "shell/Velotrimmer.h"

#include "display/DisplayBase.h"
#include "engine/Background.h"
#include "instruments/ImageSource.h"
#include "shell/SettingKeys.h"

#include <QDebug>
#include <QDir>
#include <QSettings>

#include <algorithm>
#include <limits>

void Velotrimmer::blankDisplay(bool blank)
{
    m_display->lightLitLdms(!blank);
}

bool Velotrimmer::usingRawImages() const
{
    return m_useRawImages && m_useDebugOptions;
}

// ---- Camera observations -----------------------------------------------------------------------

bool Velotrimmer::getImageLdmRGBData(bool verbose)
{
    if (m_display->ldmCount() == 0) {
        qInfo("Velotrimmer::getImageLdmRGBData: No LDMs found, so no capture or processing performed.");
        return false;
    }
    if (m_imageSource->isDummy()) {
        m_lastGrabVerbose = verbose;
        if (verbose)
            qInfo("Dummy camera used; \"capture\" succeeded.");
        emit m_display->needFakeLdmRGBsChanged();
        QList<Macropixel*> records = m_adjusterSet.macropixels();
        m_display->getLdmObservedRGBs(records);
        emit m_display->ldmDataChanged();
        if (m_grabContinuation)
            m_grabContinuation(true);
        return true;
    }
    const Macropixel& reference = m_display->litLdm(1);
    const int width = static_cast<int>(reference.width);
    const int height = static_cast<int>(reference.height);
    return describeArrayAndGrab(width, height, 1, 1, GrabLdms, verbose, "LDM");
}

bool Velotrimmer::getImageTileRGBData(bool verbose)
{
    if (m_display->tileCount() == 0) {
        qInfo("Velotrimmer::getImageTileRGBData: No Tiles found, so no capture or processing performed.");
        return false;
    }
    if (m_imageSource->isDummy()) {
        if (verbose)
            qInfo("Dummy camera used; tile \"capture\" cannot be done.");
        return false;
    }
    const Tile& reference = m_display->litTile(1);
    const int width = static_cast<int>(reference.width);
    const int height = static_cast<int>(reference.height);
    return describeArrayAndGrab(width, height, static_cast<int>(m_tileMeshWidth), static_cast<int>(m_tileMeshHeight),
                                GrabTiles, verbose, "Tile");
}

bool Velotrimmer::describeArrayAndGrab(int width, int height, int subColumns, int subRows, int kind, bool verbose,
                                       const char* what)
{
    if (width == 0 || height == 0) {
        endRunning();
        qWarning("Error: reference %s has a zero dimension: %d w, %d h", what, width, height);
        return false;
    }
    const std::optional<ArrayGeometry> geometry = arrayGeometry(width, height);
    if (!geometry) {
        endRunning();
        return false;
    }
    if (verbose)
        qInfo("%s array is %d x %d (one %s is %d x %d)", what, geometry->columns, geometry->rows, what, width, height);
    ImageSource* source = m_imageSource;
    onBackground([source, geometry = *geometry, subColumns, subRows](Background& background) {
        background.setImageSource(source);
        background.setArrayInfo(geometry.columns, geometry.rows, geometry.aspect);
        background.setSubarrayInfo(subColumns, subRows);
    });
    m_grabKind = kind;
    m_lastGrabVerbose = verbose;
    emit grabImageData(verbose);
    return true;
}

std::optional<Velotrimmer::ArrayGeometry> Velotrimmer::arrayGeometry(int width, int height) const
{
    // With no lit LDM the extents hold their sentinels (minimum above maximum); their difference
    // is taken in 64 bits so that it cannot overflow.
    const qint64 spanX = qint64(m_display->maxLitLdmX()) - m_display->minLitLdmX();
    const qint64 spanY = qint64(m_display->maxLitLdmY()) - m_display->minLitLdmY();
    const qint64 columns = spanX > 0 ? spanX / width : 0;
    const qint64 rows = spanY > 0 ? spanY / height : 0;
    if (columns <= 0 || rows <= 0 || columns > std::numeric_limits<int>::max() || rows > std::numeric_limits<int>::max()) {
        qWarning("Error: the lit array holds no cells: %lld columns, %lld rows (lit LDMs span %lld w, %lld h; "
                 "one cell is %d w, %d h)",
                 static_cast<long long>(std::max<qint64>(columns, 0)), static_cast<long long>(std::max<qint64>(rows, 0)),
                 static_cast<long long>(spanX), static_cast<long long>(spanY), width, height);
        return std::nullopt;
    }
    return ArrayGeometry{static_cast<int>(columns), static_cast<int>(rows),
                         static_cast<float>(spanX) / static_cast<float>(spanY)};
}

void Velotrimmer::grabImageDataDone(bool success, QList<cv::Mat*>* averagesArrayList)
{
    if (success)
        success = mapAverages(averagesArrayList);
    if (m_grabContinuation)
        m_grabContinuation(success);
}

bool Velotrimmer::mapAverages(const QList<cv::Mat*>* averages)
{
    // The reply is checked against the reference of its own kind: its sizes divide the extents.
    const bool tiles = m_grabKind == GrabTiles;
    int width = 0;
    int height = 0;
    if (tiles) {
        const Tile& reference = m_display->litTile(1);
        width = static_cast<int>(reference.width);
        height = static_cast<int>(reference.height);
    } else {
        const Macropixel& reference = m_display->litLdm(1);
        width = static_cast<int>(reference.width);
        height = static_cast<int>(reference.height);
    }
    if (width == 0 || height == 0 || !averages) {
        qWarning("Error: no averages (%p), or reference %s has a zero dimension: %d w, %d h",
                 static_cast<const void*>(averages), tiles ? "Tile" : "LDM", width, height);
        endRunning();
        return false;
    }
    const std::optional<ArrayGeometry> geometry = arrayGeometry(width, height);
    if (!geometry) {
        endRunning();
        return false;
    }
    const int columns = geometry->columns;
    const int minX = m_display->minLitLdmX();
    const int minY = m_display->minLitLdmY();
    // The cell under an item's centre holds its average.
    auto cellOf = [&](float x, float y) -> const cv::Mat* {
        const int column = static_cast<int>((static_cast<float>(width / 2) + x - static_cast<float>(minX)) / static_cast<float>(width));
        const int row = static_cast<int>((static_cast<float>(height / 2) + y - static_cast<float>(minY)) / static_cast<float>(height));
        const qsizetype index = static_cast<qsizetype>(row) * columns + column;
        if (column < 0 || row < 0 || column >= columns || index >= averages->size())
            return nullptr;
        return averages->at(index);
    };

    if (!tiles) {
        const uint count = m_display->ldmCount();
        for (uint number = 1; number <= count; ++number) {
            const Macropixel& ldm = m_display->ldm(number);
            if (!ldm.isOn())
                continue;
            const cv::Mat* cell = cellOf(ldm.x, ldm.y);
            if (!cell || cell->empty() || cell->type() != CV_32FC3)
                continue;
            const cv::Vec3f pixel = cell->at<cv::Vec3f>(0, 0);
            m_display->setLdmRGBObserved(number, pixel[2], pixel[1], pixel[0]);
        }
        emit m_display->ldmDataChanged();
        if (!m_adjusterSet.macropixels().isEmpty()) {
            QList<Macropixel*> records = m_adjusterSet.macropixels();
            m_display->getLdmObservedRGBs(records);
        }
        return true;
    }

    const qsizetype cells = static_cast<qsizetype>(m_tileMeshWidth) * m_tileMeshHeight;
    for (Tile* tile : m_adjusterSet.tiles()) {
        if (!tile->lit)
            continue;
        if (tile->ldms.size() != cells) {
            qWarning("grabImageDataDone(): tile %d mpel count is %lld, not %zu!", tile->number,
                     static_cast<long long>(tile->ldms.size()), static_cast<size_t>(cells));
            continue;
        }
        const cv::Mat* cell = cellOf(tile->x, tile->y);
        if (!cell || cell->type() != CV_32FC3 || cell->rows < static_cast<int>(m_tileMeshHeight)
            || cell->cols < static_cast<int>(m_tileMeshWidth))
            continue;
        for (uint row = 0; row < m_tileMeshHeight; ++row) {
            for (uint column = 0; column < m_tileMeshWidth; ++column) {
                const cv::Vec3f pixel = cell->at<cv::Vec3f>(static_cast<int>(row), static_cast<int>(column));
                Macropixel* record = tile->ldms.at(static_cast<qsizetype>(row * m_tileMeshWidth + column));
                record->redObserved = pixel[2];
                record->greenObserved = pixel[1];
                record->blueObserved = pixel[0];
            }
        }
    }
    return true;
}

void Velotrimmer::getLdmsObserved()
{
    if (!m_running)
        return;
    if (!m_imageSource->isDummy()) {
        m_grabContinuation = [this](bool ok) { getLdmsObservedPart2(ok); };
        if (!getImageLdmRGBData(false))
            getLdmsObservedPart2(false);
        return;
    }
    emit m_display->needFakeLdmRGBsChanged();
    QList<Macropixel*> records = m_adjusterSet.macropixels();
    m_display->getLdmObservedRGBs(records);
    emit ldmsObserved(m_adjusterSet.macropixels());
}

void Velotrimmer::getLdmsObservedPart2(bool ok)
{
    if (ok) {
        emit ldmsObserved(m_adjusterSet.macropixels());
        return;
    }
    qWarning("Velotrimmer::getLdmsObservedPart2() failed; terminating balance");
    endRunning();
}

void Velotrimmer::getTilesObserved()
{
    if (!m_running)
        return;
    if (m_mode == Template && !m_imageSource->isDummy()) {
        m_grabContinuation = [this](bool ok) { getTilesObservedPart2(ok); };
        if (!getImageTileRGBData(true))
            getTilesObservedPart2(false);
        return;
    }
    qWarning(m_mode == Template ? "getTilesObserved: not usable with dummy camera." : "getTilesObserved: not Template mode.");
    endRunning();
}

void Velotrimmer::getTilesObservedPart2(bool ok)
{
    if (ok) {
        emit tilesObserved(m_adjusterSet.tiles());
        return;
    }
    qWarning("Velotrimmer::getTilesObservedPart2() failed; terminating balance");
    endRunning();
}

// ---- Capture-and-processing test -----------------------------------------------------------------

void Velotrimmer::grabImage(bool verbose)
{
    if (refuseStart())
        return;
    m_grabTestTimer.start();
    if (verbose)
        qInfo("##### Image capture and processing test #####");
    runNothing();
    m_grabContinuation = [this](bool success) { grabImagePart2(success); };
    // Only the balance run measures LDMs; the other modes work on tiles.
    const bool started = m_mode == Balance ? getImageLdmRGBData(verbose) : getImageTileRGBData(verbose);
    // A capture that cannot start ends the test as failed, so that the interface is not left busy.
    if (!started)
        grabImagePart2(false);
}

void Velotrimmer::grabImagePart2(bool success)
{
    endRunning();
    if (m_lastGrabVerbose)
        qInfo("##### Capture and processing test done in %.3f seconds #####",
              static_cast<double>(m_grabTestTimer.elapsed()) / 1000.0);
    setStatusString(success ? QStringLiteral("Image capture and processing succeeded.")
                            : QStringLiteral("Image capture or processing failed."));
    setStatus(success ? 1 : -1);
}
