#include "formats/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

// Attempts at a free temporary name before giving up; names differ by process and counter, so
// only leftovers of an earlier process with the same id can collide.
constexpr int kNameAttempts = 100;
// New files get what a plain open for writing would give them (the process's umask applies).
constexpr mode_t kNewFileMode = 0666;

std::atomic<unsigned> nameCounter{0};

std::string temporaryNameFor(const std::string& target)
{
    const std::filesystem::path path(target);
    const std::string name = "." + path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-"
                             + std::to_string(nameCounter.fetch_add(1));
    return (path.parent_path() / name).string();
}

} // namespace

ReplacingFile::ReplacingFile(const std::string& target) : target_(target)
{
    std::error_code ec;
    if (std::filesystem::is_symlink(target_, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(target_, ec);
        if (!ec)
            target_ = resolved.string();
    }
    struct stat existing{};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error_ = EISDIR;
        return;
    }
    if (exists && ::access(target_.c_str(), W_OK) != 0) {
        error_ = errno;
        return;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        inPlace_ = true;
        temporary_ = target_;
        return;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = temporaryNameFor(target_);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd < 0) {
            error_ = errno;
            if (error_ == EEXIST)
                continue;
            return;
        }
        if (exists)
            ::fchmod(fd, existing.st_mode & 07777);
        ::close(fd);
        temporary_ = name;
        error_ = 0;
        return;
    }
}

ReplacingFile::~ReplacingFile() { discard(); }

std::ostream& ReplacingFile::stream()
{
    if (!stream_.is_open() && isOpen()) {
        errno = 0;
        stream_.open(temporary_, std::ios::binary | std::ios::trunc);
        if (!stream_)
            error_ = errno;
    }
    if (!isOpen())
        stream_.setstate(std::ios::failbit);
    return stream_;
}

bool ReplacingFile::commit()
{
    if (!isOpen())
        return false;
    errno = 0;
    if (stream_.is_open()) {
        stream_.close();  // flushes; a failed write or flush leaves failbit or badbit
        if (!stream_) {
            error_ = errno ? errno : EIO;
            discard();
            return false;
        }
    }
    if (inPlace_) {
        temporary_.clear();
        return true;
    }
    const int fd = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (!synced)
        error_ = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        if (synced)
            error_ = errno;
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void ReplacingFile::discard()
{
    if (stream_.is_open())
        stream_.close();
    if (!temporary_.empty() && !inPlace_)
        ::unlink(temporary_.c_str());
    temporary_.clear();
}
