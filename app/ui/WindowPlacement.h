#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>

class QWindow;

// Where the interface's windows go on the screen. Geometry is worked out on frames (the window
// with the window manager's title bar and borders) against a screen's available area (the
// screen less its panels), so that no part of a window ends up under a panel or off the screen.
class WindowPlacement : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // A frame of the given size beside the anchor's frame, inside the available area: in the
    // largest of the free strips right, left, below and above the anchor, made smaller where the
    // strip is (down to SmallestBeside, and never below the window's own minimum); with no such
    // strip, the whole frame where it covers the least of the anchor. Larger than the area, it is
    // cut to it.
    static QRect beside(const QRect& anchor, QSize size, const QRect& available, QSize minimum = {});
    // The frame moved, and cut where it is larger, to lie inside the available area.
    static QRect inside(const QRect& frame, const QRect& available);

    // Places a window that was never placed (not shown yet) beside another one.
    Q_INVOKABLE void placeBeside(QWindow* window, QWindow* anchor) const;
    // Gives a window the geometry kept for it (x, y, width, height of its client area), pulled
    // back inside the available area of the screen it was on, or of the window's own screen when
    // that screen has gone or shrunk.
    Q_INVOKABLE void restore(QWindow* window, const QRect& kept) const;

    // A gap between windows placed side by side.
    static constexpr int Gap = 8;
    // Beside the anchor a frame may be made smaller, down to this size (or its own, if smaller).
    static constexpr QSize SmallestBeside{320, 200};

private:
    // A window's frame margins; before it is first shown (no frame yet), those of a window that
    // has one, as the window manager gives every window the same.
    static QMargins margins(const QWindow& window, const QWindow* framed);
    static void setFrame(QWindow& window, const QRect& frame, const QMargins& margins);
};
