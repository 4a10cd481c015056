#include "formats/TextFile.h"

#include <cerrno>
#include <cstring>
#include <iostream>

namespace TextFile {

namespace {

void report(const char* what, const std::string& path, int error)
{
    std::cerr << what << path << ": " << std::strerror(error) << std::endl;
}

} // namespace

bool openFailed(const std::ios& stream, const std::string& path)
{
    if (stream)
        return false;
    report("Can't open file ", path, errno);
    return true;
}

bool closeWritten(std::ostream& out, std::filebuf& file, const std::string& path)
{
    const int earlier = errno;
    if (out.bad()) {
        report("Can't write file ", path, earlier != 0 ? earlier : EIO);
        file.close();
        return false;
    }
    errno = 0;
    if (file.close() == nullptr) {
        const int error = errno != 0 ? errno : EIO;
        report("Can't write file ", path, error);
        out.setstate(std::ios::badbit);
        return false;
    }
    return !out.fail();
}

} // namespace TextFile
