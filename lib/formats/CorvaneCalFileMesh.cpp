#include "formats/CorvaneCalFileMesh.h"

namespace CorvaneCalFile {

Mesh::Mesh() = default;
Mesh::Mesh(const Mesh& other) = default;
Mesh::Mesh(Mesh&& other) noexcept = default;
Mesh::~Mesh() = default;
Mesh& Mesh::operator=(const Mesh& other) = default;
Mesh& Mesh::operator=(Mesh&& other) noexcept = default;

std::uint64_t Mesh::channels() const
{
    return grids.size();
}

} // namespace CorvaneCalFile
