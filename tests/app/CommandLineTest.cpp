#include "framework/CommandLine.h"
#include "framework/ErrorBox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

using Tokens = std::vector<std::string>;

TEST(CommandLine, QuotedPathWithSpacesIsOneTokenWithoutItsQuotes) {
    EXPECT_EQ(TCommandLine::Tokenise("player.exe -filename \"C:\\My Shows\\a b.kiv\" -slide 3"),
              (Tokens{"player.exe", "-filename", "C:\\My Shows\\a b.kiv", "-slide", "3"}));
}

TEST(CommandLine, InnerQuotesAreDroppedAndQuotesToggleTheSeparator) {
    EXPECT_EQ(TCommandLine::Tokenise("a\"b\"c"), Tokens{"abc"});
    // The quote in the middle keeps the space inside the token.
    EXPECT_EQ(TCommandLine::Tokenise("x a\" \"b y"), (Tokens{"x", "a b", "y"}));
    // An unterminated quote runs to the end.
    EXPECT_EQ(TCommandLine::Tokenise("\"open end  here"), Tokens{"open end  here"});
}

TEST(CommandLine, ControlCharactersSeparateTokens) {
    EXPECT_EQ(TCommandLine::Tokenise("\t a\x01"
                                     "b \r\n c  "),
              (Tokens{"a", "b", "c"}));
    EXPECT_TRUE(TCommandLine::Tokenise("  \t ").empty());
    EXPECT_TRUE(TCommandLine::Tokenise("").empty());
    // Bytes of UTF-8 text are above 32 and stay inside tokens.
    EXPECT_EQ(TCommandLine::Tokenise("Sch\xC3\xB6n.kvshow"), Tokens{"Sch\xC3\xB6n.kvshow"});
}

TEST(CommandLine, UnquoteCutsLeadingAndTrailingQuoteOnly) {
    EXPECT_EQ(TCommandLine::Unquote("\"x\""), "x");
    EXPECT_EQ(TCommandLine::Unquote("\""), "");
    EXPECT_EQ(TCommandLine::Unquote("\"\"\"a\"\"\""), "a");
    EXPECT_EQ(TCommandLine::Unquote("plain"), "plain");
}

TEST(CommandLine, SwitchesCollectTheValuesThatFollowThem) {
    const TCommandLine line = TCommandLine::FromText("prog first -slide 3 4 -log -time");
    ASSERT_NE(line.Commands().Find(""), nullptr);
    const TCommand& plain = *line.Commands().Find("");
    ASSERT_EQ(plain.items.size(), 2u);
    EXPECT_EQ(plain.items[0].value, "prog");
    EXPECT_EQ(plain.items[1].value, "first");
    EXPECT_EQ(line.Value("slide"), "3");
    EXPECT_EQ(line.Value("slide", 1), "4");
    EXPECT_EQ(line.Value("slide", 2), std::nullopt);
    EXPECT_TRUE(line.HasSwitch("log"));
    EXPECT_EQ(line.Value("log"), std::nullopt) << "a switch without a value has no value";
    EXPECT_TRUE(line.HasSwitch("time"));
    EXPECT_FALSE(line.HasSwitch("cover"));
    EXPECT_EQ(line.Tokens().size(), 7u);
}

TEST(CommandLine, SwitchNamesMatchExactly) {
    const TCommandLine line = TCommandLine::FromText("prog -FileLog -slide 2");
    EXPECT_FALSE(line.HasSwitch("filelog"));
    EXPECT_TRUE(line.HasSwitch("FileLog"));
    EXPECT_FALSE(line.HasSwitch("Slide"));
    EXPECT_FALSE(line.HasToken("-Slide"));
    EXPECT_TRUE(line.HasToken("-slide"));
}

