#include "formats/TextFile.h"

#include "formats/ReplacingFile.h"

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

bool replace(const std::string& path, const std::function<void(std::ostream&)>& write)
{
    ReplacingFile file(path);
    std::ostream& out = file.stream();
    if (!out) {
        report("Can't open file ", path, file.error() != 0 ? file.error() : EIO);
        return false;
    }
    errno = 0;
    write(out);
    if (out.bad()) {
        report("Can't write file ", path, errno != 0 ? errno : EIO);
        return false;
    }
    if (out.fail())
        return false;
    if (!file.commit()) {
        report("Can't write file ", path, file.error() != 0 ? file.error() : EIO);
        return false;
    }
    return true;
}

} // namespace TextFile
