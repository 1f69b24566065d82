// Runs a real program of ours through the shell, each argument quoted, and collects its exit code,
// standard output and standard error.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kiv::test {

struct TRunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Single quotes, with each ' written as '\''.
inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// `setup` goes before the program on the command line ("cd DIR && NAME=VALUE"); the output is
// caught in files inside `scratch`.
inline TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& scratch, const std::string& setup = {}) {
    std::string command = setup.empty() ? ShellQuote(program) : setup + " " + ShellQuote(program);
    for (const std::string& arg : args)
        command += " " + ShellQuote(arg);
    const std::filesystem::path out = scratch / "stdout", err = scratch / "stderr";
    command += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
    const int status = std::system(command.c_str());
    const auto read = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    TRunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read(out);
    result.err = read(err);
    return result;
}

} // namespace kiv::test
