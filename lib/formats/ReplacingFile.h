#pragma once

#include <fstream>
#include <string>

// Writes a file whole or not at all. The bytes go to a new temporary file in the target's own
// folder (so the final rename stays on one file system); only commit() puts it in the target's
// place, after every byte was written and synced. Until then, and whenever a step fails, the
// target keeps its old content, and the temporary file is removed when this object goes.
// A symbolic link as target is followed, so the link stays and the file it names is replaced; a
// file that is replaced keeps its permission bits. A target that exists but is no regular file
// (a device, a pipe) cannot be replaced and must not be renamed over: it is written in place.
class ReplacingFile {
public:
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False when the target cannot be written (a folder, a file without write permission) or the
    // temporary file could not be made; error() then tells why.
    bool isOpen() const { return !temporary_.empty(); }
    // The system error number of the last failed step, 0 when none failed.
    int error() const { return error_; }

    // The stream onto the temporary file, opened on first use.
    std::ostream& stream();
    // For writers that open files by name themselves: the temporary file, which already exists
    // (the target itself when it is written in place).
    const std::string& temporaryPath() const { return temporary_; }

    // Closes and syncs the temporary file and renames it over the target. False, with error() set
    // and the target untouched, when the stream failed or any step does.
    bool commit();

private:
    void discard();

    std::string target_;
    std::string temporary_;
    std::ofstream stream_;
    int error_ = 0;
    // The target is a device or pipe written directly; temporary_ then names the target itself.
    bool inPlace_ = false;
};
