#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <limits>

namespace {

qint64 overlap(const QRect& a, const QRect& b)
{
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

// The available area of the screen that holds most of a frame, else of the given screen.
QRect availableFor(const QRect& frame, const QScreen* fallback)
{
    const QScreen* best = nullptr;
    qint64 most = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const qint64 covered = overlap(frame, screen->geometry());
        if (covered > most) {
            most = covered;
            best = screen;
        }
    }
    if (!best)
        best = fallback ? fallback : QGuiApplication::primaryScreen();
    return best ? best->availableGeometry() : frame;
}

} // namespace

QRect WindowPlacement::inside(const QRect& frame, const QRect& available)
{
    QRect placed(frame.topLeft(), frame.size().boundedTo(available.size()));
    placed.moveLeft(std::clamp(placed.left(), available.left(), available.right() - placed.width() + 1));
    placed.moveTop(std::clamp(placed.top(), available.top(), available.bottom() - placed.height() + 1));
    return placed;
}

QRect WindowPlacement::beside(const QRect& anchor, QSize size, const QRect& available, QSize minimum)
{
    // The free strips of the area right, left, below and above the anchor, and in each the
    // frame as large as it fits, level with the anchor's top or left edge.
    const QRect strips[] = {
        QRect(QPoint(anchor.right() + 1 + Gap, available.top()), available.bottomRight()),
        QRect(available.topLeft(), QPoint(anchor.left() - 1 - Gap, available.bottom())),
        QRect(QPoint(available.left(), anchor.bottom() + 1 + Gap), available.bottomRight()),
        QRect(available.topLeft(), QPoint(available.right(), anchor.top() - 1 - Gap)),
    };
    const QSize smallest = SmallestBeside.boundedTo(size).expandedTo(minimum.boundedTo(size));
    QRect best;
    for (const QRect& strip : strips) {
        if (strip.width() < smallest.width() || strip.height() < smallest.height())
            continue;
        const QRect placed = inside(QRect(anchor.topLeft(), size.boundedTo(strip.size())), strip);
        if (qint64(placed.width()) * placed.height() > qint64(best.width()) * best.height())
            best = placed;
    }
    if (best.isValid())
        return best;

    // No room beside it: the whole frame, covering as little of the anchor as it can.
    const QRect whole[] = {
        QRect(QPoint(anchor.right() + 1 + Gap, anchor.top()), size),
        QRect(QPoint(anchor.left() - Gap - size.width(), anchor.top()), size),
        QRect(QPoint(anchor.left(), anchor.bottom() + 1 + Gap), size),
        QRect(QPoint(anchor.left(), anchor.top() - Gap - size.height()), size),
    };
    qint64 leastCovered = std::numeric_limits<qint64>::max();
    for (const QRect& candidate : whole) {
        const QRect placed = inside(candidate, available);
        const qint64 covered = overlap(placed, anchor);
        if (covered < leastCovered) {
            leastCovered = covered;
            best = placed;
        }
    }
    return best;
}

QMargins WindowPlacement::margins(const QWindow& window, const QWindow* framed)
{
    const QMargins own = window.frameMargins();
    if (!own.isNull() || !framed)
        return own;
    return framed->frameMargins();
}

void WindowPlacement::setFrame(QWindow& window, const QRect& frame, const QMargins& margins)
{
    window.setGeometry(frame.marginsRemoved(margins));
}

void WindowPlacement::placeBeside(QWindow* window, QWindow* anchor) const
{
    if (!window || !anchor)
        return;
    const QMargins frame = margins(*window, anchor);
    const QRect anchorFrame = anchor->frameGeometry();
    const QRect available = availableFor(anchorFrame, anchor->screen());
    const QSize minimum = window->minimumSize().isEmpty() ? QSize() : window->minimumSize().grownBy(frame);
    setFrame(*window, beside(anchorFrame, window->size().grownBy(frame), available, minimum), frame);
}

void WindowPlacement::restore(QWindow* window, const QRect& kept) const
{
    if (!window || !kept.isValid())
        return;
    QWindow* framed = window->transientParent();
    const QMargins frame = margins(*window, framed);
    const QRect keptFrame = kept.marginsAdded(frame);
    const QRect available = availableFor(keptFrame, window->screen());
    setFrame(*window, inside(keptFrame, available), frame);
}
