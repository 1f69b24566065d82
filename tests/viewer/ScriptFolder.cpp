#include "ScriptFolder.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>

namespace kiv::testing {

namespace fs = std::filesystem;

TScriptFolder::TScriptFolder() {
    std::string pattern = (fs::temp_directory_path() / "kivrun-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TScriptFolder::~TScriptFolder() {
    WaitForChildren();
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string TScriptFolder::AddRecorder(const std::string& relativeName) {
    const fs::path script = path_ / relativeName;
    fs::create_directories(script.parent_path());
    {
        std::ofstream out(script);
        // Children may run at the same time: the record is written whole with one small append
        // (cat copies the little file in one write), so records never interleave.
        out << "#!/bin/sh\n"
               "{ echo call; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.$$.tmp\"\n"
               "cat \"$0.$$.tmp\" >> \"$0.out\"\n"
               "rm -f \"$0.$$.tmp\"\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    return script.string();
}

std::string TScriptFolder::AddFile(const std::string& relativeName, const std::string& content) {
    const fs::path file = path_ / relativeName;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << content;
    return file.string();
}

std::vector<std::string> TScriptFolder::Recorded(const std::string& relativeName) const {
    std::vector<std::string> lines;
    std::ifstream in(path_ / (relativeName + ".out"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int TScriptFolder::WaitForChildren() {
    int succeeded = 0;
    for (pid_t pid : children_) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) ++succeeded;
    }
    children_.clear();
    return succeeded;
}

} // namespace kiv::testing
