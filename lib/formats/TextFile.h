#pragma once

#include <fstream>
#include <iosfwd>
#include <string>

// The open and write failure reports shared by the text format handlers, in one wording:
// "Can't open file <path>: <system text>" and "Can't write file <path>: <system text>".
namespace TextFile {

// Reports a stream that did not open; errno should be cleared before opening.
bool openFailed(const std::ios& stream, const std::string& path);

// Flushes and closes a written file. A stream that went bad while writing, or whose last
// flush fails (a full disk shows only here), is reported and left with badbit set. A stream
// with only failbit set (a writer that refused its data and said why) is closed quietly.
bool closeWritten(std::ostream& out, std::filebuf& file, const std::string& path);

} // namespace TextFile
