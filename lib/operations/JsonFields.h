#pragma once

#include "formats/Vector2D.h"

#include <nlohmann/json.hpp>

#include <string>

// Checked reading of the operations' JSON fields. Every failure raises one of the JSON
// library's own exceptions, so a caller sees the same kinds of error from a bad value here as
// from the library itself; nothing reads outside a value or converts with undefined results.
namespace JsonFields {

using json = nlohmann::json;

// The value at `key`. A non-object raises type_error 305 (as the library's operator[] does);
// a missing key raises out_of_range 403 rather than reading past the object.
const json& required(const json& object, const char* key);
// The value at `key`, or nullptr when `object` is no object or lacks the key.
const json* optional(const json& object, const char* key);

// Numbers (and booleans, as the library converts them). A value that the target type cannot
// hold raises out_of_range 406; any other type raises the library's type_error 302.
int toInt(const json& value);
double toDouble(const json& value);
float toFloat(const json& value);

// A grid of rows of numbers: null is a grid without rows; otherwise the first row gives the
// width and each row must hold at least that many values (out_of_range 401). Rows are built
// one by one, so memory follows the document's size, never the first row's claim.
Vector2D<float> toGrid(const json& rows);
// Null for a grid without rows, else one array of floating numbers per row.
json fromGrid(const Vector2D<float>& grid);

} // namespace JsonFields
