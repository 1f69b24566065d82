// Keeps a test program away from the real home and temporary folders: before the first test it
// makes a fresh folder under /tmp, points $TMPDIR, $HOME, $XDG_CONFIG_HOME and $XDG_DATA_HOME into
// it and makes it the program's folder for file access; after the last test it removes it.
// Include it in exactly one source file of a test program.
#pragma once

#include "package/PathModifiers.h"
#include "package/ProgramFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kiv::test {

class THermeticFolders : public ::testing::Environment {
public:
    static const std::filesystem::path& Top() { return top_; }
    // Folders inside the hermetic top folder.
    static std::filesystem::path Program() { return top_ / "program"; }
    static std::filesystem::path DataHome() { return top_ / "home" / ".local" / "share"; }
    static std::filesystem::path ConfigHome() { return top_ / "home" / ".config"; }
    static std::filesystem::path Temp() { return top_ / "tmp"; }

    void SetUp() override {
        std::string pattern = "/tmp/kivhermetic-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        top_ = pattern;
        for (const auto& folder : {Program(), DataHome(), ConfigHome(), Temp()})
            std::filesystem::create_directories(folder);
        ::setenv("TMPDIR", Temp().c_str(), 1);
        ::setenv("HOME", (top_ / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
        ::setenv("XDG_DATA_HOME", DataHome().c_str(), 1);
        SetProgramFolder(Program().string() + "/");
        ResetPathModifiers();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(top_, ignored);
    }

private:
    static inline std::filesystem::path top_;
};

inline ::testing::Environment* const kHermeticFolders =
    ::testing::AddGlobalTestEnvironment(new THermeticFolders);

} // namespace kiv::test
