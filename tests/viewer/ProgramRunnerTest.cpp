#include "viewer/ProgramRunner.h"

#include "ScriptFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace kiv {
namespace {

using testing::TScriptFolder;
using Strings = std::vector<std::string>;

TEST(CommandText, CommasOutsideQuotesSeparateCommands) {
    EXPECT_EQ(SplitCommands("a.exe, b.exe"), (Strings{"a.exe", "b.exe"}));
    EXPECT_EQ(SplitCommands("\"C:\\My, Tools\\a.exe\" -x,  b.exe \"1,2\" "),
              (Strings{"\"C:\\My, Tools\\a.exe\" -x", "b.exe \"1,2\""}));
    EXPECT_EQ(SplitCommands(" ,a,,\t,"), (Strings{"a"}));
    EXPECT_TRUE(SplitCommands("").empty());
}

TEST(CommandText, ProhibitedCommandsByFirstWordOrGreaterThan) {
    for (const char* command :
         {"cmd", "cmd /c dir", "CMD.EXE /c x", "C:\\Windows\\cmd.exe", "C:/Windows/System32/cmd.exe",
          "\"C:\\Windows\\cmd.exe\" /k", "@del *.*", "  \tformat c:", "\"cmd\"", "regsvr32 x.dll", "tftp",
          "notes.txt > out", ">", "viewer.exe a>b",
          // The folder part of an address is dropped too, so this reads as "format".
          "http://example.com/format.html"})
        EXPECT_TRUE(IsProhibitedCommand(command)) << command;
    for (const char* command : {"notepad.exe", "cmdtool.exe", "\"My cmd\\x.exe\"", "C:\\cmd\\viewer.exe",
                                "a|cmd", "deltas.exe", "", "http://example.com/index.html"})
        EXPECT_FALSE(IsProhibitedCommand(command)) << command;
}

TEST(CommandText, LinuxProgramsThatDoWhatTheListGuardsAgainstAreProhibited) {
    for (const char* command :
         {"rm -rf ~", "/bin/rm -rf /", "RM -r x", "sh -c \"touch /tmp/x\"", "bash", "/usr/bin/bash -c id",
          "\"/bin/sh\" -c id", "zsh -c id", "busybox rm x", "python3 -c \"import os\"", "python3.11 -c 1",
          "perl -e 1", "ruby -e 1", "node -e 1", "dd of=/dev/sda", "dd.exe", "mkfs.ext4 /dev/sdb1", "shred -u a",
          "wipefs -a /dev/sda", "sudo reboot", "su -c id", "pkexec id", "doas id", "chmod 777 /", "chown root x",
          "systemctl stop x", "reboot", "shutdown -h now", "poweroff", "mv a b", "cp a b", "env rm x",
          "/usr/bin/env bash", "xargs rm", "nohup x", "find / -delete", "curl -o x http://a", "wget http://a",
          "ssh host", "kill -9 1", "@sudo id", "crontab -r"})
        EXPECT_TRUE(IsProhibitedCommand(command)) << command;
    // The check stays on the first word: these words elsewhere, or as part of a longer name, pass.
    for (const char* command : {"viewer rm", "notes.txt sh", "shell.exe", "rmview", "ddd", "sudoku.exe",
                                "./bashful", "python-docs.pdf", "xdg-open show.pdf", "\"my sh\\app\"",
                                "envelope.png", "mvplayer x", "setup.exe", "install.exe"})
        EXPECT_FALSE(IsProhibitedCommand(command)) << command;
}

TEST(CommandText, CheckWordRules) {
    EXPECT_EQ(CommandCheckWord("\"C:\\Program Files\\Tool.EXE\" /x"), "tool");
    EXPECT_EQ(CommandCheckWord("\"My Tools\\run it.exe\""), "run_it");
    EXPECT_EQ(CommandCheckWord("@@a|b.c.d e"), "ab");
    EXPECT_EQ(CommandCheckWord("x\\y/z.sh"), "z");
    EXPECT_EQ(CommandCheckWord("y/z\\w"), "w");
    EXPECT_EQ(CommandCheckWord("ÄBC"), "Äbc"); // only A-Z change case
}

TEST(CommandText, FileAndParametersSplit) {
    auto parts = SplitFileAndParameters("viewer.exe -a b");
    EXPECT_EQ(parts.file, "viewer.exe");
    EXPECT_EQ(parts.parameters, "-a b");
    parts = SplitFileAndParameters("\"C:\\My Tools\\v.exe\"  -a   ");
    EXPECT_EQ(parts.file, "\"C:\\My Tools\\v.exe\"");
    EXPECT_EQ(parts.parameters, "-a");
    // Parameters that held a quote lose their quotes and are quoted as a whole...
    parts = SplitFileAndParameters("v.exe -t \"two words\" -x");
    EXPECT_EQ(parts.parameters, "\"-t two words -x\"");
    // ...while the program's arguments come from the text as written.
    EXPECT_EQ(parts.rawParameters, "-t \"two words\" -x");
    EXPECT_EQ(SplitArguments(parts.rawParameters), (Strings{"-t", "two words", "-x"}));
    parts = SplitFileAndParameters("\"unclosed file");
    EXPECT_EQ(parts.file, "\"unclosed file\"");
    EXPECT_EQ(parts.parameters, "");
    parts = SplitFileAndParameters("single");
    EXPECT_EQ(parts.file, "single");
    EXPECT_EQ(parts.parameters, "");
}

TEST(CommandText, ArgumentsFollowTheWindowsRules) {
    EXPECT_EQ(SplitArguments("  a  b\tc "), (Strings{"a", "b", "c"}));
    EXPECT_EQ(SplitArguments("\"a b\" \"\" c"), (Strings{"a b", "", "c"}));
    EXPECT_EQ(SplitArguments("a\\\\\\\"b"), (Strings{"a\\\"b"}));    // 3 backslashes + quote
    EXPECT_EQ(SplitArguments("\"a\\\\\" b"), (Strings{"a\\", "b"})); // 2 backslashes + quote
    EXPECT_EQ(SplitArguments("a\\b\\\\c"), (Strings{"a\\b\\\\c"}));  // no quote: kept
    EXPECT_EQ(SplitArguments("\"say \"\"hi\"\"\""), (Strings{"say \"hi\""}));
    EXPECT_EQ(SplitArguments("$(rm -rf x);`y`"), (Strings{"$(rm", "-rf", "x);`y`"}));
    EXPECT_TRUE(SplitArguments("").empty());
}

TEST(DiskPath, InnerNamesFindFilesWithoutRegardToCase) {
    TScriptFolder folder;
    const std::string file = folder.AddFile("Tools/Viewer/Run.SH");
    const std::string base = folder.Path().string();
    EXPECT_EQ(DiskPathOf("tools\\viewer\\run.sh", base), file);
    EXPECT_EQ(DiskPathOf("C:" + base + "\\TOOLS\\Viewer\\run.sh", {}), file);
    EXPECT_EQ(DiskPathOf("Tools\\..\\Tools\\Viewer\\Run.SH", base), file);
    EXPECT_EQ(DiskPathOf("tools\\missing\\x", base), base + "/Tools/missing/x");
}

class ProgramRunnerTest : public ::testing::Test {
protected:
    TScriptFolder scripts;
    TProgramRunner Runner(std::string opener = {}) {
        TProgramRunner::TOptions options;
        options.programFolder = scripts.Path().string();
        if (!opener.empty()) options.opener = opener;
        options.childStarted = [this](pid_t pid) { scripts.ChildStarted(pid); };
        options.mayStart = [](const TProgramStart&) { return true; };
        return TProgramRunner(std::move(options));
    }
};

TEST_F(ProgramRunnerTest, ProgramReceivesItsArgumentsWithoutAShell) {
    scripts.AddRecorder("bin/record");
    TProgramRunner runner = Runner();
    EXPECT_GT(runner.RunCommand("bin\\record -t \"two words\" $(touch hacked) ;x|y"), 32);
    EXPECT_EQ(scripts.WaitForChildren(), 1);
    EXPECT_EQ(scripts.Recorded("bin/record"),
              (Strings{"call", "-t", "two words", "$(touch", "hacked)", ";x|y"}));
    EXPECT_FALSE(std::filesystem::exists(scripts.Path() / "hacked"));
}

TEST_F(ProgramRunnerTest, ProgramsGetNoneOfThePlayersFiles) {
    const std::string script = scripts.AddFile(
        "fdcheck",
        "#!/bin/sh\nif [ -e /proc/$$/fd/57 ]; then echo open; else echo closed; fi > \"$0.out\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const int player = open("/dev/null", O_RDONLY); // no close-on-exec, as a careless open would be
    ASSERT_GE(player, 0);
    ASSERT_EQ(dup2(player, 57), 57);
    TProgramRunner runner = Runner();
    EXPECT_GT(runner.RunCommand("fdcheck"), 32);
    EXPECT_EQ(scripts.WaitForChildren(), 1);
    close(57);
    close(player);
    EXPECT_EQ(scripts.Recorded("fdcheck"), (Strings{"closed"}));
}

TEST_F(ProgramRunnerTest, RelativeAndQuotedNamesAreFoundInTheProgramFolder) {
    scripts.AddRecorder("My Tools/rec");
    TProgramRunner runner = Runner();
    EXPECT_GT(runner.RunCommand("\"my tools\\REC\""), 32);
    EXPECT_EQ(scripts.WaitForChildren(), 1);
    EXPECT_EQ(scripts.Recorded("My Tools/rec"), (Strings{"call"}));
}

TEST_F(ProgramRunnerTest, MissingFilesAndFoldersAreReported) {
    TProgramRunner runner = Runner();
    EXPECT_EQ(runner.RunCommand("no-such-program-anywhere-42"), TProgramRunner::kFileNotFound);
    EXPECT_EQ(runner.RunCommand("missing.exe -x"), TProgramRunner::kFileNotFound);
    EXPECT_EQ(runner.RunCommand("nofolder\\missing.exe"), TProgramRunner::kPathNotFound);
    EXPECT_EQ(runner.RunCommand(""), TProgramRunner::kFileNotFound);
    EXPECT_EQ(scripts.ChildCount(), 0);
}

TEST_F(ProgramRunnerTest, DocumentsAndAddressesGoWholeToTheOpener) {
    const std::string opener = scripts.AddRecorder("opener");
    scripts.AddFile("docs/notes.txt");
    TProgramRunner runner = Runner(opener);
    EXPECT_GT(runner.RunCommand("docs\\notes.txt --ignored"), 32);
    EXPECT_GT(runner.RunCommand("http://example.com/a?b=c&d"), 32);
    EXPECT_GT(runner.RunCommand("mailto:someone@example.com"), 32);
    EXPECT_GT(runner.RunCommand("docs"), 32);
    EXPECT_EQ(scripts.WaitForChildren(), 4);
    std::vector<std::string> lines = scripts.Recorded("opener");
    // Every call carries exactly one argument; the order of the children is not fixed.
    ASSERT_EQ(lines.size(), 8u);
    Strings arguments;
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        EXPECT_EQ(lines[i], "call");
        arguments.push_back(lines[i + 1]);
    }
    std::sort(arguments.begin(), arguments.end());
    Strings expected{(scripts.Path() / "docs").string(), (scripts.Path() / "docs/notes.txt").string(),
                     "http://example.com/a?b=c&d", "mailto:someone@example.com"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(arguments, expected);
}

TEST_F(ProgramRunnerTest, MissingOpenerIsNotAMissingFile) {
    TProgramRunner runner = Runner((scripts.Path() / "no-opener").string());
    EXPECT_EQ(runner.RunCommand("http://example.com"), TProgramRunner::kNoOpener);
}

TEST_F(ProgramRunnerTest, NothingInsideTheTemporaryFoldersIsStarted) {
    scripts.AddRecorder("temp/ZORVIK_TEMP_ROOT/guid/evil");
    TProgramRunner::TOptions options;
    options.programFolder = scripts.Path().string();
    options.tempRoot = (scripts.Path() / "temp/ZORVIK_TEMP_ROOT").string();
    options.childStarted = [this](pid_t pid) { scripts.ChildStarted(pid); };
    options.mayStart = [](const TProgramStart&) { return true; };
    TProgramRunner runner(options);
    EXPECT_EQ(runner.RunCommand("temp\\zorvik_temp_root\\guid\\evil"), TProgramRunner::kRefused);
    EXPECT_EQ(runner.RunCommand("temp/other/../ZORVIK_TEMP_ROOT/guid/evil"), TProgramRunner::kRefused);
    EXPECT_EQ(scripts.ChildCount(), 0);
}

} // namespace
} // namespace kiv
