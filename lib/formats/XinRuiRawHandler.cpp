#include "formats/XinRuiRawHandler.h"

#include "formats/TextFile.h"
#include "formats/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

namespace XinRui_Raw {

namespace {

using TextNumbers::isBlank;

constexpr std::string_view kShortHeader =
    "ModCol\tModRow\tPixCol\tPixRow\tRed_Lv\tRed_Cx\tRed_Cy\tGreen_Lv\tGreen_Cx\tGreen_Cy\tBlue_Lv\tBlue_Cx\tBlue_Cy";
constexpr std::string_view kLongHeader =
    "ModCol\tModRow\tPixCol\tPixRow\tRed_Lv\tRed_Cx\tRed_Cy\tRed_WaveLength\tGreen_Lv\tGreen_Cx\tGreen_Cy\t"
    "Green_WaveLength\tBlue_Lv\tBlue_Cx\tBlue_Cy\tBlue_WaveLength";
constexpr std::string_view kFilePrefix = "XinRui_Raw_";
constexpr std::string_view kFileSuffix = ".txt";

constexpr std::size_t kChannels = 3;           // red, green, blue
constexpr std::uint64_t kFirstDataLine = 2;    // the header is line 1
// What a table's grid may span, by what the table holds. A table may measure only part of its
// wall (cells no line covers stay empty, 24 bytes each), but a few lines naming far positions
// must not demand a grid of gigabytes: the grid may have kCellFloor cells (256 x 256, 1.5 MiB
// of empty cells), plus kCellsPerLine for every good line (a table covering a sixteenth of its
// grid), and never more than kMaxCells (8192 x 8192, eight times the emitters of a 4K wall and
// twice those of an 8K one). A larger grid is refused before it is made.
constexpr std::uint64_t kCellFloor = std::uint64_t(1) << 16;
constexpr std::uint64_t kCellsPerLine = 16;
constexpr std::uint64_t kMaxCells = std::uint64_t(1) << 26;
constexpr int kChromaticityDigits = 4;
constexpr int kWavelengthDigits = 1;
// Written text is handed to the stream in chunks of about this size.
constexpr std::size_t kWriteChunk = 1u << 16;

enum class Form { Short, Long };

// One data line that parsed exactly.
struct Entry {
    std::uint64_t moduleColumn = 0;
    std::uint64_t moduleRow = 0;
    std::uint64_t pixelColumn = 0;
    std::uint64_t pixelRow = 0;
    std::array<Cal::EmitterReading, kChannels> readings{};
};

void dropCarriageReturn(std::string& line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
}

// One field: the value, then white space or the end of the line.
bool endsField(const char* p, const char* end) { return p == end || isBlank(*p); }

bool readPosition(const char*& p, const char* end, std::uint64_t& value)
{
    TextNumbers::skipBlanks(p, end);
    return TextNumbers::readUnsigned(p, end, value) && endsField(p, end);
}

bool readValue(const char*& p, const char* end, float& value)
{
    TextNumbers::skipBlanks(p, end);
    return TextNumbers::readFloat(p, end, value) && std::isfinite(value) && endsField(p, end);
}

// Exactly four non-negative integers and the values the form names, then only white space.
bool parseEntry(std::string_view line, Form form, Entry& entry)
{
    const char* p = line.data();
    const char* end = p + line.size();
    if (!readPosition(p, end, entry.moduleColumn) || !readPosition(p, end, entry.moduleRow)
        || !readPosition(p, end, entry.pixelColumn) || !readPosition(p, end, entry.pixelRow))
        return false;
    for (Cal::EmitterReading& reading : entry.readings) {
        if (!readValue(p, end, reading.Y) || !readValue(p, end, reading.x) || !readValue(p, end, reading.y))
            return false;
        if (form == Form::Long && !readValue(p, end, reading.wavelength))
            return false;
    }
    TextNumbers::skipBlanks(p, end);
    return p == end;
}

// The extent of the good lines: module ranges and the largest pixel positions.
struct Extent {
    std::uint64_t firstModuleColumn = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t lastModuleColumn = 0;
    std::uint64_t firstModuleRow = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t lastModuleRow = 0;
    std::uint64_t lastPixelColumn = 0;
    std::uint64_t lastPixelRow = 0;

