// Uses the installed tessella as another tool would: writes a correction mesh and reads it back,
// reads a coefficient file and solves one colour mix. Exits 0 when every result is right;
// otherwise names the first that is not.
#include <color/ColorSolveLP.h>
#include <formats/CorvaneCalFileHandler.h>
#include <formats/ccCoeffHandler.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

int fail(const char* what)
{
    std::cerr << "consumer: " << what << '\n';
    return 1;
}

bool meshRoundTrips(const std::string& path)
{
    CorvaneCalFile::Mesh mesh;
    mesh.name = "consumer";
    // Gains the file holds exactly (multiples of 1/32768).
    const Vector2D<float> grid{{1.0f, 0.5f}, {0.25f, 1.5f}};
    mesh.grids = {grid, grid, grid};
    mesh.windowWidth = 2.0f;
    mesh.windowHeight = 2.0f;
    mesh.factor = 0.5f;

    const CorvaneCalFile::Handler handler;
    {
        std::ofstream out(path, std::ios::binary);
        handler.writeStream(mesh, out);
        if (!out)
            return false;
    }
    std::ifstream in(path, std::ios::binary);
    const CorvaneCalFile::Mesh back = handler.readStreamMesh(in);
    return back.name == mesh.name && back.grids == mesh.grids && back.windowWidth == mesh.windowWidth
        && back.factor == mesh.factor;
}

bool coefficientsRead(const std::string& path)
{
    const ccCoeffFile table = ccCoeffHandler().readFile(path);
    return table.width == 2 && table.height == 1 && table.entries.size() == 2 && table.entries[1].first == 1
        && table.entries[1].matrix[0] == 0.9 && table.entries[1].matrix[8] == 0.875;
}

// Luminances of red, green and blue primaries for a mix of the D65 white's chromaticity: one
// each, within its maximum, as the solver gives only for a programme solved to optimality.
bool colourMixSolved()
{
    using xyY = Color::CIEXYZ::xyY<double>;
    const std::vector<xyY> primaries{{0.64, 0.33, 30.0}, {0.30, 0.60, 60.0}, {0.15, 0.06, 10.0}};
    const std::vector<double> luminances =
        Color::solveLP(primaries, xyY{0.3127, 0.3290, 0.0}, {}, {}, Color::Objective::Maximise, 0.0);
    if (luminances.size() != primaries.size())
        return false;
    for (std::size_t i = 0; i < primaries.size(); ++i) {
        if (!(luminances[i] > 0.0 && luminances[i] <= primaries[i].Y + 1e-9))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: consumer <work folder> <coefficient file>\n";
        return 2;
    }
    if (!meshRoundTrips(std::string(argv[1]) + "/mesh.klv"))
        return fail("the mesh read back differs from the one written");
    if (!coefficientsRead(argv[2]))
        return fail("the coefficient file was not read as written");
    if (!colourMixSolved())
        return fail("the colour mix was not solved");
    std::cout << "consumer: every result right\n";
    return 0;
}
