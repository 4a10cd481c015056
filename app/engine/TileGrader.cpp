#include "engine/TileGrader.h"

#include <QDebug>

#include <algorithm>
#include <array>

namespace {

// Demosaicing qualities the raw developer accepts.
constexpr std::array<uint, 7> KnownInterpolations{0, 1, 2, 3, 4, 11, 12};

} // namespace

TileGrader::TileGrader(QObject* parent)
    : QObject(parent)
{
}

TileGrader::~TileGrader() = default;

bool TileGrader::hasScreenContour() const
{
    return m_screenContour && m_screenContour->size() == ScreenCorners;
}

void TileGrader::setReuseScreenContour(bool reuseScreenContour)
{
    if (m_reuseScreenContour == reuseScreenContour)
        return;
    m_reuseScreenContour = reuseScreenContour;
    emit reuseScreenContourChanged();
}

void TileGrader::setSections(int width, int height)
{
    if (width != m_sectionsWide || height != m_sectionsHigh)
        m_sectionsDirty = true;
    m_sectionsWide = width;
    m_sectionsHigh = height;
    emit sectionsUpdated();
}

void TileGrader::setSectionsW(int sections)
{
    if (sections != m_sectionsWide)
        m_sectionsDirty = true;
    m_sectionsWide = sections;
    emit sectionsUpdated();
}

void TileGrader::setSectionsH(int sections)
{
    if (sections != m_sectionsHigh)
        m_sectionsDirty = true;
    m_sectionsHigh = sections;
    emit sectionsUpdated();
}

void TileGrader::setSubsections(int width, int height)
{
    if (width != m_subsectionsWide || height != m_subsectionsHigh)
        m_sectionsDirty = true;
    m_subsectionsWide = width;
    m_subsectionsHigh = height;
    emit subsectionsUpdated();
}

void TileGrader::setAspectRatio(float aspectRatio)
{
    m_aspectRatio = aspectRatio;
    emit aspectRatioUpdated();
}

void TileGrader::setProfiling(bool profiling)
{
    m_profiling = profiling;
}

void TileGrader::setLensFile(QString newLensFile)
{
    if (newLensFile != m_lens.lensFile())
        m_lens = LensCompensation(newLensFile);
}

void TileGrader::useLogImages(bool useLog)
{
    m_useLog = useLog;
}

void TileGrader::useRawImages(bool useRaw)
{
    m_useRaw = useRaw;
}

void TileGrader::setRawInterpolation(uint interpolation)
{
    if (std::find(KnownInterpolations.begin(), KnownInterpolations.end(), interpolation) == KnownInterpolations.end()) {
        qDebug("Unknown raw interpolation value %u; using 0 (bilinear)", interpolation);
        interpolation = BilinearInterpolation;
    }
    m_rawInterpolation = interpolation;
}

void TileGrader::setHighlightRecovery(uint highlights)
{
    if (highlights >= HighlightModeLimit) {
        qDebug("unknown highlight recovery mode %u, using 3 (rebuild favoring white)", highlights);
        highlights = RebuildFavoringWhite;
    }
    m_highlights = highlights;
}

void TileGrader::setGammaTweak(float gamma)
{
    m_gamma = gamma;
}

void TileGrader::setGainTweak(float gain)
{
    m_gain = gain;
}

void TileGrader::setLinearGainBoost(uint boost)
{
    m_linearGainBoost = boost;
}
