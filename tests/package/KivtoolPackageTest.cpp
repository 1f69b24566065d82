// The package commands of the real kivtool binary: pack a folder, then info, ls and cat give back
// every file; damaged input and wrong usage give the documented exit codes.
#include "PackageBytes.h"
#include "TempFolder.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// Runs kivtool with its standard output on a terminal (a pseudo-terminal) and gives back what the
// terminal received, with the terminal's CR before each LF taken out.
std::string RunOnTerminal(const std::vector<std::string>& args) {
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child < 0) return "<no pseudo-terminal>";
    if (child == 0) {
        std::vector<char*> argv;
        std::string program = KIVTOOL_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(KIVTOOL_PATH, argv.data());
        ::_exit(127);
    }
    std::string received;
    char buffer[4096];
    while (true) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            received.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        break; // EIO once the child has closed the terminal
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(master);
    std::string text;
    for (std::size_t i = 0; i < received.size(); ++i)
        if (!(received[i] == '\r' && i + 1 < received.size() && received[i + 1] == '\n')) text += received[i];
    return text;
}

TEST_F(Kivtool, LsShowsControlCharactersOfNamesOnATerminalAsQuestionMarks) {
    // A hostile directory: ESC c resets a terminal, U+009B is the one-byte CSI, DEL.
    const std::string hostile = "ev\x1b"
                                "cil\xc2\x9b"
                                "31m\x7f\tx.jpg";
    const std::string directory =
        "\xEF\xBB\xBF[" + hostile + "]\r\n_ps=0\r\n_sz=4\r\n[plain\xc3\xa9.jpg]\r\n_ps=0\r\n_sz=4\r\n";
    const std::string package = folder_.File("hostile.kvshow");
    WriteFileBytes(package, "abcd" + test::OwnTrailer(directory, 4));

    const TRunResult piped = Run({"ls", package});
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, hostile + "\t4\t0\nplain\xc3\xa9.jpg\t4\t0\n")
        << "not a terminal: the names as stored";

    EXPECT_EQ(RunOnTerminal({"ls", package}), "ev?cil?31m??x.jpg\t4\t0\nplain\xc3\xa9.jpg\t4\t0\n");
}

TEST_F(Kivtool, PackNamesEntriesByTheirPathInsideTheFolderAndRefusesLinksLeavingIt) {
    namespace fs = std::filesystem;
    MakeShow();
    // A link to a file inside the folder is packed as that file under its own name.
    fs::create_symlink("img/Beach.JPG", show_ / "cover.jpg");
    fs::create_symlink("../Project.kiv", show_ / "img" / "copy.kiv");
    // A link to a folder inside is skipped with a warning (its files are packed once, where they lie).
    fs::create_symlink("img", show_ / "pictures");
    const std::string package = folder_.File("linked.kvshow");
    TRunResult pack = Run({"pack", show_.string(), "-o", package});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_NE(pack.err.find("pictures: a link to a folder, not packed"), std::string::npos) << pack.err;
    const TRunResult ls = Run({"ls", package});
    EXPECT_EQ(ls.out,
              "Project.kiv\t24\t0\ncover.jpg\t70000\t0\nimg\\Beach.JPG\t70000\t0\nimg\\copy.kiv\t24\t0\n"
              "img\\sub\\empty.txt\t0\t0\nsound\\a<1>.wav\t1234\t0\n");
    EXPECT_EQ(Run({"cat", package, "cover.jpg"}).out, ReadFileBytes((show_ / "img/Beach.JPG").string()));
    EXPECT_EQ(Run({"cat", package, "img\\copy.kiv"}).out, "[Main]\r\nopt_title=Test\r\n");

    // A link that leads out of the folder, to a file or a folder, or to nothing, fails the pack and
    // writes nothing.
    WriteFileBytes(folder_.File("secret"), "outside");
    const std::string refused = folder_.File("refused.kvshow");
    for (const auto& [link, target] :
         {std::pair{"leak", "../../secret"}, std::pair{"up", "../.."}, std::pair{"gone", "nothing/here"}}) {
        const fs::path at = show_ / "img" / link;
        fs::create_symlink(target, at);
        pack = Run({"pack", show_.string(), "-o", refused});
        EXPECT_EQ(pack.exitCode, 1) << link;
        EXPECT_NE(pack.err.find(at.string()), std::string::npos) << pack.err;
        EXPECT_FALSE(fs::exists(fs::symlink_status(refused))) << link;
        fs::remove(at);
    }
    for (const auto& item : fs::directory_iterator(folder_.Path()))
        EXPECT_EQ(item.path().filename().string().find("kivtool-part"), std::string::npos) << item.path();
}

TEST_F(Kivtool, PackReplacesFilesAndLinksButNeverWritesThroughALink) {
    namespace fs = std::filesystem;
    MakeShow();
    const fs::path fifo = folder_.Path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(folder_.Path() / "folder");
    for (const char* name : {"fifo", "folder"}) {
        const TRunResult pack = Run({"pack", show_.string(), "-o", folder_.File(name)});
        EXPECT_EQ(pack.exitCode, 1) << name;
        EXPECT_NE(pack.err.find("not written"), std::string::npos) << name << ": " << pack.err;
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo))) << "the FIFO is still a FIFO";
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder_.Path() / "folder")));

    // A link at the output's name is replaced by the package, whatever it points to; what it
    // pointed to stays as it was (an attacker's link to the user's file must not overwrite it).
    WriteFileBytes(folder_.File("marker"), "the user's file");
    fs::create_symlink("marker", folder_.Path() / "to-file");
    fs::create_symlink("fifo", folder_.Path() / "to-fifo");
    fs::create_symlink("folder", folder_.Path() / "to-folder");
    fs::create_symlink("missing", folder_.Path() / "to-nothing");
    for (const char* name : {"to-file", "to-fifo", "to-folder", "to-nothing"}) {
        const TRunResult pack = Run({"pack", show_.string(), "-o", folder_.File(name)});
        ASSERT_EQ(pack.exitCode, 0) << name << ": " << pack.err;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder_.Path() / name))) << name;
        EXPECT_EQ(Run({"cat", folder_.File(name), "Project.kiv"}).out, "[Main]\r\nopt_title=Test\r\n") << name;
    }
    EXPECT_EQ(ReadFileBytes(folder_.File("marker")), "the user's file");
    EXPECT_FALSE(fs::exists(folder_.Path() / "missing"));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
    EXPECT_TRUE(fs::is_empty(folder_.Path() / "folder"));

    // A regular file is replaced.
    WriteFileBytes(folder_.File("old.kvshow"), "old");
    ASSERT_EQ(Run({"pack", show_.string(), "-o", folder_.File("old.kvshow"), "--method", "deflate"}).exitCode,
              0);
    EXPECT_EQ(Run({"cat", folder_.File("old.kvshow"), "Project.kiv"}).out, "[Main]\r\nopt_title=Test\r\n");

    // No part file is left behind.
    for (const auto& item : fs::directory_iterator(folder_.Path()))
        EXPECT_EQ(item.path().filename().string().find("kivtool-part"), std::string::npos) << item.path();
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
