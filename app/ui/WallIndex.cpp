#include "ui/WallIndex.h"

#include <algorithm>
#include <cmath>

namespace {

// Cells per record at most (a few large records on a wide extent would otherwise ask for many
// small cells), and at least this many cells on a small wall.
constexpr double kMostCellsPerRecord = 2.0;
constexpr double kFewestMostCells = 64.0;

} // namespace

WallIndex::WallIndex(std::vector<Box> boxes)
    : m_boxes(std::move(boxes))
{
    double widthSum = 0.0;
    double heightSum = 0.0;
    int counted = 0;
    for (const Box& box : m_boxes) {
        if (box.isEmpty())
            continue;
        m_bounds |= QRectF(box.x, box.y, box.width, box.height);
        widthSum += box.width;
        heightSum += box.height;
        ++counted;
    }
    if (counted == 0)
        return;

    // Cells the size of an average record, made coarser where there would be too many.
    m_cellWidth = widthSum / counted;
    m_cellHeight = heightSum / counted;
    const double mostCells = std::max(kFewestMostCells, kMostCellsPerRecord * counted);
    const double wanted = std::ceil(m_bounds.width() / m_cellWidth) * std::ceil(m_bounds.height() / m_cellHeight);
    if (wanted > mostCells) {
        const double coarser = std::sqrt(wanted / mostCells);
        m_cellWidth *= coarser;
        m_cellHeight *= coarser;
    }
    m_columns = std::max(1, int(std::ceil(m_bounds.width() / m_cellWidth)));
    m_rows = std::max(1, int(std::ceil(m_bounds.height() / m_cellHeight)));

    // Two passes: count the records of each cell, then list them in list order.
    const auto eachCell = [this](const Box& box, auto&& visit) {
        const CellRange cells = cellsOf(box.x, box.y, double(box.x) + box.width, double(box.y) + box.height);
        for (int row = cells.top; row <= cells.bottom; ++row) {
            for (int column = cells.left; column <= cells.right; ++column)
                visit(row * m_columns + column);
        }
    };
    m_firstEntry.assign(std::size_t(m_columns) * std::size_t(m_rows) + 1, 0);
    m_firstCell.reserve(m_boxes.size());
    for (const Box& box : m_boxes) {
        m_firstCell.emplace_back(cellColumn(box.x), cellRow(box.y));
        if (!box.isEmpty())
            eachCell(box, [this](int cell) { ++m_firstEntry[std::size_t(cell) + 1]; });
    }
    for (std::size_t cell = 1; cell < m_firstEntry.size(); ++cell)
        m_firstEntry[cell] += m_firstEntry[cell - 1];
    m_entries.resize(std::size_t(m_firstEntry.back()));
    std::vector<int> filled(m_firstEntry.begin(), m_firstEntry.end() - 1);
    for (int position = 0; position < int(m_boxes.size()); ++position) {
        if (!m_boxes[std::size_t(position)].isEmpty())
            eachCell(m_boxes[std::size_t(position)],
                     [&](int cell) { m_entries[std::size_t(filled[std::size_t(cell)]++)] = position; });
    }
}

int WallIndex::cellColumn(double x) const
{
    return std::clamp(int(std::floor((x - m_bounds.left()) / m_cellWidth)), 0, m_columns - 1);
}

int WallIndex::cellRow(double y) const
{
    return std::clamp(int(std::floor((y - m_bounds.top()) / m_cellHeight)), 0, m_rows - 1);
}

WallIndex::CellRange WallIndex::cellsOf(double left, double top, double right, double bottom) const
{
    return {cellColumn(left), cellRow(top), cellColumn(right), cellRow(bottom)};
}

int WallIndex::at(QPointF point) const
{
    if (m_columns == 0)
        return -1;
    const float px = float(point.x());
    const float py = float(point.y());
    const std::size_t cell = std::size_t(cellRow(py)) * std::size_t(m_columns) + std::size_t(cellColumn(px));
    for (int entry = m_firstEntry[cell]; entry < m_firstEntry[cell + 1]; ++entry) {
        const int position = m_entries[std::size_t(entry)];
        if (m_boxes[std::size_t(position)].contains(px, py))
            return position;
    }
    return -1;
}

std::vector<int> WallIndex::overlapping(const QRectF& area) const
{
    std::vector<int> found;
    if (m_columns == 0 || !area.intersects(m_bounds))
        return found;
    const CellRange cells = cellsOf(area.left(), area.top(), area.right(), area.bottom());
    for (int row = cells.top; row <= cells.bottom; ++row) {
        for (int column = cells.left; column <= cells.right; ++column) {
            const std::size_t cell = std::size_t(row) * std::size_t(m_columns) + std::size_t(column);
            for (int entry = m_firstEntry[cell]; entry < m_firstEntry[cell + 1]; ++entry) {
                const int position = m_entries[std::size_t(entry)];
                const Box& box = m_boxes[std::size_t(position)];
                const double right = double(box.x) + box.width;
                const double bottom = double(box.y) + box.height;
                if (!(box.x < area.right() && area.left() < right && box.y < area.bottom() && area.top() < bottom))
                    continue;
                // A record that reaches into several of these cells is reported by the first.
                const auto [ownColumn, ownRow] = m_firstCell[std::size_t(position)];
                if (column == std::max(ownColumn, cells.left) && row == std::max(ownRow, cells.top))
                    found.push_back(position);
            }
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}
