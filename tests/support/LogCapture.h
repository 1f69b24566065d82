// Runs a piece of a test with the process log writing to a temporary file and returns what was
// logged. The log is process-wide, so only one capture may run at a time.
#pragma once

#include "base/Log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace kiv::test {

template <class TBody> std::string LoggedWhile(TBody&& body) {
    static int serial = 0;
    const std::string path = testing::TempDir() + "kiv_capture_" + std::to_string(::getpid()) + "_" +
                             std::to_string(++serial) + ".log";
    TLog::Start(TLogMode::File, "test", path);
    try {
        body();
    } catch (...) {
        TLog::Finish();
        std::filesystem::remove(path);
        throw;
    }
    TLog::Finish();
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    std::filesystem::remove(path);
    return text;
}

} // namespace kiv::test
