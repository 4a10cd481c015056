#pragma once

#include <ext/stdio_filebuf.h>

#include <memory>
#include <ostream>
#include <string>

// Writes a file whole or not at all. The bytes go to a new temporary file in the target's own
// folder (so the final rename stays on one file system); only commit() puts it in the target's
// place, after every byte was written and synced. Until then, and whenever a step fails, the
// target keeps its old content, and the temporary file is removed when this object goes.
// A symbolic link as target is followed, so the link stays and the file it names is replaced; a
// file that is replaced keeps its permission bits. A target that exists but is no regular file
// (a device, a pipe) cannot be replaced and must not be renamed over: it is written in place.
// Nothing here ever waits in open(): a FIFO that no process reads is refused at once (ENXIO, "No
// such device or address") instead of waiting for a reader that may never come; one that a
// process reads is written at that reader's pace.
class ReplacingFile {
public:
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False when the target cannot be written (a folder, a file without write permission, a
    // FIFO without a reader) or the temporary file could not be made; error() then tells why.
    bool isOpen() const { return buffer_ != nullptr; }
    // The system error number of the last failed step, 0 when none failed.
    int error() const { return error_; }

    // The stream onto the temporary file (or the target written in place); failed when the file
    // is not open.
    std::ostream& stream() { return stream_; }

    // Flushes and syncs the temporary file and renames it over the target. False, with error()
    // set and the target untouched, when the stream failed or any step does.
    bool commit();

private:
    using Buffer = __gnu_cxx::stdio_filebuf<char>;

    // Takes descriptor, an open file, as the stream's.
    void attach(int descriptor);
    void discard();

    std::string target_;
    std::string temporary_;
    std::unique_ptr<Buffer> buffer_;
    std::ostream stream_{nullptr};
    int error_ = 0;
    // The target is a device or pipe written directly; no temporary file exists.
    bool inPlace_ = false;
};
