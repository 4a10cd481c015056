#include "formats/ColorSpaceHandler.h"

#include <CCfits/CCfits>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

// Any bytes as a capture file: only the FITS library's error may leave the reader, and nothing
// may crash, hang or take memory out of proportion to the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/fits-capture-fuzz-" + std::to_string(getpid()) + ".fit";
    static std::ostringstream quiet;
    std::cout.rdbuf(quiet.rdbuf());
    std::cerr.rdbuf(quiet.rdbuf());
    quiet.str({});
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    try {
        const Vector2D<float> grid = ColorSpace::Handler().readCapture(path);
        if (!grid.isRectangular())
            __builtin_trap();
    } catch (const CCfits::FitsException&) {
    }
    return 0;
}
