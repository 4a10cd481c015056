#include "ui/WallNode.h"

#include <QPainter>
#include <QQuickWindow>
#include <QSGGeometryNode>
#include <QSGRenderNode>
#include <QSGRendererInterface>
#include <QSGVertexColorMaterial>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kFillVertices = 6;  // two triangles
constexpr int kFrameVertices = 8; // four lines

int pixel(double at)
{
    return int(std::lround(at));
}

QSGGeometryNode* newColouredNode(QSGGeometry::DrawingMode mode)
{
    auto* node = new QSGGeometryNode;
    auto* geometry = new QSGGeometry(QSGGeometry::defaultAttributes_ColoredPoint2D(), 0);
    geometry->setDrawingMode(mode);
    if (mode == QSGGeometry::DrawLines)
        geometry->setLineWidth(1.0f);
    node->setGeometry(geometry);
    node->setFlag(QSGNode::OwnsGeometry);
    node->setMaterial(new QSGVertexColorMaterial);
    node->setFlag(QSGNode::OwnsMaterial);
    return node;
}

void setColour(QSGGeometry::ColoredPoint2D* vertices, int count, QRgb colour)
{
    for (int i = 0; i < count; ++i) {
        vertices[i].r = uchar(qRed(colour));
        vertices[i].g = uchar(qGreen(colour));
        vertices[i].b = uchar(qBlue(colour));
        vertices[i].a = uchar(qAlpha(colour));
    }
}

// The corners of a rectangle, in the order of its vertices: two triangles, or four lines.
enum Corner { TopLeft, TopRight, BottomRight, BottomLeft };
constexpr Corner kFillCorners[kFillVertices] = {TopLeft, TopRight, BottomRight, TopLeft, BottomRight, BottomLeft};
constexpr Corner kFrameCorners[kFrameVertices] = {TopLeft,     TopRight,   TopRight,   BottomRight,
                                                  BottomRight, BottomLeft, BottomLeft, TopLeft};

template <std::size_t N>
void setCorners(QSGGeometry::ColoredPoint2D* vertices, const Corner (&corners)[N], const QRectF& area)
{
    for (std::size_t i = 0; i < N; ++i) {
        const Corner corner = corners[i];
        vertices[i].x = float(corner == TopLeft || corner == BottomLeft ? area.left() : area.right());
        vertices[i].y = float(corner == TopLeft || corner == TopRight ? area.top() : area.bottom());
    }
}

} // namespace

bool WallPicture::framed(const QRect& area)
{
    return area.width() >= SmallestFramed && area.height() >= SmallestFramed;
}

WallShade WallPicture::shade(int position) const
{
    return shades && std::size_t(position) < shades->size() ? (*shades)[std::size_t(position)] : WallShade{};
}

QRect WallPicture::pixelRect(int position) const
{
    const WallIndex::Box& box = layout->boxes()[std::size_t(position)];
    const int left = pixel((box.x - origin.x()) * zoom);
    const int top = pixel((box.y - origin.y()) * zoom);
    const int right = std::max(left + 1, pixel((double(box.x) + box.width - origin.x()) * zoom));
    const int bottom = std::max(top + 1, pixel((double(box.y) + box.height - origin.y()) * zoom));
    return QRect(left, top, right - left, bottom - top);
}

// Paints the picture through the software renderer's painter, only the records in view.
class WallNode::PainterNode : public QSGRenderNode
{
public:
    explicit PainterNode(QQuickWindow* window)
        : m_window(window)
    {
    }

    void show(const WallPicture& picture, const QRectF& bounds)
    {
        m_picture = picture;
        m_bounds = bounds;
        markDirty(QSGNode::DirtyMaterial);
    }

    StateFlags changedStates() const override { return {}; }
    RenderingFlags flags() const override { return BoundedRectRendering; }
    QRectF rect() const override { return m_bounds; }

