#include "ui/WallView.h"

#include "shell/FakeLdmReadings.h"
#include "shell/Velotrimmer.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kImages = QStringLiteral("Images");
const QString kGains = QStringLiteral("Gains");
const QString kErrors = QStringLiteral("Errors");

// An observed value as a colour channel.
int channel(double value)
{
    return std::clamp(int(std::lround(value)), 0, 255);
}

// A colour from three values in [0, 1] (clamped), as QML's Qt.rgba makes it.
QRgb unitColour(double red, double green, double blue)
{
    return QColor::fromRgbF(float(std::clamp(red, 0.0, 1.0)), float(std::clamp(green, 0.0, 1.0)),
                            float(std::clamp(blue, 0.0, 1.0)))
        .rgba();
}

// Mid-grey for an unchanged channel, brighter for a raised one.
double gainShade(double gain)
{
    return (1.0 + gain) / 2.0;
}

// Mid-grey on target, brighter above it, darker below.
double errorShade(double observed, double target)
{
    return 0.5 + Velotrimmer::relativeError(observed, target);
}

} // namespace

WallView::WallView(QQuickItem* parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
}

void WallView::setDisplay(DisplayBase* display)
{
    if (display == m_display)
        return;
    if (m_display)
        disconnect(m_display, nullptr, this, nullptr);
    m_display = display;
    if (display) {
        const auto newData = [this] { invalidate(Shades); };
        const auto newLayout = [this] { invalidate(Layout | Shades); };
        connect(display, &DisplayBase::ldmDataChanged, this, newData);
        connect(display, &DisplayBase::tileDataChanged, this, newData);
        connect(display, &DisplayBase::refreshChanged, this, newLayout);
        connect(display, &DisplayBase::fetchedOutputConfig, this, newLayout);
        connect(display, &DisplayBase::ldmCountChanged, this, newLayout);
        connect(display, &DisplayBase::tileCountChanged, this, newLayout);
        connect(display, &QObject::destroyed, this, newLayout);
    }
    emit displayChanged();
    invalidate(Layout | Shades);
}

void WallView::setZoom(double zoom)
{
    if (zoom == m_zoom || !(zoom > 0.0))
        return;
    m_zoom = zoom;
    emit zoomChanged();
    update();
}

void WallView::setTileMode(bool tileMode)
{
    if (tileMode == m_tileMode)
        return;
    m_tileMode = tileMode;
    emit tileModeChanged();
    invalidate(Layout | Shades);
}

QString WallView::showMode() const
{
    switch (m_show) {
    case Gains:
        return kGains;
    case Errors:
        return kErrors;
    case Images:
        break;
    }
    return kImages;
}

void WallView::setShowMode(const QString& showMode)
{
    const Show show = showMode == kGains ? Gains : showMode == kErrors ? Errors : Images;
    if (show == m_show)
        return;
    m_show = show;
    emit showModeChanged();
    invalidate(Shades);
}

void WallView::setTarget(int channel, double value)
{
    if (value == m_target[channel])
        return;
    m_target[channel] = value;
    emit targetChanged();
    if (m_show == Errors)
        invalidate(Shades);
}

void WallView::invalidate(unsigned stale)
{
    m_stale |= stale;
    if (isVisible())
        polish();
}

void WallView::itemChange(ItemChange change, const ItemChangeData& value)
{
    if (change == ItemVisibleHasChanged && value.boolValue && m_stale != Nothing)
        polish();
    QQuickItem::itemChange(change, value);
}

void WallView::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    update();
}

void WallView::updatePolish()
{
    if (m_stale != Nothing)
        read();
}

void WallView::catchUp()
{
    if (m_stale & Layout)
        read();
}

