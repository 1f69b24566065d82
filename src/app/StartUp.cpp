#include "app/StartUp.h"

#include "base/Log.h"
#include "base/Process.h"
#include "framework/Application.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

namespace {

void PrintHelp() {
    std::puts("usage: kivviewer [-log | -filelog] [SHOW]\n"
              "Plays a packaged slide show (a .kvshow file, or a project file).\n"
              "Playback is not built yet: this version checks that the show can be found and exits.");
}

} // namespace

int RunPlayer(int argc, char** argv) {
    const std::string program = std::filesystem::absolute(argv[0]).string();
    TLogMode logMode = TLogMode::None;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        if (arg == "-log")
            logMode = TLogMode::Debug;
        else if (arg == "-filelog")
            logMode = TLogMode::File;
        else
            names.emplace_back(arg);
    }
    TLog::Start(logMode, program);

    int result = 0;
    if (names.empty()) {
        std::fputs("kivviewer: no show named; playback is not built yet\n", stderr);
        result = 1;
    } else {
        std::error_code error;
        const auto size = std::filesystem::file_size(names.front(), error);
        if (error) {
            std::fprintf(stderr, "kivviewer: cannot open %s: %s\n", names.front().c_str(), error.message().c_str());
            result = 1;
        } else {
            TLog::Line("Show file: " + names.front());
            std::printf("kivviewer: found %s (%llu bytes); playback is not built yet\n", names.front().c_str(),
                        static_cast<unsigned long long>(size));
        }
    }
    SetProcessExitCode(result);
    TLog::Finish();
    return ProcessExitCode();
}

} // namespace kiv
