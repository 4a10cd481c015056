#pragma once

#include "formats/CalData.h"

#include <TessellaExport.h>

#include <iosfwd>
#include <map>
#include <string>

namespace XinRui_Raw {

// Reads and writes XinRui raw measurement tables: a tab-separated header, then one line per
// emitter with its module and pixel position and, for red, green and blue, a luminance,
// chromaticity x and y and (long form only) a wavelength. A table becomes a three-channel
// Cal::Data placed by module, and back. Holds no state.
//
// Progress ("reading", "writing", "read N lines", "bad entry, line N") goes to the standard
// output, failures to the standard error stream. Numbers are read and written in the C locale,
// whatever locale the process or the caller's stream has.
class TESSELLA_EXPORT Handler {
public:
    // A line that does not parse exactly is reported and left out; a value too small for a
    // float reads as 0, one too large fails its line. The grid spans the module ranges of the
    // good lines, and cells no line covers stay empty (no readings), so a table may measure
    // part of a wall. What the grid may take is bounded by what the table holds: at most
    // 2^16 cells plus 16 for every good line, and never more than 2^26 (8192 x 8192, far beyond
    // any real wall). So a table covering a sixteenth of its grid or more is read, while a few
    // lines naming far positions cannot demand more than a few MiB. A larger grid is refused
    // before it is made: empty data and a message.
    Cal::Data readStream(std::istream& in) const;
    Cal::Data readFile(std::string path) const;
    // Every regular file "XinRui_Raw_<name>.txt" of the directory (not recursing), by name.
    // Directory errors are raised as std::filesystem::filesystem_error.
    std::map<std::string, Cal::Data> readFiles(std::string directory) const;

    // Always the long form, one line per cell with readings; a cell without readings (a
    // position the table read did not measure) gets no line. Data the table cannot hold (a
    // non-empty grid with a module size of 0, a cell with one or two readings, a row shorter
    // than the first) is refused with a message: nothing is written and failbit is set.
    void writeStream(const Cal::Data& data, std::ostream& out, int precision) const;
    // Replaces the file whole or not at all: refused data leaves the target untouched, and a
    // failed write leaves the old file as it was (reported on the standard error stream).
    void writeFile(const Cal::Data& data, std::string path, int precision) const;
    // One file "XinRui_Raw_<name>.txt" per entry, in key order.
    void writeFiles(const std::map<std::string, Cal::Data>& data, std::string directory, int precision) const;
};

} // namespace XinRui_Raw
