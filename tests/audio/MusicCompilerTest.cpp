#include "audio/MusicCompiler.h"
#include "audio/CompositeDescription.h"

#include "support/IniText.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

// The background music of a project: `music` is the body of the Music object of [Main] (indented
// lines); `rest` the sections after [Main].
struct TCompiled {
    TRef<TIniFile> document;
    TCompiledSound sound;
};

TCompiled Compile(const std::string& music, const std::string& rest = {}, const TSoundFileCheck& check = {}) {
    TCompiled result;
    result.document = test::ParseIni("[Main]\nobject Music:Music\n" + music + "end\n" + rest);
    const TIniObject* object = result.document->FindSection("Main")->FindObject("Music");
    result.sound = CompileMusic(object, *result.document, check);
    return result;
}

std::string Item(const std::string& name, const std::string& keys) {
    return "    object " + name + ":TMusicItem\n" + keys + "    end\n";
}

std::string Track(const std::string& items, bool mute = false) {
    return std::string("  object Track:TMusicTrack\n") + (mute ? "    IsMute=1\n" : "") + items + "  end\n";
}

void ExpectPlace(const TCompositeItem& item, const std::string& file, std::int64_t timeLine,
                 std::int64_t begin, std::int64_t duration) {
    EXPECT_EQ(item.fileName, file);
    EXPECT_EQ(item.timeLine, timeLine) << file;
    EXPECT_EQ(item.beginTime, begin) << file;
    EXPECT_EQ(item.duration, duration) << file;
}

TEST(MusicTracks, TwoTracksPlayInParallelAndTheLongerSetsTheDuration) {
    const TCompiled music = Compile(Track(Item("a", "FileName=a.mp3\nDuration=5000\nCrossMode=2\n")) +
                                    Track(Item("b", "FileName=b.mp3\nDuration=7000\nStartTime=300\n")));
    const TCompositeDescription& composite = music.sound.composite;
    ASSERT_EQ(composite.items.size(), 2u);
    ExpectPlace(composite.items[0], "a.mp3", 0, 0, 5000);
    ExpectPlace(composite.items[1], "b.mp3", 0, 300, 7000);
    EXPECT_EQ(music.sound.duration, 7000);
    EXPECT_TRUE(composite.items[0].envelopes.empty());
    // The text is the description the player plays and reads back the same.
    const std::optional<TCompositeDescription> read = ReadCompositeText(music.sound.text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->duration, 7000);
    EXPECT_EQ(read->items.size(), 2u);
}

TEST(MusicTracks, CrossFadesOverlapAcrossThreeItems) {
    const TCompiled music = Compile(Track(Item("a", "FileName=a\nDuration=10000\nCrossMode=2\n") +
                                          Item("b", "FileName=b\nDuration=8000\nCrossMode=0\nCross=2000\n") +
                                          Item("c", "FileName=c\nDuration=6000\nCross=1000\n")));
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 3u);
    // b starts 2000 ms before a ends and c 1000 ms before b ends.
    ExpectPlace(items[0], "a", 0, 0, 10000);
    ExpectPlace(items[1], "b", 8000, 0, 8000);
    ExpectPlace(items[2], "c", 15000, 0, 6000);
    EXPECT_EQ(music.sound.duration, 21000);
    // a fades out over b's cross; b fades in over its own and out over c's, in one envelope.
    EXPECT_EQ(items[0].envelopes, (TVolumeParamsList{{{8000, 1000}, {10000, 0}}}));
    EXPECT_EQ(items[1].envelopes, (TVolumeParamsList{{{0, 0}, {2000, 1000}, {7000, 1000}, {8000, 0}}}));
    EXPECT_EQ(items[2].envelopes, (TVolumeParamsList{{{0, 0}, {1000, 1000}}}));
}

TEST(MusicTracks, PausesSpaceThreeItemsApart) {
    const TCompiled music =
        Compile(Track(Item("a", "FileName=a\nDuration=5000\nCrossMode=2\nPause=999\n") +
                      Item("b", "FileName=b\nDuration=4000\nCrossMode=1\nPause=1500\n") +
                      Item("c", "FileName=c\nDuration=3000\nCrossMode=1\nPause=500\nCross=700\n") +
                      Item("d", "FileName=d\nDuration=1000\nCrossMode=1\nPause=-300\n")));
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 4u);
    ExpectPlace(items[0], "a", 0, 0, 5000); // CrossMode 2: its Pause means nothing
    ExpectPlace(items[1], "b", 6500, 0, 4000);
    ExpectPlace(items[2], "c", 11000, 0, 3000); // Cross is ignored in pause mode
    ExpectPlace(items[3], "d", 14000, 0, 1000); // a negative pause is none
    EXPECT_EQ(music.sound.duration, 15000);
    for (const TCompositeItem& item : items)
        EXPECT_TRUE(item.envelopes.empty()) << item.fileName;
}

