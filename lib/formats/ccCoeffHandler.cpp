#include "formats/ccCoeffHandler.h"

#include "formats/TextFile.h"
#include "formats/ccCoeffText.h"

#include <cerrno>
#include <fstream>

ccCoeffFile ccCoeffHandler::readFile(std::string path) const
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (TextFile::openFailed(in, path))
        return {};
    return ccCoeffText::read(in, path);
}

void ccCoeffHandler::writeFile(const ccCoeffFile& table, std::string path) const
{
    errno = 0;
    // Opened for reading and writing, replacing any earlier content.
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    if (TextFile::openFailed(out, path))
        return;
    const std::string text = ccCoeffText::text(table);
    out.write(text.data(), std::streamsize(text.size()));
    TextFile::closeWritten(out, *out.rdbuf(), path);
}
