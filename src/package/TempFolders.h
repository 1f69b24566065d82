// Temporary folders: fresh folders named after random GUIDs under one temporary root
// ($TMPDIR, else /tmp, + "ZORVIK_TEMP_ROOT"). Each folder has a sibling lock file (the folder name
// + ".lock") that its process holds with flock for as long as it lives; the process removes its
// folders when it ends, and a later start removes the folders whose lock files nobody holds any
// more (their process crashed). A running process never loses its folders to another one.
//
// Only names directly inside the root are ever removed. Failures are assertions:
// "VendorTemp Create Error: <path>" when the root or a folder cannot be made, "Temp Path not Found"
// when the root is not a folder of this user. All operations are thread-safe.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TTempFolders {
public:
    // `root` is the temporary root (a trailing "/" is added when missing). Nothing happens on disk
    // until the first folder is asked for.
    explicit TTempFolders(std::string root);
    // Removes the folders this process made (ReleaseAll).
    ~TTempFolders();
    TTempFolders(const TTempFolders&) = delete;
    TTempFolders& operator=(const TTempFolders&) = delete;

    // The root, made ready on first use: created when missing, then every "*.lock" file in it
    // that no process holds is deleted together with the folder of the same name (when that
    // folder cannot be removed, the lock file is made again so that a later start retries).
    const std::string& Root();

    // A new empty folder under the root, held locked until ReleaseAll or the end of the process;
    // with or without a trailing "/".
    std::string NewFolder(bool trailingSeparator);

    // The folders made so far by this object in this process.
    std::vector<std::string> Folders() const;

    // For every folder this process made: remove it with its contents, then delete and unlock its
    // lock file; a folder that cannot be removed keeps its lock file for a later start. Folders
    // made by a parent process before a fork are left to that parent.
    void ReleaseAll();

private:
    struct TFolder {
        std::string path;
        int lockFd;
        pid_t owner;
    };

    void Prepare();
    void RemoveStale();

    std::string root_;
    bool ready_ = false;
    std::vector<TFolder> folders_;
    mutable std::mutex mutex_;
};

// The root of this process: TempFolderPath() + "ZORVIK_TEMP_ROOT/".
std::string DefaultTempRoot();

// The process-wide folders under DefaultTempRoot(), released at process exit.
TTempFolders& ProcessTempFolders();

// New temporary folder of the process (ProcessTempFolders().NewFolder).
std::string NewTempFolder(bool trailingSeparator);

// A random (version 4) GUID as text in braces, upper-case hexadecimal:
// "{1B4E28BA-2FA1-41D2-883F-0016D3CCA427}".
std::string NewGuidText();

} // namespace kiv