TEST(CommandLine, RepeatedSwitchAppendsToTheSameEntry) {
    const TCommandLine line = TCommandLine::FromText("prog -icc a -log -icc b");
    EXPECT_EQ(line.Value("icc"), "a");
    EXPECT_EQ(line.Value("icc", 1), "b");
    EXPECT_EQ(line.Commands().Count(), 3u); // "", "icc", "log"
}

TEST(CommandLine, NumericValuesAreSignedDecimal) {
    const TCommandLine line = TCommandLine::FromText("p -a 42 -b +7 -c x -d 0x10 -e 99999999999 -f -g -7");
    EXPECT_EQ(line.IntValue("a"), 42);
    EXPECT_EQ(line.IntValue("b"), 7);
    // A token beginning with "-" is always a switch, so a negative number starts a new one.
    EXPECT_EQ(line.IntValue("g"), std::nullopt);
    EXPECT_TRUE(line.HasSwitch("7"));
    EXPECT_EQ(line.IntValue("c"), std::nullopt);
    EXPECT_EQ(line.IntValue("d"), std::nullopt);
    EXPECT_EQ(line.IntValue("e"), std::nullopt);
    EXPECT_EQ(line.IntValue("f"), std::nullopt);
    EXPECT_EQ(line.IntValue("missing"), std::nullopt);
}

TEST(CommandLine, ArgumentsFromTheShellKeepTheirSpacesButLoseQuotes) {
    const char* argv[] = {"/usr/bin/kivviewer", "-exename", "/home/u/My Show.kvshow", "\"quoted\"", "/s"};
    const TCommandLine line = TCommandLine::FromArguments(5, argv);
    EXPECT_EQ(line.Value("exename"), "/home/u/My Show.kvshow");
    EXPECT_EQ(line.Value("exename", 1), "quoted");
    EXPECT_TRUE(line.HasToken("/s"));
    EXPECT_FALSE(line.HasToken("/S"));
    EXPECT_EQ(line.Tokens().front(), "/usr/bin/kivviewer");
}

TEST(CommandLine, ProcessCommandLineIsReplacedWhole) {
    SetProcessCommandLine(TCommandLine::FromText("prog -log"));
    EXPECT_TRUE(ProcessCommandLine().HasSwitch("log"));
    SetProcessCommandLine(TCommandLine::FromText("prog"));
    EXPECT_FALSE(ProcessCommandLine().HasSwitch("log"));
}

TEST(CommandLine, UnknownSwitchesComeOnceInTheirOrderAndCaseCounts) {
    const std::string_view known[] = {"slide", "log"};
    const TCommandLine line =
        TCommandLine::FromText("player -Log -slide 2 -zoom 3 -log -Log - -zoom show.kvshow");
    EXPECT_EQ(line.UnknownSwitches(known), (Tokens{"Log", "zoom", ""}));
    EXPECT_TRUE(TCommandLine::FromText("player show.kvshow -slide x").UnknownSwitches(known).empty());
}

TEST(ErrorBox, ConsoleTextTurnsCarriageReturnsIntoLines) {
    EXPECT_EQ(ConsoleErrorText("Slideshow Error", "Can`t Load Show\r\"a\" or \"a.kvshow\""),
              "Slideshow Error: Can`t Load Show\n\"a\" or \"a.kvshow\"\n");
    EXPECT_EQ(ConsoleErrorText("C", "x\r\ny"), "C: x\ny\n");
}

TEST(ErrorBox, NoDisplayWithTheOffscreenDriver) {
    // The test runs with SDL_VIDEODRIVER=offscreen: boxes must go to the console.
    EXPECT_FALSE(MessageBoxDisplayAvailable());
    std::string caption, text;
    SetErrorBoxSink([&](std::string_view c, std::string_view t) {
        caption = c;
        text = t;
    });
    ShowErrorBox("a\rb");
    SetErrorBoxSink(nullptr);
    EXPECT_EQ(caption, "Slideshow Error");
    EXPECT_EQ(text, "a\rb");
}

} // namespace
} // namespace kiv
