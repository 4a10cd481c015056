#pragma once

#include <QPointF>
#include <QRectF>

#include <utility>
#include <vector>

// The rectangles of a wall's LDMs or tiles, in list order, with an index that answers which of
// them lie under a point or inside an area without looking at every one: the rectangles' extent
// is cut into a grid of equal cells (about one record per cell), and each cell lists, in list
// order, the records that reach into it. Immutable once built, so one thread may read it while
// another builds the next.
class WallIndex
{
public:
    // One record's area in wall pixels: x <= px < x + width, y <= py < y + height (as the records
    // hold it, in float).
    struct Box
    {
        float x = 0.0f;
        float y = 0.0f;
        float width = 0.0f;
        float height = 0.0f;

        bool contains(float px, float py) const { return x <= px && px < x + width && y <= py && py < y + height; }
        bool isEmpty() const { return !(width > 0.0f && height > 0.0f); }
    };

    WallIndex() = default;
    explicit WallIndex(std::vector<Box> boxes);

    const std::vector<Box>& boxes() const { return m_boxes; }
    int size() const { return int(m_boxes.size()); }
    // The extent of the records with an area.
    QRectF bounds() const { return m_bounds; }

    // The position in the list of the first record that holds the point, or -1.
    int at(QPointF point) const;
    // The positions of the records that overlap the area (sharing more than an edge), each once,
    // in list order.
    std::vector<int> overlapping(const QRectF& area) const;

private:
    struct CellRange
    {
        int left = 0;
        int top = 0;
        int right = -1; // inclusive
        int bottom = -1;
    };
    CellRange cellsOf(double left, double top, double right, double bottom) const;
    int cellColumn(double x) const;
    int cellRow(double y) const;

    std::vector<Box> m_boxes;
    QRectF m_bounds;
    double m_cellWidth = 1.0;
    double m_cellHeight = 1.0;
    int m_columns = 0;
    int m_rows = 0;
    // Cell c's records are m_entries[m_firstEntry[c]] up to m_entries[m_firstEntry[c + 1]].
    std::vector<int> m_firstEntry;
    std::vector<int> m_entries;
    // Each record's top-left cell (column, row).
    std::vector<std::pair<int, int>> m_firstCell;
};
