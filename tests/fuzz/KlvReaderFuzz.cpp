#include "formats/CorvaneCalFileHandler.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

// Any bytes through every reading path of the calibration file handler: nothing may crash,
// hang or take memory out of proportion to the input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const CorvaneCalFile::Handler handler;
    {
        std::istringstream in(bytes);
        const Cal::Data readings = handler.readStream(in);
        if (readings.height() > 0) {
            std::ostringstream out;
            handler.writeStream(readings, out);
        }
    }
    {
        std::istringstream in(bytes);
        const CorvaneCalFile::Mesh mesh = handler.readStreamMesh(in);
        if (mesh.channels() > 0) {
            std::ostringstream out;
            handler.writeStream(mesh, out);
        }
    }
    return 0;
}
