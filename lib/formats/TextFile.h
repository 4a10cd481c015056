#pragma once

#include <fstream>
#include <functional>
#include <iosfwd>
#include <string>

// The open and write failure reports shared by the text format handlers, in one wording:
// "Can't open file <path>: <system text>" and "Can't write file <path>: <system text>".
namespace TextFile {

// Reports a stream that did not open; errno should be cleared before opening.
bool openFailed(const std::ios& stream, const std::string& path);

// Replaces the file at path with what write puts on its stream, whole or not at all: the bytes
// go to a temporary file beside it that takes the old file's place only after a good write
// (ReplacingFile). A target that cannot be opened is reported as "Can't open file"; a stream that
// went bad, or a last flush or rename that fails (a full disk shows there), as "Can't write
// file". A writer that refused its data (failbit only, having said why) leaves the old file
// quietly. True when the file was replaced.
bool replace(const std::string& path, const std::function<void(std::ostream&)>& write);

} // namespace TextFile
