#include "formats/CorvaneCalFileHandler.h"
#include "formats/CorvaneCalSets.h"
#include "formats/CorvaneCalWrite.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

// Writes small valid calibration files with the library into a folder, as seeds for the sealed
// fuzzer. Each seed is stored without its 4-byte CRC, since the fuzzer appends that itself.
namespace {

bool store(const std::string& folder, const std::string& name, const std::string& bytes)
{
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size() - 4));
    return bool(out);
}

std::string meshBytes(unsigned channels, std::size_t width, std::size_t height, const std::string& name)
{
    CorvaneCalFile::Mesh mesh;
    mesh.name = name;
    for (unsigned ch = 0; ch < channels; ++ch) {
        Vector2D<float> grid(width, height);
        for (std::size_t r = 0; r < height; ++r)
            for (std::size_t c = 0; c < width; ++c)
                grid[r][c] = 0.25f * float(ch + r + c);
        mesh.grids.push_back(grid);
    }
    mesh.windowX = 0.5f;
    mesh.windowY = 0.5f;
    mesh.windowWidth = float(width);
    mesh.windowHeight = float(height);
    mesh.factor = 0.05f;
    std::ostringstream out;
    CorvaneCalFile::Handler().writeStream(mesh, out);
    return out.str();
}

std::string dataBytes(unsigned channels, std::size_t width, std::size_t height)
{
    Cal::Data data;
    for (unsigned ch = 0; ch < channels; ++ch)
        data.addChannel(Vector2D<Cal::EmitterReading>(width, height, {0.3f + 0.1f * float(ch), 0.3f, 2.0f, 0.0f}));
    std::ostringstream out;
    CorvaneCalFile::Handler().writeStream(data, out);
    return out.str();
}

// Every set of the format filled, so that mutations start from each kind of record.
std::string allSetsBytes()
{
    CorvaneCal::CalSets sets;
    sets.header.pixelFormat = 3;
    sets.header.width = 2;
    sets.header.height = 1;
    sets.factoryCorr = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    sets.factoryLow = {1, 2, 3};
    sets.batchId = "batch";
    sets.tileId = {{1, 2, 3, 4, 5, 6}, 7, 8, 0.5f, 9};
    sets.procInfo = {4, 0x100000002ull, 0, 0x10000};
    sets.brightness = 800.0f;
    sets.defaultGamut = {{{0.64f, 0.33f}, {0.3f, 0.6f}, {0.15f, 0.06f}}};
    sets.defaultWhite = {0.3127f, 0.329f};
    sets.idealGamut = {{{0.64f, 0.33f, 1}, {0.3f, 0.6f, 1}, {0.15f, 0.06f, 1}}};
    sets.measTemps = {{1, {20, 21, 22}}, {2, {30, 31, 32}}};
    sets.pixelsXYZ.assign(2, {{{1, 2, 1}, {2, 3, 1}, {1, 1, 2}}});
    sets.olutXYY.assign(2, {{{0.3f, 0.3f, 1}, {0.3f, 0.3f, 1}, {0.3f, 0.3f, 1}, {}, {}}});
    sets.calTemplate = "template";
    sets.lowGray = {{1, 2, 3}, {4, 5, 6}};
    sets.lowGray16 = 1;
    sets.olutId = "olut";
    sets.olutProcInfo = {1, 2, 3, 4};
    sets.olutGamut = sets.defaultGamut;
    sets.olutWhite = sets.defaultWhite;
    sets.olutDat = {{1, 2, 3, 4, 5}};
    sets.olutRef = {{{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {}, {}}};
    sets.olutIShaper = {0, 100, 65535};
    sets.olutOShaper = {65535, 0};
    sets.badPixels = {{1, 0, 2, 3}};
    sets.mesh.name = "mesh";
    sets.mesh.width = 2;
    sets.mesh.height = 1;
    sets.mesh.channels[0] = {0x8000, 0x4000};
    sets.mesh.channels[2] = {0x1000, 0x2000};
    sets.stored.push_back({0x00010099, 3, std::make_shared<const std::vector<std::uint8_t>>(3, 7), 0});
    std::ostringstream out;
    CorvaneCal::Write(sets, 0xFF).write(out);
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = store(folder, "mesh-3x2x2", meshBytes(3, 2, 2, "Velotrim continuous"));
    ok = store(folder, "mesh-1x3x1", meshBytes(1, 3, 1, "m")) && ok;
    ok = store(folder, "mesh-5x1x2", meshBytes(5, 1, 2, "")) && ok;
    ok = store(folder, "mesh-empty", meshBytes(3, 0, 0, "n")) && ok;
    ok = store(folder, "data-3x2x1", dataBytes(3, 2, 1)) && ok;
    ok = store(folder, "data-1x1x2", dataBytes(1, 1, 2)) && ok;
    ok = store(folder, "data-empty", dataBytes(3, 0, 0)) && ok;
    ok = store(folder, "all-sets", allSetsBytes()) && ok;
    return ok ? 0 : 1;
}
