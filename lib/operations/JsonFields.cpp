#include "operations/JsonFields.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>

namespace JsonFields {

namespace {

// The library's id for a number that does not fit where it goes.
constexpr int kNumberOverflow = 406;

[[noreturn]] void overflow(const json& value, const char* target)
{
    throw json::out_of_range::create(kNumberOverflow,
                                     "number " + value.dump() + " is out of range for " + target, &value);
}

} // namespace

const json& required(const json& object, const char* key)
{
    if (!object.is_object())
        throw json::type_error::create(
            305, std::string("cannot use operator[] with a string argument with ") + object.type_name(), &object);
    return object.at(key);
}

const json* optional(const json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

int toInt(const json& value)
{
    if (value.is_number_float()) {
        // Truncated towards zero as a cast would, but only once it is known to fit.
        const double whole = std::trunc(value.get<double>());
        if (!(whole >= double(INT_MIN) && whole <= double(INT_MAX)))
            overflow(value, "int");
        return int(whole);
    }
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > std::uint64_t(INT_MAX))
            overflow(value, "int");
        return int(value.get<std::uint64_t>());
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < INT_MIN || number > INT_MAX)
            overflow(value, "int");
        return int(number);
    }
    return value.get<int>();
}

double toDouble(const json& value)
{
    // A saved non-finite number would serialise as null and no longer load.
    if (value.is_number_float() && !std::isfinite(value.get<double>()))
        overflow(value, "double");
    return value.get<double>();
}

float toFloat(const json& value)
{
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!(std::fabs(number) <= double(FLT_MAX)))
            overflow(value, "float");
        return float(number);
    }
    return value.get<float>();
}

Vector2D<float> toGrid(const json& rows)
{
    Vector2D<float> grid;
    if (rows.is_null())
        return grid;
    const std::size_t height = rows.size();
    const std::size_t width = rows.at(0).size();
    for (std::size_t y = 0; y < height; ++y) {
        const json& row = rows.at(y);
        auto& values = grid.emplace_back();
        if (row.is_array()) {
            if (row.size() < width)
                row.at(row.size()); // the library's own out_of_range 401 for the first missing value
            values.reserve(width);
        }
        for (std::size_t x = 0; x < width; ++x)
            values.push_back(toFloat(row.at(x)));
    }
    return grid;
}

json fromGrid(const Vector2D<float>& grid)
{
    if (grid.empty())
        return nullptr;
    json rows = json::array();
    for (const auto& row : grid) {
        json values = json::array();
        for (const float value : row)
            values.push_back(double(value));
        rows.push_back(std::move(values));
    }
    return rows;
}

} // namespace JsonFields
