// A temporary folder with harmless programs for start tests: each recording script appends one
// line "call" and then one line per argument to its own output file, so a test can read what a
// started program received. Children are collected and waited for with waitpid, no sleeping.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kiv::testing {

class TScriptFolder {
public:
    TScriptFolder();
    ~TScriptFolder();
    TScriptFolder(const TScriptFolder&) = delete;
    TScriptFolder& operator=(const TScriptFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Writes an executable recording script at `relativeName` (folders created) and returns its path.
    std::string AddRecorder(const std::string& relativeName);
    // Writes a plain file that is not executable.
    std::string AddFile(const std::string& relativeName, const std::string& content = "x");
    // The lines the recorder at `relativeName` wrote so far (empty when it never ran).
    std::vector<std::string> Recorded(const std::string& relativeName) const;

    // For TProgramRunner::TOptions::childStarted.
    void ChildStarted(pid_t pid) { children_.push_back(pid); }
    // Waits for every started child; returns how many exited with status 0.
    int WaitForChildren();
    int ChildCount() const { return static_cast<int>(children_.size()); }

private:
    std::filesystem::path path_;
    std::vector<pid_t> children_;
};

} // namespace kiv::testing
