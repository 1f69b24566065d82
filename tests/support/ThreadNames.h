// The names of this process's threads, read from /proc: tests check that a thread runs under its
// name and that it is gone after its owner closed.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace kiv::test {

inline std::vector<std::string> ThreadNames() {
    std::vector<std::string> names;
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) return names;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    ::closedir(tasks);
    return names;
}

inline bool HasThread(const std::string& name) {
    const std::vector<std::string> names = ThreadNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace kiv::test
