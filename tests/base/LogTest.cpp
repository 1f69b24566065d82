#include "base/Log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace kiv {
namespace {

std::tm SampleTime() {
    std::tm t{};
    t.tm_mday = 9;
    t.tm_mon = 11; // December
    t.tm_year = 2026 - 1900;
    t.tm_hour = 8;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LogFormat, PrefixesLinesWithThreadIdAndMilliseconds) {
    EXPECT_EQ(TLog::LinePrefix(0x1A, 12), "#001A [12] ") << "at least four upper-case hex digits";
    EXPECT_EQ(TLog::LinePrefix(0xABCDE, 0), "#ABCDE [0] ");
    EXPECT_EQ(TLog::LinePrefix(0xbeef, 1234567), "#BEEF [1234567] ");
}

TEST(LogFormat, WritesTheBannersToTheCharacter) {
    const auto start = TLog::StartBanner("/opt/show/kivviewer", SampleTime());
    ASSERT_EQ(start.size(), 5u);
    EXPECT_EQ(start[0], "");
    EXPECT_EQ(start[1], std::string(64, '='));
    EXPECT_EQ(start[2], "Program : /opt/show/kivviewer");
    EXPECT_EQ(start[3], "started : 09.12.2026 08:05:07");
    EXPECT_EQ(start[4], std::string(64, '='));

    const auto end = TLog::EndBanner(SampleTime(), 1500);
    ASSERT_EQ(end.size(), 4u);
    EXPECT_EQ(end[0], "");
    EXPECT_EQ(end[1], std::string(64, '-'));
    EXPECT_EQ(end[2], "Program stoped : 09.12.2026 08:05:07 (work time : 1500 ms)");
    EXPECT_EQ(end[3], std::string(64, '-'));
}

TEST(LogFormat, NamesTheLogFileAfterTheProgram) {
    EXPECT_EQ(TLog::LogFileName("/usr/bin/kivviewer"), "/usr/bin/kivviewer.log");
    EXPECT_EQ(TLog::LogFileName("/home/a/My.Show.exe"), "/home/a/My.Show.log");
    EXPECT_EQ(TLog::LogFileName("/home/a.b/show"), "/home/a.b/show.log") << "a dot in a folder is no extension";
    EXPECT_EQ(TLog::LogFileName("/home/a/.hidden"), "/home/a/.hidden.log");
}

TEST(LogFile, IsUtf8WithByteOrderMarkAndCrLfAndCreatedAnew) {
    const std::string path = testing::TempDir() + "kiv_log_test_" + std::to_string(::getpid()) + ".log";
    {
        std::ofstream old(path);
        old << "left over from an earlier run\n";
    }
    TLog::Start(TLogMode::File, "/x/kivviewer", path);
    EXPECT_TRUE(TLog::Enabled());
    TLog::Line("h\xC3\xA9llo");
    TLog::Finish();
    EXPECT_FALSE(TLog::Enabled());
    TLog::Line("after the end: goes nowhere");

    const std::string text = ReadFile(path);
    std::filesystem::remove(path);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(text.find("left over"), std::string::npos);
    EXPECT_EQ(text.find("after the end"), std::string::npos);
    EXPECT_EQ(text.substr(3, 2), "\r\n") << "the start banner opens with an empty line";
    EXPECT_NE(text.find("\r\n" + std::string(64, '=') + "\r\nProgram : /x/kivviewer\r\nstarted : "), std::string::npos);
    const auto line = text.find("] h\xC3\xA9llo\r\n");
    ASSERT_NE(line, std::string::npos);
    const auto lineStart = text.rfind("\r\n", line) + 2;
    EXPECT_EQ(text[lineStart], '#');
    EXPECT_NE(text.find("Program stoped : "), std::string::npos);
    EXPECT_EQ(text.find('\n', 0), text.find("\r\n", 0) + 1) << "no bare LF line ends";
    for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        EXPECT_EQ(text[i - 1], '\r');
}

TEST(LogDebug, WritesLinesToStandardError) {
    testing::internal::CaptureStderr();
    TLog::Start(TLogMode::Debug, "/x/kivviewer");
    TLog::Line("to the debugger");
    TLog::Finish();
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("Program : /x/kivviewer\n"), std::string::npos);
    EXPECT_NE(output.find("] to the debugger\n"), std::string::npos);
    EXPECT_NE(output.find("Program stoped : "), std::string::npos);
}

TEST(LogNone, WritesNothing) {
    testing::internal::CaptureStderr();
    TLog::Start(TLogMode::None, "/x/kivviewer");
    TLog::Line("nowhere");
    TLog::Finish();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
} // namespace kiv
