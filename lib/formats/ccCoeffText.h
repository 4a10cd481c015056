#pragma once

#include "formats/ccCoeffFile.h"

#include <iosfwd>
#include <string>

// The "[T9COEF20]" text of a coefficient table, on streams, for the handler's files.
class ccCoeffText {
public:
    // Reads one table; name only labels the messages.
    static ccCoeffFile read(std::istream& in, const std::string& name);
    // The whole text of a table.
    static std::string text(const ccCoeffFile& table);
    // One entry's line, line feed included.
    static void appendEntry(std::string& out, const ccCoeffFile::Entry& entry);
};