void WallView::read()
{
    const unsigned stale = std::exchange(m_stale, Nothing);
    // The whole wall in one call; a list whose length no longer matches the layout is a new one.
    const auto readRecords = [&](const auto& records, auto&& shadeOf) {
        const bool relayout = (stale & Layout) || !m_layout || m_layout->size() != records.size();
        std::vector<WallIndex::Box> boxes;
        if (relayout)
            boxes.reserve(std::size_t(records.size()));
        auto shades = std::make_shared<std::vector<WallShade>>();
        shades->reserve(std::size_t(records.size()));
        for (const auto& record : records) {
            if (relayout)
                boxes.push_back({record.x, record.y, record.width, record.height});
            shades->push_back(shadeOf(record));
        }
        m_shades = std::move(shades);
        if (relayout)
            m_layout = std::make_shared<const WallIndex>(std::move(boxes));
        return relayout;
    };
    bool relayout = false;
    if (!m_display)
        relayout = readRecords(QList<Macropixel>(), [this](const Macropixel& ldm) { return ldmShade(ldm); });
    else if (m_tileMode)
        relayout = readRecords(m_display->allTiles(), &WallView::tileShade);
    else
        relayout = readRecords(m_display->allLdms(), [this](const Macropixel& ldm) { return ldmShade(ldm); });
    update();
    if (!relayout)
        return;
    ++m_layoutRevision;
    const QRect extent = m_display ? QRect(m_display->minX(), m_display->minY(), m_display->maxX() - m_display->minX(),
                                           m_display->maxY() - m_display->minY())
                                   : QRect(0, 0, 1, 1);
    const bool moved = extent != m_extent;
    m_extent = extent;
    if (moved)
        emit wallChanged();
    emit layoutChanged();
}

WallShade WallView::ldmShade(const Macropixel& ldm) const
{
    const QRgb frame = ldm.adjustable ? AdjustableFrame : ldm.lit ? LitLdmFrame : DarkLdmFrame;
    if (!ldm.lit)
        return {DarkFill, frame};
    switch (m_show) {
    case Gains:
        return {unitColour(gainShade(ldm.redGain), gainShade(ldm.greenGain), gainShade(ldm.blueGain)), frame};
    case Errors:
        return {unitColour(errorShade(ldm.redObserved, m_target[0]), errorShade(ldm.greenObserved, m_target[1]),
                           errorShade(ldm.blueObserved, m_target[2])),
                frame};
    case Images:
        break;
    }
    return {qRgb(channel(ldm.redObserved), channel(ldm.greenObserved), channel(ldm.blueObserved)), frame};
}

WallShade WallView::tileShade(const Tile& tile)
{
    return {tile.lit ? LitTileFill : DarkTileFill,
            tile.adjustable ? AdjustableFrame : tile.lit ? LitTileFrame : DarkTileFrame};
}

WallPicture WallView::picture() const
{
    return {m_layout, m_shades, QPointF(m_extent.topLeft()), m_zoom};
}

QSGNode* WallView::updatePaintNode(QSGNode* old, UpdatePaintNodeData*)
{
    auto* node = static_cast<WallNode*>(old);
    if (!m_layout || m_layout->size() == 0) {
        delete node;
        return nullptr;
    }
    if (!node)
        node = new WallNode(window());
    node->show(picture(), boundingRect());
    return node;
}

int WallView::itemAt(double x, double y)
{
    catchUp();
    if (!m_layout)
        return 0;
    return m_layout->at(QPointF(x / m_zoom + originX(), y / m_zoom + originY())) + 1;
}

QRectF WallView::itemRect(int number) const
{
    if (!m_layout || number < 1 || number > m_layout->size())
        return {};
    return picture().pixelRect(number - 1);
}

QRect WallView::wallRect(double x1, double y1, double x2, double y2)
{
    catchUp();
    const int left = int(std::floor(std::min(x1, x2) / m_zoom)) + originX();
    const int top = int(std::floor(std::min(y1, y2) / m_zoom)) + originY();
    const int right = int(std::ceil(std::max(x1, x2) / m_zoom)) + originX();
    const int bottom = int(std::ceil(std::max(y1, y2) / m_zoom)) + originY();
    return QRect(left, top, right - left, bottom - top);
}

void WallView::writeFakeReadings(double variation)
{
    if (m_display)
        FakeLdmReadings::write(*m_display, variation);
    invalidate(Shades);
}