TEST(MusicTracks, AFirstItemWithACrossFadesInWithoutMovingBack) {
    const TCompiled music = Compile(Track(Item("a", "FileName=a\nDuration=5000\nCross=3000\n") +
                                          Item("b", "FileName=b\nDuration=1000\nCross=4000\n")));
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 2u);
    ExpectPlace(items[0], "a", 0, 0, 5000);
    EXPECT_EQ(items[0].envelopes, (TVolumeParamsList{{{0, 0}, {3000, 1000}, {1000, 1000}, {5000, 0}}}));
    ExpectPlace(items[1], "b", 1000, 0, 1000);
    // The description lasts as long as its longest item, even when a cross reaches back past it.
    EXPECT_EQ(music.sound.duration, 5000);
    // A cross longer than everything before it cannot move the item before the start.
    const TCompiled early = Compile(Track(Item("a", "FileName=a\nDuration=1000\nCrossMode=2\n") +
                                          Item("b", "FileName=b\nDuration=1000\nCross=5000\n")));
    ExpectPlace(early.sound.composite.items[1], "b", 0, 0, 1000);
    EXPECT_EQ(early.sound.duration, 1000);
}

const char* const kFourSlides = "[Times]\nopt_slidescount=4\nopt_synchpos1=4000\nopt_synchpos2=9000\n"
                                "opt_synchpos3=15000\nopt_synchpos4=20000\n"
                                "[Slide1]\n[Slide2]\n[Slide3]\nLinkedAudio={LINK}\n[Slide4]\n";

TEST(MusicLinks, ALinkedItemStartsWithItsSlideAndCutsTheItemBefore) {
    // Slide 3 starts at opt_synchpos2 = 9000; cross-fade mode starts the item Cross earlier.
    const TCompiled music = Compile(Track(Item("a", "FileName=a\nDuration=20000\nCrossMode=2\n") +
                                          Item("b", "FileName=b\nDuration=5000\nCross=1000\nGUID={link}\n") +
                                          Item("c", "FileName=c\nDuration=2000\nCrossMode=2\n")),
                                    kFourSlides);
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 3u);
    ExpectPlace(items[0], "a", 0, 0, 8000);
    ExpectPlace(items[1], "b", 8000, 0, 5000);
    ExpectPlace(items[2], "c", 13000, 0, 2000);
    // The link overrides the cross-fade: neither item fades.
    EXPECT_TRUE(items[0].envelopes.empty());
    EXPECT_TRUE(items[1].envelopes.empty());
}

TEST(MusicLinks, PauseModeLinksAfterTheSlideStartAndEarlierItemsAreCutToTheEarliestLink) {
    const TCompiled music =
        Compile(Track(Item("a", "FileName=a\nDuration=30000\nCrossMode=2\n") +
                      Item("b", "FileName=b\nDuration=30000\nCrossMode=2\n") +
                      Item("c", "FileName=c\nDuration=1000\nCrossMode=1\nPause=250\nGUID={LINK}\n")),
                kFourSlides);
    const auto& items = music.sound.composite.items;
    // Slide 3 starts at 9000, c 250 ms later; a and b may not pass that time, so b keeps no length.
    ASSERT_EQ(items.size(), 3u);
    ExpectPlace(items[0], "a", 0, 0, 9250);
    ExpectPlace(items[1], "b", 9250, 0, 0);
    ExpectPlace(items[2], "c", 9250, 0, 1000);
    EXPECT_EQ(music.sound.duration, 10250);
}

TEST(MusicLinks, AGuidLinkedNowhereIsAnOrdinaryItem) {
    const TCompiled music =
        Compile(Track(Item("a", "FileName=a\nDuration=2000\nCrossMode=2\n") +
                      Item("b", "FileName=b\nDuration=1000\nCrossMode=2\nGUID={other}\n")),
                kFourSlides);
    ExpectPlace(music.sound.composite.items[1], "b", 2000, 0, 1000);
}

TEST(MusicItems, FadesAndVolumeMakeOneEnvelope) {
    const TCompiled music = Compile(
        Track(Item("a", "FileName=a\nDuration=10000\nCrossMode=2\nFadeIn=1000\nFadeOut=2000\nVolume=80\n") +
              Item("b", "FileName=b\nDuration=4000\nCrossMode=2\nVolume=50\n") +
              Item("c", "FileName=c\nDuration=4000\nCrossMode=2\nFadeIn=500\n")));
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].envelopes, (TVolumeParamsList{{{0, 0}, {1000, 800}, {8000, 800}, {10000, 0}}}));
    EXPECT_EQ(items[1].envelopes, (TVolumeParamsList{{{0, 500}, {4000, 500}}}));
    EXPECT_EQ(items[2].envelopes, (TVolumeParamsList{{{0, 0}, {500, 1000}}}));
}

