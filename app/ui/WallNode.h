#pragma once

#include "ui/WallIndex.h"

#include <QColor>
#include <QPointF>
#include <QRect>
#include <QSGNode>

#include <memory>
#include <vector>

class QQuickWindow;

// The colours of one LDM or tile on the wall view.
struct WallShade
{
    QRgb fill = 0;
    QRgb frame = 0;
};

// What the wall view shows: built on the GUI thread, handed to the scene graph at the frame's
// sync and never changed after that (a change makes a new one).
struct WallPicture
{
    std::shared_ptr<const WallIndex> layout;
    std::shared_ptr<const std::vector<WallShade>> shades; // one per record of the layout
    QPointF origin;                                        // wall pixel at the item's (0, 0)
    double zoom = 1.0;                                     // item pixels per wall pixel

    // A record's area in the item, on whole pixels (at least one pixel each way).
    QRect pixelRect(int position) const;
    // A record's colours (none for a record without shades).
    WallShade shade(int position) const;
    // Records smaller than this many pixels either way are drawn without a frame, which would
    // leave no room for the fill.
    static constexpr int SmallestFramed = 4;
    static bool framed(const QRect& area);
};

// The wall view's scene-graph node: every record's fill and frame. Where the scene graph draws
// geometry, one geometry node of coloured triangles for the fills and one of coloured lines for
// the frames; Qt Quick's software renderer draws no custom geometry, so there one render node
// paints the same picture, skipping what lies outside the view's clip.
class WallNode : public QSGNode
{
public:
    explicit WallNode(QQuickWindow* window);

    // Shows a picture in an item of that size. A new layout or zoom places the vertices again;
    // new shades only recolour them.
    void show(const WallPicture& picture, const QRectF& bounds);

private:
    void showGeometry(const WallPicture& picture);

    QSGGeometryNode* m_fills = nullptr;
    QSGGeometryNode* m_frames = nullptr;
    class PainterNode;
    PainterNode* m_painter = nullptr;
    WallPicture m_shown;
};
