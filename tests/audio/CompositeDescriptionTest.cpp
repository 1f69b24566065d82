#include "audio/CompositeDescription.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

TCompositeDescription TwoItems() {
    TCompositeDescription description;
    description.duration = 9000;
    description.items.push_back(
        {"music\\a.mp3", 0, 250, 6000, {{{0, 0}, {1000, 800}}, {{5000, 1000}, {6000, 0}}}});
    description.items.push_back({"b.ogg", 5000, 0, 4000, {}});
    return description;
}

TEST(CompositeText, WritesTheMarkerThenTheDocument) {
    const std::string text = WriteCompositeText(TwoItems());
    ASSERT_TRUE(IsCompositeText(text));
    EXPECT_EQ(text.substr(0, 36 + 6), "9213AB40-17BB-458F-9C4C-1806F44BEB65[Main]");
    EXPECT_NE(text.find("[0]\r\nFileName=music\\a.mp3\r\nTimeLine=0\r\nBeginTime=250\r\nDuration="
                        "6000\r\nFadeCount=2\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("[Vol_0_1_1]\r\n0=6000\r\n1=0\r\n"), std::string::npos);
    EXPECT_NE(
        text.find(
            "[1]\r\nFileName=b.ogg\r\nTimeLine=5000\r\nBeginTime=0\r\nDuration=4000\r\nFadeCount=0\r\n"),
        std::string::npos);
    EXPECT_EQ(text.find("MainVolume"), std::string::npos);
}

TEST(CompositeText, ReadsBackWhatItWrote) {
    TCompositeDescription description = TwoItems();
    description.mainVolume = {{{0, 1000}, {9000, 500}}};
    const std::optional<TCompositeDescription> read = ReadCompositeText(WriteCompositeText(description));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->duration, 9000);
    ASSERT_EQ(read->items.size(), 2u);
    EXPECT_EQ(read->items[0].fileName, "music\\a.mp3");
    EXPECT_EQ(read->items[0].beginTime, 250);
    EXPECT_EQ(read->items[0].envelopes, description.items[0].envelopes);
    EXPECT_EQ(read->items[1].timeLine, 5000);
    EXPECT_EQ(read->mainVolume, description.mainVolume);
}

TEST(CompositeText, ConcatenatedDocumentsPlayOneAfterAnother) {
    TCompositeDescription first = TwoItems();
    first.mainVolume = {{{0, 700}}};
    TCompositeDescription second;
    second.duration = 3000;
    second.items.push_back({"c.wav", 500, 0, 2500, {}});
    second.mainVolume = {{{0, 300}}, {{100, 200}}};
    TCompositeDescription third;
    third.duration = 1000;
    third.items.push_back({"d.wav", 0, 0, 1000, {}});
    const std::string text =
        WriteCompositeText(first) + WriteCompositeText(second) + WriteCompositeText(third);

    const std::optional<TCompositeDescription> read = ReadCompositeText(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->duration, 9000 + 3000 + 1000);
    ASSERT_EQ(read->items.size(), 4u);
    EXPECT_EQ(read->items[1].timeLine, 5000);       // first document: unshifted
    EXPECT_EQ(read->items[2].timeLine, 9000 + 500); // shifted by the first duration
    EXPECT_EQ(read->items[3].timeLine, 12000);      // by the first two
    // The later [MainVolume] replaces the earlier one; the third document has none.
    EXPECT_EQ(read->mainVolume, (TVolumeParamsList{{{0, 300}}, {{100, 200}}}));
}

TEST(CompositeText, FailsWithoutMarkerItemsOrDuration) {
    const std::string good = WriteCompositeText(TwoItems());
    EXPECT_FALSE(ReadCompositeText(""));
    EXPECT_FALSE(ReadCompositeText(good.substr(36)));    // no marker
    EXPECT_FALSE(ReadCompositeText(" " + good));         // the marker must come first
    EXPECT_FALSE(ReadCompositeText(good.substr(0, 35))); // a cut marker
    EXPECT_FALSE(ReadCompositeText(std::string(kCompositeMarker) + "[Main]\nDuration=5000\n")); // no item
    EXPECT_FALSE(ReadCompositeText(std::string(kCompositeMarker) + "[Main]\nDuration=0\n[0]\nFileName=a\n"));
    EXPECT_FALSE(
        ReadCompositeText(std::string(kCompositeMarker) + "[0]\nFileName=a\nDuration=5\n")); // no [Main]
    EXPECT_TRUE(ReadCompositeText(std::string(kCompositeMarker) + "[Main]\nDuration=1\n[0]\nFileName=a\n"));
    // Items are numbered from 0 without gaps; an item 1 without an item 0 is no item.
    EXPECT_FALSE(ReadCompositeText(std::string(kCompositeMarker) + "[Main]\nDuration=10\n[1]\nFileName=a\n"));
}

TEST(CompositeText, ItemsWithBadTimesAreLeftOutWithALogLine) {
    const std::string text = std::string(kCompositeMarker) +
                             "[Main]\nDuration=10000\n"
                             "[0]\nFileName=neg.mp3\nTimeLine=-5\nDuration=100\n"
                             "[1]\nFileName=huge.mp3\nTimeLine=0\nDuration=99999999999\n"
                             "[2]\nFileName=begin.mp3\nBeginTime=-1\nDuration=100\n"
                             "[3]\nFileName=good.mp3\nTimeLine=100\nDuration=100\n";
    std::optional<TCompositeDescription> read;
    const std::string log = test::LoggedWhile([&] { read = ReadCompositeText(text); });
    ASSERT_TRUE(read);
    ASSERT_EQ(read->items.size(), 1u);
    EXPECT_EQ(read->items[0].fileName, "good.mp3");
    EXPECT_NE(log.find("neg.mp3"), std::string::npos);
    EXPECT_NE(log.find("huge.mp3"), std::string::npos);
    EXPECT_NE(log.find("begin.mp3"), std::string::npos);
    // A negative document duration counts as 0 and the whole fails without a positive total.
    EXPECT_FALSE(
        ReadCompositeText(std::string(kCompositeMarker) + "[Main]\nDuration=-100\n[0]\nFileName=a\n"));
}

TEST(CompositeText, ADocumentDurationPastTheLimitCannotOverflowTheShift) {
    std::string text;
    for (int i = 0; i < 3; ++i)
        text += std::string(kCompositeMarker) +
                "[Main]\nDuration=2000000000\n[0]\nFileName=a\nTimeLine=0\nDuration=5\n";
    const std::optional<TCompositeDescription> read = ReadCompositeText(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->duration, kMaxCompositeTime);
    // The second item starts at 2e9; the third would start past the limit and is left out.
    ASSERT_EQ(read->items.size(), 2u);
    EXPECT_EQ(read->items[1].timeLine, 2000000000);
}

TEST(CompositeText, ManyItemsStopAtTheLimitWithOneLogLine) {
    std::string text = std::string(kCompositeMarker) + "[Main]\nDuration=100\n";
    for (std::size_t i = 0; i < kMaxCompositeItems + 5; ++i)
        text += "[" + std::to_string(i) + "]\nFileName=x\nDuration=1\n";
    std::optional<TCompositeDescription> read;
    const std::string log = test::LoggedWhile([&] { read = ReadCompositeText(text); });
    ASSERT_TRUE(read);
    EXPECT_EQ(read->items.size(), kMaxCompositeItems);
    std::size_t lines = 0;
    for (std::size_t at = log.find("items; the rest stay silent"); at != std::string::npos;
         at = log.find("items; the rest stay silent", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u);
}

TEST(CompositeText, EnvelopeCountsAreBoundedAndStopAtTheFirstMissingPoint) {
    const std::string text = std::string(kCompositeMarker) +
                             "[Main]\nDuration=100\n[0]\nFileName=a\nDuration=100\nFadeCount=2000000000\n"
                             "[Vol_0_0_0]\n0=50\n1=10\n[Vol_0_0_1]\n0=10\n1=20\n[Vol_0_0_3]\n0=90\n1=30\n"
                             "[MainVolume]\nFadeCount=-4\n";
    const std::optional<TCompositeDescription> read = ReadCompositeText(text);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->items[0].envelopes.size(), kMaxCompositeEnvelopes);
    // Points stay in the order written (preparing the envelope sorts them); k = 3 is past a gap.
    EXPECT_EQ(read->items[0].envelopes[0], (TVolumeParams{{50, 10}, {10, 20}}));
    EXPECT_TRUE(read->items[0].envelopes[1].empty());
    EXPECT_TRUE(read->mainVolume.empty());
}

} // namespace
} // namespace kiv
