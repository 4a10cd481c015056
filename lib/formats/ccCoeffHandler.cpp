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
    // The old file stays unless the new one was written whole.
    const std::string text = ccCoeffText::text(table);
    TextFile::replace(path, [&text](std::ostream& out) { out.write(text.data(), std::streamsize(text.size())); });
}
