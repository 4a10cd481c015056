#include "formats/XinRuiRawHandler.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

std::string written(const Cal::Data& data)
{
    std::ostringstream out;
    XinRui_Raw::Handler().writeStream(data, out, 3);
    return out.str();
}

} // namespace

// Any bytes through the raw table reader: nothing may crash, hang or take memory out of
// proportion to the input. What it reads is written, and that text must read back to the
// same text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const Cal::Data table = XinRui_Raw::Handler().readStream(in);
    if (table.height() == 0)
        return 0;
    const std::string text = written(table);
    std::istringstream again(text);
    if (written(XinRui_Raw::Handler().readStream(again)) != text)
        std::abort();
    return 0;
}