TEST(MusicItems, VolumeParamsBeyondTheEndEndInAnInterpolatedPoint) {
    // Frames 44100 = 1000 ms; relative to StartTime 500 the points are at 500, 1500 and 2500 ms.
    const TCompiled music =
        Compile(Track(Item("a", "FileName=a\nDuration=2000\nStartTime=500\nCrossMode=2\n"
                                "VolumeParams=44100:65536,88200:32768,132300:0,176400:65536\n")));
    EXPECT_EQ(music.sound.composite.items[0].envelopes,
              (TVolumeParamsList{{{500, 1000}, {1500, 500}, {2000, 250}}}));
}

TEST(MusicItems, MutedTracksAndSilentItemsAreLeftOutButKeepTheirTime) {
    const TCompiled music = Compile(Track(Item("m", "FileName=muted\nDuration=90000\n"), true) +
                                    Track(Item("a", "FileName=a\nDuration=1000\nCrossMode=2\n") +
                                          Item("z", "FileName=zero\nDuration=1000\nCrossMode=2\nVolume=0\n") +
                                          Item("e", "FileName=error\nDuration=1000\nCrossMode=2\n") +
                                          Item("b", "FileName=b\nDuration=1000\nCrossMode=2\n")) +
                                    "  object Options:TMusicOptions\n    IsRepeat=1\n  end\n");
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 2u);
    ExpectPlace(items[1], "b", 3000, 0, 1000);
    EXPECT_EQ(music.sound.duration, 4000);
    EXPECT_TRUE(music.sound.repeat);
}

TEST(MusicItems, ItemsOutsideATrackAreGroupsOfTheirOwn) {
    const TCompiled music =
        Compile(Item("a", "FileName=a\nDuration=1000\n") + Item("b", "FileName=b\nDuration=3000\n") +
                Track(Item("c", "FileName=c\nDuration=2000\nCross=500\n")));
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 3u);
    for (const TCompositeItem& item : items)
        EXPECT_EQ(item.timeLine, 0) << item.fileName;
    EXPECT_EQ(music.sound.duration, 3000);
}

TEST(MusicItems, NoMusicObjectOrNoItemsGiveNoDescription) {
    EXPECT_TRUE(CompileMusic(nullptr, *test::ParseIni("")).text.empty());
    const TCompiled empty = Compile(Track(""));
    EXPECT_TRUE(empty.sound.text.empty());
    EXPECT_EQ(empty.sound.duration, 0);
}

TEST(MusicBadInput, NegativeAndAbsurdTimesSilenceTheItemWithALogLine) {
    TCompiled music;
    const std::string log = test::LoggedWhile([&] {
        music = Compile(Track(Item("a", "FileName=neg.mp3\nDuration=-5000\nCrossMode=2\n") +
                              Item("b", "FileName=far.mp3\nDuration=1000\nStartTime=99999999999\n") +
                              Item("c", "FileName=wide.mp3\nDuration=1000\nCross=-99999999999\n") +
                              Item("d", "FileName=ok.mp3\nDuration=1000\nCrossMode=2\n")));
    });
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 1u);
    ExpectPlace(items[0], "ok.mp3", 0, 0, 1000);
    for (const char* name : {"neg.mp3", "far.mp3", "wide.mp3"})
        EXPECT_NE(log.find(name), std::string::npos) << name;
}

TEST(MusicBadInput, RejectedFilesAreSilentAndTheOthersKeepTheirPlaces) {
    const TSoundFileCheck check = [](const std::string& name) { return name != "gone.mp3"; };
    const TCompiled music = Compile(Track(Item("a", "FileName=gone.mp3\nDuration=4000\nCrossMode=2\n") +
                                          Item("b", "FileName=b.mp3\nDuration=1000\nCross=1000\n")),
                                    {}, check);
    const auto& items = music.sound.composite.items;
    ASSERT_EQ(items.size(), 1u);
    ExpectPlace(items[0], "b.mp3", 3000, 0, 1000);
}

TEST(MusicBadInput, TooManyItemsStopAtTheLimitWithOneLogLine) {
    std::string items;
    for (std::size_t i = 0; i < kMaxCompositeItems + 3; ++i)
        items += Item("i", "FileName=x\nDuration=1\nCrossMode=2\n");
    TCompiled music;
    const std::string log = test::LoggedWhile([&] { music = Compile(Track(items)); });
    EXPECT_EQ(music.sound.composite.items.size(), kMaxCompositeItems);
    EXPECT_EQ(log.find("items; the rest stay silent"), log.rfind("items; the rest stay silent"));
    EXPECT_NE(log.find("items; the rest stay silent"), std::string::npos);
}

} // namespace
} // namespace kiv
