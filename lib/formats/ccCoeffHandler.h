#pragma once

#include "formats/ccCoeffFile.h"

#include <TessellaExport.h>

#include <string>

// Reads and writes coefficient tables as "[T9COEF20]" text files: the header, "width=",
// "height=", then one comma-separated line per entry (two position numbers and nine values with
// six digits after the point), every line ended by a line feed. Numbers are always read and
// written in the C locale. Holds no state.
class TESSELLA_EXPORT ccCoeffHandler {
public:
    // Reads at most width x height entries. The header may have white space after "=" and blank
    // lines between its lines, and its sizes may be written in any base "%zi" reads (0x10 is 16,
    // 010 is 8), as the writer's scan format allows. A line short of its eleven fields, or with
    // text after them, is reported ("bad entry, read N fields on line L") and kept with its
    // missing fields 0; blank lines are skipped. After 1000 lines that assign no field at all
    // the rest of the file is not read (a message on the standard error stream), so garbage adds
    // no more than 1000 all-zero entries; lines that assign some fields are all kept. A value
    // too small for a double reads as 0. A file that cannot be opened or whose header does not
    // match (a negative or overflowing size among them) gives an empty table and a message on
    // the standard error stream.
    ccCoeffFile readFile(std::string path) const;
    // Replaces the file whole or not at all: a file that cannot be created or written is reported
    // on the standard error stream and the old one stays as it was.
    void writeFile(const ccCoeffFile& table, std::string path) const;
};