    void add(const Entry& e)
    {
        firstModuleColumn = std::min(firstModuleColumn, e.moduleColumn);
        lastModuleColumn = std::max(lastModuleColumn, e.moduleColumn);
        firstModuleRow = std::min(firstModuleRow, e.moduleRow);
        lastModuleRow = std::max(lastModuleRow, e.moduleRow);
        lastPixelColumn = std::max(lastPixelColumn, e.pixelColumn);
        lastPixelRow = std::max(lastPixelRow, e.pixelRow);
    }
};

// The grid the good lines span, every size computed without wrapping around.
struct Layout {
    std::uint64_t moduleColumns = 0;
    std::uint64_t moduleRows = 0;
    std::uint64_t moduleWidth = 0;
    std::uint64_t moduleHeight = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t cells = 0;
};

std::optional<std::uint64_t> countOf(std::uint64_t first, std::uint64_t last)
{
    const std::uint64_t span = last - first;
    if (span == std::numeric_limits<std::uint64_t>::max())
        return std::nullopt;
    return span + 1;
}

std::optional<Layout> layoutOf(const Extent& extent, bool any)
{
    Layout layout;
    if (!any)
        return layout;
    const auto columns = countOf(extent.firstModuleColumn, extent.lastModuleColumn);
    const auto rows = countOf(extent.firstModuleRow, extent.lastModuleRow);
    const auto width = countOf(0, extent.lastPixelColumn);
    const auto height = countOf(0, extent.lastPixelRow);
    if (!columns || !rows || !width || !height)
        return std::nullopt;
    layout.moduleColumns = *columns;
    layout.moduleRows = *rows;
    layout.moduleWidth = *width;
    layout.moduleHeight = *height;
    if (__builtin_mul_overflow(layout.moduleColumns, layout.moduleWidth, &layout.width)
        || __builtin_mul_overflow(layout.moduleRows, layout.moduleHeight, &layout.height)
        || __builtin_mul_overflow(layout.width, layout.height, &layout.cells))
        return std::nullopt;
    return layout;
}

// The most cells the grid of a table with goodLines good lines may have.
std::uint64_t cellBound(std::uint64_t goodLines)
{
    return goodLines >= (kMaxCells - kCellFloor) / kCellsPerLine ? kMaxCells
                                                                  : kCellFloor + kCellsPerLine * goodLines;
}

void lowerAndRaise(Cal::EmitterReading& low, Cal::EmitterReading& high, const Cal::EmitterReading& r)
{
    low.x = std::min(low.x, r.x);
    low.y = std::min(low.y, r.y);
    low.Y = std::min(low.Y, r.Y);
    low.wavelength = std::min(low.wavelength, r.wavelength);
    high.x = std::max(high.x, r.x);
    high.y = std::max(high.y, r.y);
    high.Y = std::max(high.Y, r.Y);
    high.wavelength = std::max(high.wavelength, r.wavelength);
}

// Places the entries (a later one for the same position wins) and gathers every entry's
// readings into the channel minimum and maximum.
void fill(Cal::Data& data, const std::vector<Entry>& entries)
{
    constexpr float kLargest = std::numeric_limits<float>::max();
    data.minReadings.assign(kChannels, Cal::EmitterReading{kLargest, kLargest, kLargest, kLargest});
    data.maxReadings.assign(kChannels, Cal::EmitterReading{});
    for (const Entry& e : entries) {
        const std::uint64_t column = (e.moduleColumn - data.firstModuleColumn) * data.moduleWidth + e.pixelColumn;
        const std::uint64_t row = (e.moduleRow - data.firstModuleRow) * data.moduleHeight + e.pixelRow;
        data.grid[row][column].assign(e.readings.begin(), e.readings.end());
        for (std::size_t ch = 0; ch < kChannels; ++ch)
            lowerAndRaise(data.minReadings[ch], data.maxReadings[ch], e.readings[ch]);
    }
}

// Why data cannot be written as a table, or nothing when it can. A cell without readings is a
// position no line measured: it is left out, as it was in the table read.
std::optional<std::string> unwritable(const Cal::Data& data)
{
    const std::size_t width = data.grid.width();
    if (width == 0)
        return std::nullopt;
    if (data.moduleWidth == 0 || data.moduleHeight == 0)
        return "a grid with a module width or height of 0";
    for (const auto& row : data.grid) {
        if (row.size() < width)
            return "a grid row shorter than the first";
        for (std::size_t x = 0; x < width; ++x)
            if (!row[x].empty() && row[x].size() < kChannels)
                return "a cell with one or two readings";
    }
    return std::nullopt;
}

void reportUnwritable(const std::string& why)
{
    std::cerr << "XinRui_Raw::Handler::writeStream: " << why << ", nothing written" << std::endl;
}

void appendLine(std::string& text, const Cal::Data& data, std::uint64_t x, std::uint64_t y, int precision)
{
    using TextNumbers::appendFixed;
    using TextNumbers::appendInteger;
    appendInteger(text, x / data.moduleWidth + data.firstModuleColumn);
    text += ' ';
    appendInteger(text, y / data.moduleHeight + data.firstModuleRow);
    text += ' ';
    appendInteger(text, x % data.moduleWidth);
    text += ' ';
    appendInteger(text, y % data.moduleHeight);
    text += ' ';
    const Cal::Data::Cell& cell = data.grid[y][x];
    for (std::size_t ch = 0; ch < kChannels; ++ch) {
        const Cal::EmitterReading& r = cell[ch];
        appendFixed(text, r.Y, precision);
        text += '\t';
        appendFixed(text, r.x, kChromaticityDigits);
        text += '\t';
        appendFixed(text, r.y, kChromaticityDigits);
        text += '\t';
        appendFixed(text, r.wavelength, kWavelengthDigits);
        text += ch + 1 < kChannels ? '\t' : '\n';
    }
}

} // namespace

Cal::Data Handler::readStream(std::istream& in) const
{
    std::string line;
    if (!std::getline(in, line))
        line.clear();
    dropCarriageReturn(line);
    if (line != kShortHeader && line != kLongHeader) {
        std::cerr << "Incorrect headers: " << '\n' << line << '\n' << kLongHeader << std::endl;
        return {};
    }
    const Form form = line == kLongHeader ? Form::Long : Form::Short;

    std::vector<Entry> entries;
    Extent extent;
    std::uint64_t lineNumber = kFirstDataLine;
    while (std::getline(in, line)) {
        dropCarriageReturn(line);
        if (line.empty())
            continue;
        Entry entry;
        if (parseEntry(line, form, entry)) {
            extent.add(entry);
            entries.push_back(entry);
        } else {
            std::cout << "bad entry, line " << lineNumber << '\n';
        }
        ++lineNumber;
    }

    const std::optional<Layout> layout = layoutOf(extent, !entries.empty());
    if (!layout) {
        std::cout.flush();
        std::cerr << "XinRui raw table: module or pixel positions out of range" << std::endl;
        return {};
    }
    std::cout << "read " << lineNumber << " lines, " << layout->moduleColumns << " x " << layout->moduleRows
              << " modules, " << layout->width << " x " << layout->height << " pixels " << std::endl;
    if (const std::uint64_t bound = cellBound(entries.size()); layout->cells > bound) {
        std::cerr << "XinRui raw table: " << layout->width << " x " << layout->height << " pixels, more than the "
                  << bound << " a table may span, not read" << std::endl;
        return {};
    }

    Cal::Data data;
    data.firstModuleColumn = extent.firstModuleColumn;
    data.lastModuleColumn = extent.lastModuleColumn;
    data.firstModuleRow = extent.firstModuleRow;
    data.lastModuleRow = extent.lastModuleRow;
    data.moduleWidth = layout->moduleWidth;
    data.moduleHeight = layout->moduleHeight;
    data.grid = Vector2D<Cal::Data::Cell>(layout->width, layout->height);
    fill(data, entries);
    return data;
}

Cal::Data Handler::readFile(std::string path) const
{
    std::cout << "reading " << path << " ..." << std::endl;
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (TextFile::openFailed(in, path))
        return {};
    return readStream(in);
}

std::map<std::string, Cal::Data> Handler::readFiles(std::string directory) const
{
    std::map<std::string, Cal::Data> out;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name.size() < kFilePrefix.size() + kFileSuffix.size()
            || !name.starts_with(kFilePrefix) || !name.ends_with(kFileSuffix))
            continue;
        const std::string key = name.substr(kFilePrefix.size(), name.size() - kFilePrefix.size() - kFileSuffix.size());
        out[key] = readFile(entry.path().string());
    }
    return out;
}

