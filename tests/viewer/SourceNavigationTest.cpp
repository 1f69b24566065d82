// Navigation over the timeline of a real show project.
#include "viewer/SourceSlideTimes.h"

#include "project/ShowProjectSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

using test::MakeSource;
using test::SlideText;
using test::TimesText;

// Three slides ending at 5000, 9000 and 15000 with transitions of 2000, 1000 and 8000 ms (the last
// cut to 6000); the second slide is named "Beach".
std::string ThreeSlides(std::string_view repeat) {
    return "[Main]\nopt_repeat=" + std::string(repeat) + "\n" + TimesText({5000, 9000, 15000}) +
           SlideText(1, "dissolve", 2000) + SlideText(2, "dissolve", 1000, "slideid=Beach\n") +
           SlideText(3, "dissolve", 8000);
}

TEST(SourceNavigation, TheAdapterAnswersFromTheShowTimeline) {
    const TSourceSlideTimes times(MakeSource(ThreeSlides("close")));
    EXPECT_EQ(times.Count(), 3);
    EXPECT_FALSE(times.Repeats());
    EXPECT_TRUE(TSourceSlideTimes(MakeSource(ThreeSlides("repeat"))).Repeats());
    const TSlideInfo last = times.SlideTimes(2);
    EXPECT_EQ(last.start, 9000);
    EXPECT_EQ(last.sync, 15000);
    EXPECT_EQ(last.transition, 6000) << "cut to the slide's length";
    EXPECT_EQ(last.nextTransition, 0) << "a show that does not repeat has no transition after its end";
    EXPECT_EQ(last.end, 15000);
    EXPECT_EQ(last.slideId, "") << "neither a slideid nor a picture to name it";
    const TSlideInfo middle = times.SlideTimes(1);
    EXPECT_EQ(middle.nextTransition, 8000) << "the following transition is kept uncut";
    EXPECT_EQ(middle.end, 17000);
    EXPECT_EQ(middle.slideId, "Beach");
    EXPECT_EQ(times.SlideTimes(-1).start, -1073741823);
    EXPECT_EQ(times.FindSlideAt(5000), 0);
    EXPECT_EQ(times.FindSlideAt(5000.5), 1);
    EXPECT_EQ(times.SlideId(1), "Beach");
    EXPECT_EQ(times.SlideId(3), "") << "no identifier past the last slide";
    EXPECT_EQ(times.SlideId(-1), "");
}

TEST(SourceNavigation, NextAndStartInAShowThatStops) {
    const TSourceSlideTimes times(MakeSource(ThreeSlides("stop")));
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.SlideStartTime(0), 0);
    EXPECT_EQ(navigation.SlideStartTime(2), 9000);
    EXPECT_EQ(navigation.SlideStartTime(3), 15000) << "where the show ends";
    EXPECT_EQ(navigation.NextSlideTime(0, false), 5000);
    EXPECT_EQ(navigation.NextSlideTime(5000, false), 9000);
    EXPECT_EQ(navigation.NextSlideTime(12000, false), 15000) << "the last slide leads to the end";
    EXPECT_EQ(navigation.NextSlideTime(30000, false), 15000);
    // Paused, the end of the show counts the transition of the record there (slide 0's).
    EXPECT_EQ(navigation.NextSlideTime(12000, true), 15000 + 2000);
    EXPECT_EQ(navigation.NextSlideTime(0, true), 5000 + 1000);
    EXPECT_EQ(navigation.SlideIndexByName("Beach"), 1);
}

TEST(SourceNavigation, PausedNextLandsAfterTheTransition) {
    const TSourceSlideTimes times(MakeSource(ThreeSlides("repeat")));
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.NextSlideTime(0, true), 5000 + 1000);
    EXPECT_EQ(navigation.NextSlideTime(6000, true), 9000 + 6000);
    EXPECT_EQ(navigation.NextSlideTime(9500, true), 15000 + 2000) << "slide 0 of the second pass";
    EXPECT_EQ(navigation.NextSlideTime(9500, false), 15000);
}

TEST(SourceNavigation, RepeatingShowGoesOnAndBack) {
    const TSourceSlideTimes times(MakeSource(ThreeSlides("repeat")));
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.NextSlideTime(15000, false), 20000);
    EXPECT_EQ(navigation.SlideStartTime(4), 20000);
    EXPECT_EQ(navigation.PrevSlideTime(12000), 6000);
    EXPECT_EQ(navigation.PrevSlideTime(7000), 0);
    EXPECT_EQ(navigation.PrevSlideTime(16000), 15000);
    EXPECT_EQ(navigation.PrevSlideTime(15200), 6000) << "the last slide was shown less than 500 ms ago";
}

TEST(SourceNavigation, SlidesWithoutTransitionStartOneMillisecondIn) {
    const TSourceSlideTimes times(MakeSource("[Main]\nopt_repeat=close\n" + TimesText({5000, 9000}) +
                                             SlideText(1, "dissolve", 0) + SlideText(2, "dissolve", 0)));
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.SlideStartTime(1), 5001);
    EXPECT_EQ(navigation.NextSlideTime(100, true), 5001);
    EXPECT_EQ(navigation.NextSlideTime(6000, false), 9000) << "the end of the show";
}

} // namespace
} // namespace kiv
