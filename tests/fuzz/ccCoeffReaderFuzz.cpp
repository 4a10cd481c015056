#include "formats/ccCoeffText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

// Any bytes through the coefficient file reader (the text behind ccCoeffHandler::readFile):
// nothing may crash, hang or take memory out of proportion to the input. A table read is
// multiplied by itself, and its written text must read back to the same text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const ccCoeffFile table = ccCoeffText::read(in, "fuzz input");
    const ccCoeffFile squared = table * table;
    if (squared.entries.size() != table.entries.size())
        std::abort();
    const std::string text = ccCoeffText::text(table);
    std::istringstream again(text);
    if (ccCoeffText::text(ccCoeffText::read(again, "written text")) != text)
        std::abort();
    return 0;
}