    void render(const RenderState* state) override
    {
        auto* painter = static_cast<QPainter*>(
            m_window->rendererInterface()->getResource(m_window, QSGRendererInterface::PainterResource));
        if (!painter || !m_picture.layout)
            return;
        const QRegion* clip = state->clipRegion();
        const bool clipped = clip && !clip->isEmpty();
        // The clip is in the window's pixels: set before the item's transform.
        if (clipped)
            painter->setClipRegion(*clip, Qt::ReplaceClip);
        // On whole pixels, where the fills and the outlines round alike.
        QTransform transform = matrix()->toTransform();
        if (transform.type() <= QTransform::TxTranslate)
            transform = QTransform::fromTranslate(std::round(transform.dx()), std::round(transform.dy()));
        painter->setTransform(transform);
        painter->setOpacity(inheritedOpacity());
        painter->setRenderHint(QPainter::Antialiasing, false);

        QRectF view = m_bounds;
        if (clipped) {
            bool invertible = false;
            const QTransform toItem = transform.inverted(&invertible);
            if (invertible)
                view &= toItem.mapRect(QRectF(clip->boundingRect()));
        }
        const double zoom = m_picture.zoom;
        const QRectF wallView(view.x() / zoom + m_picture.origin.x(), view.y() / zoom + m_picture.origin.y(),
                              view.width() / zoom, view.height() / zoom);

        // Each record in its frame's colour, then its inside in its fill's colour: two solid
        // fills, the fastest a painter draws.
        const auto paint = [&](int position) {
            const QRect area = m_picture.pixelRect(position);
            const WallShade shade = m_picture.shade(position);
            const bool framed = WallPicture::framed(area);
            if (framed)
                painter->fillRect(area, QColor::fromRgba(shade.frame));
            painter->fillRect(framed ? area.adjusted(1, 1, -1, -1) : area, QColor::fromRgba(shade.fill));
        };
        const WallIndex& layout = *m_picture.layout;
        if (wallView.contains(layout.bounds())) {
            for (int position = 0; position < layout.size(); ++position)
                paint(position);
        } else {
            for (const int position : layout.overlapping(wallView))
                paint(position);
        }
    }

private:
    QQuickWindow* m_window;
    WallPicture m_picture;
    QRectF m_bounds;
};

WallNode::WallNode(QQuickWindow* window)
{
    if (window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software) {
        m_painter = new PainterNode(window);
        appendChildNode(m_painter);
    } else {
        m_fills = newColouredNode(QSGGeometry::DrawTriangles);
        m_frames = newColouredNode(QSGGeometry::DrawLines);
        appendChildNode(m_fills);
        appendChildNode(m_frames);
    }
}

void WallNode::show(const WallPicture& picture, const QRectF& bounds)
{
    if (m_painter)
        m_painter->show(picture, bounds);
    else
        showGeometry(picture);
    m_shown = picture;
}

void WallNode::showGeometry(const WallPicture& picture)
{
    const int count = picture.layout ? picture.layout->size() : 0;
    const bool placed = picture.layout == m_shown.layout && picture.origin == m_shown.origin
                        && picture.zoom == m_shown.zoom;
    const bool coloured = placed && picture.shades == m_shown.shades;
    if (coloured)
        return;
    QSGGeometry* fills = m_fills->geometry();
    QSGGeometry* frames = m_frames->geometry();
    if (!placed) {
        if (fills->vertexCount() != count * kFillVertices) {
            fills->allocate(count * kFillVertices);
            frames->allocate(count * kFrameVertices);
        }
        QSGGeometry::ColoredPoint2D* fill = fills->vertexDataAsColoredPoint2D();
        QSGGeometry::ColoredPoint2D* frame = frames->vertexDataAsColoredPoint2D();
        for (int position = 0; position < count; ++position, fill += kFillVertices, frame += kFrameVertices) {
            const QRect area = picture.pixelRect(position);
            setCorners(fill, kFillCorners, QRectF(area));
            // Through the centres of the outermost pixels, as a one-pixel border inside the area;
            // lines of no length, which draw nothing, where there is no room for a frame.
            setCorners(frame, kFrameCorners,
                       WallPicture::framed(area) ? QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5)
                                                 : QRectF(area.topLeft(), QSizeF(0, 0)));
        }
    }
    QSGGeometry::ColoredPoint2D* fill = fills->vertexDataAsColoredPoint2D();
    QSGGeometry::ColoredPoint2D* frame = frames->vertexDataAsColoredPoint2D();
    for (int position = 0; position < count; ++position, fill += kFillVertices, frame += kFrameVertices) {
        const WallShade shade = picture.shade(position);
        setColour(fill, kFillVertices, shade.fill);
        setColour(frame, kFrameVertices, shade.frame);
    }
    m_fills->markDirty(QSGNode::DirtyGeometry);
    m_frames->markDirty(QSGNode::DirtyGeometry);
}
