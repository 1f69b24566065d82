#include "package/OutsideReads.h"

#include "base/Log.h"
#include "package/WindowsPath.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace kiv {

namespace fs = std::filesystem;

namespace {

struct TState {
    std::mutex lock;
    bool set = false;
    TOutsideReadPolicy policy = TOutsideReadPolicy::RefuseAll;
    TOutsideReadAsk ask;
    std::map<std::string, bool> answers;
    std::map<std::string, bool> asking; // shows whose question is out
    std::deque<TOutsideReadQuestion> questions;
};

TState& State() {
    static TState state;
    return state;
}

bool Inside(const fs::path& path, const fs::path& folder) {
    if (folder.empty()) return false;
    const auto [folderEnd, pathIt] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return folderEnd == folder.end();
}

fs::path RealFolder(const std::string& folder) {
    if (folder.empty()) return {};
    std::error_code error;
    fs::path real = fs::canonical(folder, error);
    return error ? fs::path() : real;
}

// One XDG_..._DIR line of user-dirs.dirs: XDG_MUSIC_DIR="$HOME/Music".
std::string UserDir(const std::string& key, const std::string& home, const std::string& fallback) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string file = (config && *config ? std::string(config) : home + "/.config") + "/user-dirs.dirs";
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(key + "=")) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.starts_with("$HOME")) value = home + value.substr(5);
        // A media folder that is the home folder itself would open everything.
        if (!value.empty() && value.front() == '/' && RealFolder(value) != RealFolder(home)) return value;
        return {};
    }
    return home + "/" + fallback;
}

} // namespace

void SetOutsideReadPolicy(TOutsideReadPolicy policy, TOutsideReadAsk ask) {
    TState& state = State();
    std::lock_guard guard(state.lock);
    state.set = true;
    state.policy = policy;
    state.ask = std::move(ask);
}

void ResetOutsideReads() {
    TState& state = State();
    std::lock_guard guard(state.lock);
    state.set = false;
    state.policy = TOutsideReadPolicy::RefuseAll;
    state.ask = {};
    state.answers.clear();
    state.asking.clear();
    state.questions.clear();
}

std::vector<std::string> UserMediaFolders() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    std::vector<std::string> folders;
    for (const auto& [key, fallback] : {std::pair{"XDG_PICTURES_DIR", "Pictures"}, std::pair{"XDG_MUSIC_DIR", "Music"},
                                        std::pair{"XDG_VIDEOS_DIR", "Videos"}})
        if (std::string folder = UserDir(key, home, fallback); !folder.empty()) folders.push_back(std::move(folder));
    return folders;
}

bool OutsideReadAllowed(const std::string& diskPath, const std::string& showFolder) {
    std::error_code error;
    const fs::path real = fs::canonical(diskPath, error);
    if (error) return false; // nothing there to read
    const std::string folderPath = showFolder.empty() ? std::string() : DiskPath(showFolder);
    if (Inside(real, RealFolder(folderPath))) return true;
    for (const std::string& media : UserMediaFolders())
        if (Inside(real, RealFolder(media))) return true;

    const auto refuse = [&real](const std::string& why) {
        TLog::Line("Read refused (" + why + "): " + real.string());
        return false;
    };
    TState& state = State();
    TOutsideReadAsk ask;
    {
        std::lock_guard guard(state.lock);
        if (state.policy == TOutsideReadPolicy::AllowAll) return true;
        if (state.policy == TOutsideReadPolicy::RefuseAll)
            return refuse(state.set ? "reading outside the show is off" : "outside the show's folder");
        if (const auto answer = state.answers.find(showFolder); answer != state.answers.end())
            return answer->second ? true : refuse("the user said not to read outside the show");
        if (state.asking.contains(showFolder)) return refuse("waiting for the user's answer");
        state.asking[showFolder] = true;
        ask = state.ask;
    }
    const std::optional<bool> answer = ask ? ask(real.string(), showFolder) : std::optional<bool>(false);
    std::lock_guard guard(state.lock);
    if (!answer) {
        state.questions.push_back({real.string(), showFolder});
        return refuse("waiting for the user's answer");
    }
    state.asking.erase(showFolder);
    state.answers[showFolder] = *answer;
    TLog::Line(std::string("Reads outside the show ") + (*answer ? "allowed" : "refused") + " by the user: " +
               showFolder);
    return *answer ? true : refuse("the user said not to read outside the show");
}

std::optional<TOutsideReadQuestion> TakeOutsideReadQuestion() {
    TState& state = State();
    std::lock_guard guard(state.lock);
    if (state.questions.empty()) return std::nullopt;
    TOutsideReadQuestion question = std::move(state.questions.front());
    state.questions.pop_front();
    return question;
}

void AnswerOutsideRead(const std::string& showFolder, bool allowed) {
    TState& state = State();
    std::lock_guard guard(state.lock);
    state.asking.erase(showFolder);
    state.answers[showFolder] = allowed;
    TLog::Line(std::string("Reads outside the show ") + (allowed ? "allowed" : "refused") + " by the user: " +
               showFolder);
}

} // namespace kiv
