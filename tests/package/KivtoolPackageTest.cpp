// The package commands of the real kivtool binary: pack a folder, then info, ls and cat give back
// every file; damaged input and wrong usage give the documented exit codes.
#include "PackageBytes.h"
#include "TempFolder.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

namespace kiv {
namespace {

using test::ReadFileBytes;
using test::TRunResult;
using test::TTempFolder;
using test::WriteFileBytes;

class Kivtool : public ::testing::Test {
protected:
    TRunResult Run(const std::vector<std::string>& args) { return test::RunProgram(KIVTOOL_PATH, args, folder_.Path()); }

    // A show folder with nested folders, text and binary files.
    std::map<std::string, std::string> MakeShow() {
        std::map<std::string, std::string> files;
        std::string binary;
        for (int i = 0; i < 70000; ++i) binary += static_cast<char>(i * 31 % 256);
        files["Project.kiv"] = "[Main]\r\nopt_title=Test\r\n";
        files["img\\Beach.JPG"] = binary;
        files["img\\sub\\empty.txt"] = "";
        files["sound\\a[1].wav"] = binary.substr(0, 1234);
        for (const auto& [name, bytes] : files) {
            std::string path = name;
            std::replace(path.begin(), path.end(), '\\', '/');
            WriteFileBytes((show_ / path).string(), bytes);
        }
        return files;
    }

    TTempFolder folder_;
    std::filesystem::path show_ = folder_.Path() / "show";
};

TEST_F(Kivtool, PackThenLsAndCatGiveBackEveryFileForEachMethod) {
    const auto files = MakeShow();
    for (const auto& [method, type] : {std::pair{"store", 0}, std::pair{"deflate", 1}, std::pair{"scramble", 2}}) {
        const std::string package = folder_.File(std::string(method) + ".kvshow");
        const TRunResult pack = Run({"pack", show_.string(), "-o", package, "--method", method, "--version", "9.0"});
        ASSERT_EQ(pack.exitCode, 0) << pack.err;

        const TRunResult ls = Run({"ls", package});
        ASSERT_EQ(ls.exitCode, 0) << ls.err;
        // NAME<TAB>STORED_SIZE<TAB>TYPE in directory order (the writer's order: by name).
        std::string expected;
        for (const auto& [name, bytes] : files) {
            std::string section = name;
            std::replace(section.begin(), section.end(), '[', '<');
            std::replace(section.begin(), section.end(), ']', '>');
            const std::string size = type == 1 ? "*" : std::to_string(bytes.size());
            expected += section + "\t" + size + "\t" + std::to_string(type) + "\n";
        }
        std::string listed = ls.out;
        if (type == 1) {
            // Compressed sizes depend on zlib; compare the other columns.
            for (std::size_t tab = listed.find('\t'); tab != std::string::npos; tab = listed.find('\t', tab + 3)) {
                const std::size_t end = listed.find('\t', tab + 1);
                listed.replace(tab + 1, end - tab - 1, "*");
            }
        }
        EXPECT_EQ(listed, expected) << method;

        for (const auto& [name, bytes] : files) {
            const TRunResult cat = Run({"cat", package, name});
            ASSERT_EQ(cat.exitCode, 0) << name << ": " << cat.err;
            EXPECT_EQ(cat.out, bytes) << method << " " << name;
        }
        const TRunResult info = Run({"info", package});
        EXPECT_EQ(info.out, "{\"form\":\"own\",\"base\":0,\"end\":" +
                                std::to_string(std::filesystem::file_size(package)) +
                                ",\"shift\":0,\"version\":\"9.0\",\"entries\":4}\n");
    }
}

TEST_F(Kivtool, PackWithExeWritesTheAppendedFormAndKeepsTheRunBit) {
    const auto files = MakeShow();
    const std::string exe = folder_.File("player");
    WriteFileBytes(exe, std::string(5000, '\x7f'));
    ::chmod(exe.c_str(), 0755);
    const std::string output = folder_.File("myshow");
    const TRunResult pack = Run({"pack", show_.string(), "-o", output, "--exe", exe, "--method", "deflate"});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    struct stat info {};
    ASSERT_EQ(::stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_EQ(ReadFileBytes(output).substr(0, 5000), std::string(5000, '\x7f'));

    const TRunResult summary = Run({"info", output});
    EXPECT_EQ(summary.out, "{\"form\":\"appended\",\"base\":5000,\"end\":" +
                               std::to_string(std::filesystem::file_size(output) - 8) +
                               ",\"shift\":0,\"version\":\"\",\"entries\":4}\n");
    EXPECT_EQ(Run({"cat", output, "IMG\\beach.jpg"}).out, files.at("img\\Beach.JPG"));
}

TEST_F(Kivtool, MovedPackageOpensWithAllowModify) {
    MakeShow();
    const std::string exe = folder_.File("player");
    WriteFileBytes(exe, std::string(300, 'e'));
    const std::string output = folder_.File("moved");
    ASSERT_EQ(Run({"pack", show_.string(), "-o", output, "--exe", exe, "--allow-modify"}).exitCode, 0);
    WriteFileBytes(output, std::string(700, 'x') + ReadFileBytes(output));
    const TRunResult summary = Run({"info", output});
    EXPECT_NE(summary.out.find("\"base\":1000,"), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("\"shift\":700,"), std::string::npos) << summary.out;
    EXPECT_EQ(Run({"cat", output, "Project.kiv"}).out, "[Main]\r\nopt_title=Test\r\n");
}

TEST_F(Kivtool, BadInputExitsWithOneAndWrongUsageWithTwo) {
    const std::string package = folder_.File("bad.kvshow");
    WriteFileBytes(package, "no package here at all");
    TRunResult result = Run({"info", package});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("not a show package"), std::string::npos) << result.err;

    result = Run({"ls", folder_.File("missing.kvshow")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Slideshow File not Found"), std::string::npos) << result.err;

    WriteFileBytes(package, "xx");
    EXPECT_EQ(Run({"info", package}).exitCode, 1);

    // A directory entry whose extent lies past the end of the file.
    WriteFileBytes(package, std::string(100, 'a') + test::OwnTrailer("[far]\r\n_ps=90\r\n_sz=900\r\n", 100));
    result = Run({"cat", package, "far"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Insufficient Source Size"), std::string::npos) << result.err;
    EXPECT_EQ(Run({"cat", package, "near"}).exitCode, 1);

    EXPECT_EQ(Run({"cat", package}).exitCode, 2);
    EXPECT_EQ(Run({"pack", show_.string()}).exitCode, 2);
    EXPECT_EQ(Run({"pack", show_.string(), "-o", package, "--method", "zip"}).exitCode, 2);
    EXPECT_EQ(Run({"pack", folder_.File("nofolder"), "-o", package}).exitCode, 1);

    const TRunResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"info SHOW", "ls SHOW", "cat SHOW NAME", "pack DIR -o OUT"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
}

} // namespace
} // namespace kiv
