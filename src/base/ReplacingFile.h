// TReplacingFile: writes an output file so that whatever stands at its name is replaced, never
// written through. The bytes go into a new file beside the output (created so that nothing there
// is opened: no file, no link), which is renamed over the output when the writing is done. A
// symbolic link at the output's name is thereby replaced by the file, and the file the link
// pointed to stays as it was. An output name that holds something else than a file or a link
// (a folder, a device, a FIFO) is refused. Any thread; one object per output.
#pragma once

#include <cstdio>
#include <string>

namespace kiv {

class TReplacingFile {
public:
    // Creates the part file beside `target`. On failure File() is null and Error() says why.
    explicit TReplacingFile(std::string target);
    // A part file that was not committed is removed.
    ~TReplacingFile();
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    std::FILE* File() const { return file_; }
    // The part file's name (for writers that open by name; empty on failure).
    const std::string& PartName() const { return part_; }
    const std::string& Error() const { return error_; }

    // Closes the part file and renames it over the target. False (Error() says why) when a write
    // failed before, or closing or renaming failed; the part file is removed then.
    bool Commit();
    // Renames the part file over the target at once and keeps it open for more writing (a log
    // that is written for the whole run).
    bool CommitAndKeepOpen();
    // Gives up the open file: the caller closes it.
    std::FILE* Release();

private:
    bool Rename();

    std::string target_;
    std::string part_;
    std::string error_;
    std::FILE* file_ = nullptr;
    bool renamed_ = false;
};

} // namespace kiv
