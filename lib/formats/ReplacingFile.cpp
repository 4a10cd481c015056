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

// Opens a target that is no regular file for writing without waiting: open() would wait on a
// FIFO until some process opens it for reading, for ever when none does; without O_NONBLOCK it
// fails at once instead (ENXIO). Once open, writes wait as usual, so that a slow reader is
// given every byte. -1 with errno set when it cannot be opened.
int openInPlace(const std::string& target)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
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
        const int fd = openInPlace(target_);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        inPlace_ = true;
        attach(fd);
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
        temporary_ = name;
        error_ = 0;
        attach(fd);
        return;
    }
}

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::attach(int descriptor)
{
    buffer_ = std::make_unique<Buffer>(descriptor, std::ios::out | std::ios::binary);
    if (!buffer_->is_open()) {
        error_ = errno != 0 ? errno : EIO;
        ::close(descriptor);
        buffer_.reset();
        discard();
        return;
    }
    stream_.rdbuf(buffer_.get());
    stream_.clear();
}

bool ReplacingFile::commit()
{
    if (!isOpen())
        return false;
    errno = 0;
    stream_.flush(); // a failed write or flush leaves badbit, and errno says why
    const bool written = bool(stream_);
    if (!written)
        error_ = errno ? errno : EIO;
    const bool synced = written && (inPlace_ || ::fsync(buffer_->fd()) == 0);
    if (written && !synced)
        error_ = errno;
    const bool closed = buffer_->close() != nullptr;
    if (synced && !closed)
        error_ = errno ? errno : EIO;
    buffer_.reset();
    stream_.rdbuf(nullptr);
    stream_.setstate(std::ios::badbit);
    if (!synced || !closed) {
        discard();
        return false;
    }
    if (!inPlace_ && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error_ = errno;
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void ReplacingFile::discard()
{
    buffer_.reset();
    stream_.rdbuf(nullptr);
    stream_.setstate(std::ios::badbit);
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}
