#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// A grid of T indexed [row][column]: a plain vector of rows, so it converts to and from
// std::vector<std::vector<T>> without copying rules of its own. It keeps no width of its own:
// the width is the length of the first row.
template <typename T>
class Vector2D : public std::vector<std::vector<T>> {
public:
    using Row = std::vector<T>;
    using Base = std::vector<Row>;
    using Base::Base;

    Vector2D() = default;
    Vector2D(const Base& rows) : Base(rows) {}
    Vector2D(Base&& rows) noexcept : Base(std::move(rows)) {}
    Vector2D(std::size_t width, std::size_t height, const T& fill = T{}) : Base(height, Row(width, fill)) {}

    std::size_t width() const { return this->empty() ? 0 : this->front().size(); }
    std::size_t height() const { return this->size(); }

    // True when every row has the length of the first one.
    bool isRectangular() const
    {
        for (const Row& row : *this)
            if (row.size() != width())
                return false;
        return true;
    }

    // Rows first (dropping or appending rows of fill), then every row to the new width.
    using Base::resize;
    void resize(std::size_t width, std::size_t height, const T& fill = T{})
    {
        Base::resize(height, Row(width, fill));
        for (Row& row : *this)
            row.resize(width, fill);
    }
};
