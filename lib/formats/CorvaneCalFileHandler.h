#pragma once

#include "formats/CalData.h"
#include "formats/CorvaneCalFileMesh.h"

#include <TessellaExport.h>

#include <iosfwd>
#include <map>
#include <string>

namespace CorvaneCalFile {

// Reads and writes CorvaneCal calibration files (".klv"), directories of them and streams, as
// per-emitter readings or as correction meshes. Holds no state. Failures are printed on the
// standard error stream: readers return an empty result, writers set failbit on the stream.
class TESSELLA_EXPORT Handler {
public:
    Cal::Data readFile(std::string path) const;
    // Every regular "*.klv" file of the directory (not recursing), by name without ".klv".
    // Directory errors are raised as std::filesystem::filesystem_error.
    std::map<std::string, Cal::Data> readFiles(const std::string& directory) const;
    Cal::Data readStream(std::istream& in) const;
    Mesh readStreamMesh(std::istream& in) const;

    // Prints the verbose dump of a file or stream; stores nothing.
    void validateFile(const std::string& path) const;
    void validateStream(std::istream& in) const;

    // Replaces the file only after a complete write: data that cannot be written, or a write that
    // fails part way, leaves an existing file as it was.
    void writeFile(const Cal::Data& data, const std::string& path) const;
    void writeFiles(const std::map<std::string, Cal::Data>& data, const std::string& directory) const;
    void writeStream(const Cal::Data& data, std::ostream& out) const;
    void writeStream(const Mesh& mesh, std::ostream& out) const;
};

} // namespace CorvaneCalFile