void Handler::writeStream(const Cal::Data& data, std::ostream& out, int precision) const
{
    if (const auto why = unwritable(data)) {
        reportUnwritable(*why);
        out.setstate(std::ios::failbit);
        return;
    }
    std::string text(kLongHeader);
    text += '\n';
    out.setf(std::ios::fixed, std::ios::floatfield);
    const std::size_t width = data.grid.width();
    for (std::size_t y = 0; y < data.grid.height(); ++y)
        for (std::size_t x = 0; x < width; ++x) {
            if (data.grid[y][x].empty())
                continue;
            appendLine(text, data, x, y, precision);
            if (text.size() >= kWriteChunk) {
                out.write(text.data(), std::streamsize(text.size()));
                text.clear();
            }
        }
    out.write(text.data(), std::streamsize(text.size()));
}

void Handler::writeFile(const Cal::Data& data, std::string path, int precision) const
{
    std::cout << "writing " << path << " ..." << std::endl;
    // Refused before the target is touched; otherwise the old file stays unless the new one was
    // written whole.
    if (const auto why = unwritable(data))
        return reportUnwritable(*why);
    TextFile::replace(path, [&](std::ostream& out) { writeStream(data, out, precision); });
}

void Handler::writeFiles(const std::map<std::string, Cal::Data>& data, std::string directory, int precision) const
{
    for (const auto& [name, entry] : data)
        writeFile(entry, directory + "/" + std::string(kFilePrefix) + name + std::string(kFileSuffix), precision);
}

} // namespace XinRui_Raw
