// The slide timeline of a show project: records, later passes, the lookup of a slide by time and
// the failures of a timeline that cannot be played.
#include "ShowProjectSupport.h"

#include "project/ProjectError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace kiv {
namespace {

using test::MakeSource;
using test::SlideText;
using test::TimesText;

struct TTimes {
    double start, sync, transition, nextTransition, end;
};

void ExpectRecord(const TSlideInfo& info, TTimes expected, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(info.start, expected.start);
    EXPECT_EQ(info.sync, expected.sync);
    EXPECT_EQ(info.transition, expected.transition);
    EXPECT_EQ(info.nextTransition, expected.nextTransition);
    EXPECT_EQ(info.end, expected.end);
}

// Three slides ending at 5000, 9000 and 15000 with transitions of 2000, 1000 and 8000 ms.
std::string ThreeSlides(std::string_view repeat) {
    return "[Main]\nopt_repeat=" + std::string(repeat) + "\n" + TimesText({5000, 9000, 15000}) +
           SlideText(1, "dissolve", 2000) + SlideText(2, "dissolve", 1000) + SlideText(3, "dissolve", 8000);
}

// The lookup as a forward walk over the records, for comparison.
std::int32_t WalkToSlide(const TKivSource& source, double time, std::int32_t limit) {
    TSlideInfo info;
    for (std::int32_t index = -1; index < limit; ++index) {
        source.GetSlideTimes(index, info);
        if (info.start <= time && time <= info.sync) return index;
    }
    return std::numeric_limits<std::int32_t>::min();
}

TEST(SlideTimeline, RepeatingShowCutsLongTransitionsAndWrapsTheLastOne) {
    const TRef<TKivSource> source = MakeSource(ThreeSlides("repeat"));
    ASSERT_EQ(source->SlideCount(), 3);
    EXPECT_EQ(source->EndMode(), TEndMode::Repeat);
    EXPECT_EQ(source->Period(), 15000);
    const TSlideInfoList& slides = source->Slides();
    ExpectRecord(slides[0], {0, 5000, 2000, 1000, 6000}, "slide 0");
    ExpectRecord(slides[1], {5000, 9000, 1000, 8000, 17000}, "slide 1: next transition uncut");
    ExpectRecord(slides[2], {9000, 15000, 6000, 2000, 17000}, "slide 2: 8000 cut to 6000");
    EXPECT_EQ(TKivSource::SlideFreeTime(slides[2]), 0);
    EXPECT_EQ(TKivSource::SlideFreeTime(slides[0]), 3000);
}

TEST(SlideTimeline, LaterPassesShiftByThePeriod) {
    const TRef<TKivSource> source = MakeSource(ThreeSlides("repeat"));
    TSlideInfo info;
    EXPECT_EQ(source->GetSlideTimes(4, info), 1);
    ExpectRecord(info, {20000, 24000, 1000, 8000, 32000}, "index 4");
    EXPECT_EQ(source->GetSlideTimes(3, info), 1);
    EXPECT_EQ(info.start, 15000) << "the second pass starts where the last slide's sync lies";
    EXPECT_EQ(source->GetSlideTimes(8, info), 2);
    ExpectRecord(info, {39000, 45000, 6000, 2000, 47000}, "index 8");
    EXPECT_EQ(source->GetSlideTimes(1, info), 0);
    ExpectRecord(info, {5000, 9000, 1000, 8000, 17000}, "index 1");
}

TEST(SlideTimeline, RecordsBeforeTheShow) {
    const TRef<TKivSource> source = MakeSource(ThreeSlides("repeat"));
    TSlideInfo info;
    info.slideId = "kept";
    EXPECT_EQ(source->GetSlideTimes(-1, info), -1);
    ExpectRecord(info, {-1073741823, 0, 0, 2000, 2000}, "index -1 leads into slide 0's cut transition");
    EXPECT_EQ(info.slideId, "kept") << "negative indexes leave the identifier alone";
    EXPECT_EQ(source->GetSlideTimes(-7, info), -1);
    ExpectRecord(info, {-2147483647, -1073741823, 0, 0, -1073741823}, "index -7");
}

TEST(SlideTimeline, StoppingShowHasNoTransitionAfterTheLastSlide) {
    const TRef<TKivSource> source = MakeSource(ThreeSlides("STOP"));
    EXPECT_EQ(source->EndMode(), TEndMode::Stop);
    const TSlideInfo& last = source->Slides()[2];
    EXPECT_EQ(last.nextTransition, 0);
    EXPECT_EQ(last.end, last.sync);
    EXPECT_EQ(source->TransitionTime(3), 0);
    EXPECT_EQ(MakeSource(ThreeSlides("close"))->EndMode(), TEndMode::Close);
    EXPECT_EQ(MakeSource(ThreeSlides("sometimes"))->EndMode(), TEndMode::Repeat);
}

TEST(SlideTimeline, FindSlideAtSynchronisationPoints) {
    const TRef<TKivSource> source = MakeSource(ThreeSlides("repeat"));
    EXPECT_EQ(source->FindSlideAt(0), -1);
    EXPECT_EQ(source->FindSlideAt(-5), -1);
    EXPECT_EQ(source->FindSlideAt(0.25), 0);
    EXPECT_EQ(source->FindSlideAt(5000), 0) << "a sync point belongs to the slide that ends there";
    EXPECT_EQ(source->FindSlideAt(5000.5), 1);
    EXPECT_EQ(source->FindSlideAt(15000), 2);
    EXPECT_EQ(source->FindSlideAt(16000), 3) << "slide 0 of the second pass";
    EXPECT_EQ(source->FindSlideAt(45000), 8);
    EXPECT_EQ(source->FindSlideAt(45001), 9);
}

TEST(SlideTimeline, FindSlideAtAgreesWithAWalkOverTheRecords) {
    std::mt19937 random(7);
    for (int show = 0; show < 20; ++show) {
        const int count = 1 + static_cast<int>(random() % 6);
        std::string text = "[Times]\nopt_slidescount=" + std::to_string(count) + "\n";
        int point = 0;
        for (int k = 1; k <= count; ++k) {
            point += static_cast<int>(random() % 4) * 500; // zero-length slides included
            if (k == count && point == 0) point = 700;
            text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(point) + "\n";
        }
        const TRef<TKivSource> source = MakeSource(text);
        for (int probe = 0; probe < 200; ++probe) {
            const double time = static_cast<double>(random() % 40000) / 4.0 - 100.0;
            ASSERT_EQ(source->FindSlideAt(time), WalkToSlide(*source, time, 1000)) << text << "time " << time;
        }
    }
}

TEST(SlideTimeline, FindSlideAtTerminatesForTimesNoRecordCovers) {
    const TRef<TKivSource> zeroPeriod = MakeSource(TimesText({0, 0, 0}));
    EXPECT_EQ(zeroPeriod->Period(), 0);
    EXPECT_EQ(zeroPeriod->FindSlideAt(0), -1);
    EXPECT_EQ(zeroPeriod->FindSlideAt(1), 2) << "after a show of length 0: its last slide";
    EXPECT_EQ(zeroPeriod->FindSlideAt(1e300), 2);

    const TRef<TKivSource> empty = MakeSource("[Main]\n");
    EXPECT_EQ(empty->SlideCount(), 0);
    EXPECT_EQ(empty->Period(), 0);
    EXPECT_EQ(empty->FindSlideAt(100), -1);
    TSlideInfo info;
    EXPECT_EQ(empty->GetSlideTimes(5, info), 0);
    ExpectRecord(info, {0, 0, 0, 0, 0}, "no slides");
    EXPECT_EQ(empty->GetSlideTimes(-1, info), -1);
    EXPECT_EQ(info.nextTransition, 0);

    const TRef<TKivSource> show = MakeSource(ThreeSlides("repeat"));
    EXPECT_EQ(show->FindSlideAt(std::nan("")), -1);
    EXPECT_EQ(show->FindSlideAt(-1e300), -1) << "long before the show";
    EXPECT_EQ(show->FindSlideAt(std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(show->FindSlideAt(1e15), std::numeric_limits<std::int32_t>::max());
    const std::int32_t far = show->FindSlideAt(1e12);
    TSlideInfo record;
    show->GetSlideTimes(far, record);
    EXPECT_LE(record.start, 1e12);
    EXPECT_GE(record.sync, 1e12);
}

TEST(SlideTimeline, BackwardsSynchronisationPointsFailWithIncorrectTime) {
    try {
        MakeSource(TimesText({5000, 4000, 9000}));
        FAIL() << "a point before the one before it must fail";
    } catch (const EProjectError& error) {
        EXPECT_STREQ(error.what(), "Incorrect time");
    }
    EXPECT_THROW(MakeSource(TimesText({-1})), EProjectError) << "the first point lies before 0";
    // A missing point reads as 0: it fails after a positive one, not after zeros.
    EXPECT_THROW(MakeSource("[Times]\nopt_slidescount=3\nopt_synchpos1=100\nopt_synchpos3=300\n"),
                 EProjectError);
    EXPECT_NO_THROW(MakeSource("[Times]\nopt_slidescount=3\nopt_synchpos3=300\n"));
    EXPECT_THROW(MakeSource("[Times]\nopt_slidescount=2\nopt_synchpos1=100\nopt_synchpos2=nan\n"),
                 EProjectError);
}

TEST(SlideTimeline, HostileCountsAndTimesStayBounded) {
    try {
        MakeSource("[Times]\nopt_slidescount=2000000000\n");
        FAIL() << "a count of two billion must be refused";
    } catch (const EProjectError& error) {
        EXPECT_STREQ(error.what(), "Too many slides");
    }
    EXPECT_EQ(MakeSource("[Times]\nopt_slidescount=-5\nopt_synchpos1=9\n")->SlideCount(), 0);
    EXPECT_EQ(MakeSource("[Times]\nopt_slidescount=abc\n")->SlideCount(), 0);
    EXPECT_EQ(MakeSource("[Times]\nopt_slidescount=99999999999999\n")->SlideCount(), 0)
        << "out of range: default";
    const TRef<TKivSource> limit =
        MakeSource("[Times]\nopt_slidescount=" + std::to_string(kMaxSlideCount) + "\n");
    EXPECT_EQ(limit->SlideCount(), kMaxSlideCount);
    EXPECT_EQ(limit->FindSlideAt(10), kMaxSlideCount - 1);

    // Negative transition times count as none; a huge sync point is kept.
    const TRef<TKivSource> odd = MakeSource(TimesText({1000, 2147483647}) + SlideText(1, "dissolve", -500) +
                                            SlideText(2, "dissolve", 300));
    EXPECT_EQ(odd->Slides()[0].transition, 0);
    EXPECT_EQ(odd->Slides()[1].nextTransition, 0);
    EXPECT_EQ(odd->Slides()[0].nextTransition, 300);
    EXPECT_EQ(odd->Period(), 2147483647);
    EXPECT_EQ(odd->FindSlideAt(4294967294.0), 3) << "the end of the second pass";
    EXPECT_EQ(odd->FindSlideAt(4294967295.0), 4);
}

TEST(SlideTimeline, SlideIdentifiers) {
    const TRef<TKivSource> source =
        MakeSource(TimesText({1, 2, 3, 4, 5, 6}) + "[Slide1]\nslideid=intro\nPicture=C:\\x\\ignored.jpg\n"
                                                   "[Slide2]\nPicture=C:\\Show\\img\\Beach.JPG\n"
                                                   "[Slide3]\nPicture=a.b\\c\n"
                                                   "[Slide4]\nPicture=C:\\Show\\Folder.v2\\\n"
                                                   "[Slide5]\nslideid=\nPicture=archive.tar.gz\n");
    const TSlideInfoList& slides = source->Slides();
    EXPECT_EQ(slides[0].slideId, "intro");
    EXPECT_EQ(slides[1].slideId, "Beach");
    EXPECT_EQ(slides[2].slideId, "c") << "a dot in a folder name is no extension";
    EXPECT_EQ(slides[3].slideId, "Folder") << "a trailing backslash gives the last folder";
    EXPECT_EQ(slides[4].slideId, "archive.tar");
    EXPECT_EQ(slides[5].slideId, "") << "no section";
}

TEST(SlideTimeline, EndActions) {
    const std::string slides = TimesText({1000, 3000, 6000, 7000, 8000}) +
                               "[Slide1]\nPers_EndAction=PAUSE\n[Slide2]\nPers_EndAction=Loop\n"
                               "[Slide3]\nPers_EndAction=timer\n[Slide4]\nPers_EndAction=wait\n";
    double loop = -1;
    const TRef<TKivSource> automatic =
        MakeSource("[Main]\nopt_manualshow=0\n" + slides + SlideText(2, "quick", -1));
    EXPECT_TRUE(automatic->GetEndAction(0, loop));
    EXPECT_EQ(loop, 0);
    EXPECT_TRUE(automatic->GetEndAction(1, loop));
    EXPECT_EQ(loop, 2000) << "loop length is the free time";
    EXPECT_FALSE(automatic->GetEndAction(2, loop));
    EXPECT_FALSE(automatic->GetEndAction(3, loop)) << "unknown word, automatic show: timer";
    EXPECT_FALSE(automatic->GetEndAction(4, loop)) << "no section: timer";

    const TRef<TKivSource> manual = MakeSource("[Main]\nopt_manualshow=1\n" + slides);
    EXPECT_EQ(manual->EndActionOf(3), TEndAction::Pause) << "unknown word, manual show: pause";
    EXPECT_EQ(manual->EndActionOf(4), TEndAction::Pause);
    EXPECT_EQ(manual->EndActionOf(2), TEndAction::Timer);
    EXPECT_THROW(manual->EndActionOf(5), EAssertionFailed);
}

TEST(SlideTimeline, RunAppNeedsTheSwitchAndACommand) {
    const TRef<TKivSource> source =
        MakeSource(TimesText({1, 2, 3, 4}) + "[Slide1]\nPers_RunApp=1\nRunAppFN=notes.txt\n"
                                             "[Slide2]\nPers_RunApp=1\nRunAppFN=\n"
                                             "[Slide3]\nPers_RunApp=yes\nRunAppFN=x.exe\n");
    std::string command = "stale";
    EXPECT_TRUE(source->GetRunApp(0, command));
    EXPECT_EQ(command, "notes.txt");
    EXPECT_FALSE(source->GetRunApp(1, command));
    EXPECT_FALSE(source->GetRunApp(2, command)) << "only the text 1 switches it on";
    EXPECT_FALSE(source->GetRunApp(3, command));
    EXPECT_EQ(command, "");
}

TEST(ShowOptions, ScreenSaverProgramOverridesTheProject) {
    const std::string text =
        "[Main]\nopt_scr_full=0\nopt_fcp=1\nopt_repeat=stop\nopt_hidecursor=0\n" + TimesText({100});
    const TRef<TKivSource> saver = MakeSource(text, "/opt/show/Holiday.SCR");
    EXPECT_TRUE(saver->IsScreenSaver());
    const TIniFile& document = saver->Document();
    EXPECT_EQ(document.ReadString("Main", "opt_ssaver", "?"), "1");
    EXPECT_EQ(document.ReadString("Main", "opt_scr_full", "?"), "1");
    EXPECT_EQ(document.ReadString("Main", "opt_fcp", "?"), "0");
    EXPECT_EQ(document.ReadString("Main", "opt_hidecursor", "?"), "1");
    EXPECT_EQ(document.ReadString("Main", "opt_repeat", "?"), "repeat");
    EXPECT_EQ(saver->EndMode(), TEndMode::Repeat) << "the end mode is read after the writes";

    const TRef<TKivSource> player = MakeSource(text, "C:\\my.scr\\kivviewer");
    EXPECT_FALSE(player->IsScreenSaver());
    EXPECT_EQ(player->Document().ReadString("Main", "opt_ssaver", "?"), "0");
    EXPECT_EQ(player->Document().ReadString("Main", "opt_scr_full", "?"), "0");
    EXPECT_EQ(player->EndMode(), TEndMode::Stop);

    const TRef<TKivSource> bare = MakeSource("", "saver.scr");
    EXPECT_TRUE(bare->IsScreenSaver());
    ASSERT_NE(bare->MainSection(), nullptr) << "[Main] is created for the writes";
    EXPECT_EQ(bare->MainSection()->GetText("opt_ssaver"), "1");
}

TEST(ShowOptions, DefaultsAndValues) {
    const TRef<TKivSource> defaults = MakeSource("");
    EXPECT_TRUE(defaults->PauseWhenInactive());
    EXPECT_EQ(defaults->DesignWidth(), 1920);
    EXPECT_EQ(defaults->DesignHeight(), 1080);
    EXPECT_EQ(defaults->UnsharpAmount(), 0);
    EXPECT_EQ(defaults->TimesSection(), nullptr);
    EXPECT_EQ(defaults->Catalog().ScreenWidth(), 1920);

    const TRef<TKivSource> set =
        MakeSource("[Main]\nopt_pausewheninactive=0\nopt_scr_hidercolor=1193046\n"
                   "opt_scr_unsharpamount=0.75\nopt_scr_width=800\nopt_scr_height=600\n");
    EXPECT_FALSE(set->PauseWhenInactive());
    // 1193046 = 0x123456: red in the low byte.
    EXPECT_EQ(set->HiderColor().red, 0x56);
    EXPECT_EQ(set->HiderColor().green, 0x34);
    EXPECT_EQ(set->HiderColor().blue, 0x12);
    EXPECT_EQ(set->UnsharpAmount(), 0.75f);
    EXPECT_EQ(set->Catalog().ScreenWidth(), 800);
    EXPECT_EQ(set->Catalog().ScreenHeight(), 600);

    const TRef<TKivSource> odd =
        MakeSource("[Main]\nopt_pausewheninactive=true\nopt_scr_unsharpamount=1e300\n");
    EXPECT_TRUE(odd->PauseWhenInactive()) << "only 0 and 1 are booleans";
    EXPECT_EQ(odd->UnsharpAmount(), std::numeric_limits<float>::max()) << "kept within the float range";
}

TEST(ShowOptions, SlideSectionsByIndex) {
    const TRef<TIniFile> document = test::ParseIni("[Slide1]\na=1\n[Slide10]\na=10\n[Slide01]\na=bad\n");
    ASSERT_NE(SlideSection(*document, 0), nullptr);
    EXPECT_EQ(SlideSection(*document, 0)->GetText("a"), "1");
    EXPECT_EQ(SlideSection(*document, 9)->GetText("a"), "10");
    EXPECT_EQ(SlideSection(*document, 1), nullptr);
    EXPECT_EQ(SlideSection(*document, -1), nullptr);
    EXPECT_EQ(SlideSection(*document, std::numeric_limits<std::int32_t>::max()), nullptr);
}

} // namespace
} // namespace kiv
