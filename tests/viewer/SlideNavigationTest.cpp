#include "viewer/SlideNavigation.h"

#include "HandTimeline.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using testing::THandTimeline;

// Three slides ending at 5000, 9000 and 15000 with transitions 2000, 1000 and 8000 (the last cut to
// 6000 by its length).
THandTimeline ThreeSlides(bool repeats) {
    return THandTimeline({5000, 9000, 15000}, {2000, 1000, 8000}, repeats, {"Intro", "Beach", "End"});
}

TEST(SlideNavigation, SlideStartIsOneMillisecondLaterWithoutTransition) {
    const THandTimeline times({5000, 9000, 15000}, {0, 1000, 0}, false);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.SlideStartTime(0), 1);
    EXPECT_EQ(navigation.SlideStartTime(-5), 1); // below 0 counts as 0
    EXPECT_EQ(navigation.SlideStartTime(1), 5000);
    EXPECT_EQ(navigation.SlideStartTime(2), 9001);
    // Where the show ends there is no slide to show: the end itself.
    EXPECT_EQ(navigation.SlideStartTime(3), 15000);
}

TEST(SlideNavigation, SlideStartOfALaterPassInARepeatingShow) {
    const THandTimeline times({5000, 9000, 15000}, {0, 1000, 0}, true);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.SlideStartTime(3), 15001); // slide 0 again, no transition
    EXPECT_EQ(navigation.SlideStartTime(4), 20000);
}

TEST(SlideNavigation, NextSlideAtTheBoundaries) {
    const THandTimeline times = ThreeSlides(false);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.NextSlideTime(0, false), 5000);
    EXPECT_EQ(navigation.NextSlideTime(4999.4, false), 5000);
    // A time on a synchronisation point belongs to the slide that ends there, whose successor
    // starts at that very time: navigation moves on to the one after.
    EXPECT_EQ(navigation.NextSlideTime(5000, false), 9000);
    EXPECT_EQ(navigation.NextSlideTime(5000.5, false), 9000);
    EXPECT_EQ(navigation.NextSlideTime(8999.6, false), 9000);
    // On the last slide of a show that does not repeat: the end of the show.
    EXPECT_EQ(navigation.NextSlideTime(9000.5, false), 15000);
    EXPECT_EQ(navigation.NextSlideTime(14999, false), 15000);
    EXPECT_EQ(navigation.NextSlideTime(15000, false), 15000);
    EXPECT_EQ(navigation.NextSlideTime(40000, false), 15000);
}

TEST(SlideNavigation, NextSlideInARepeatingShowGoesOnToTheNextPass) {
    const THandTimeline times = ThreeSlides(true);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.NextSlideTime(9000.5, false), 15000);
    EXPECT_EQ(navigation.NextSlideTime(15000, false), 20000);
    EXPECT_EQ(navigation.NextSlideTime(16000, false), 20000);
    EXPECT_EQ(navigation.NextSlideTime(20000, false), 24000);
}

TEST(SlideNavigation, PausedNextSlideLandsAfterTheTransition) {
    const THandTimeline times = ThreeSlides(true);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.NextSlideTime(0, true), 5000 + 1000);
    EXPECT_EQ(navigation.NextSlideTime(6000, true), 9000 + 6000); // the cut transition
    EXPECT_EQ(navigation.NextSlideTime(9500, true), 15000 + 2000);

    // Without a transition the paused show lands 1 ms into the slide, like a running one.
    const THandTimeline plain({5000, 9000}, {0, 0}, false);
    EXPECT_EQ(TSlideNavigation(plain).NextSlideTime(100, true), 5001);
    EXPECT_EQ(TSlideNavigation(plain).NextSlideTime(100, false), 5001);
}

TEST(SlideNavigation, NextSlideRoundsHalvesToEven) {
    const THandTimeline times({2500.5, 5000}, {0, 1000.5}, false);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.NextSlideTime(0, false), 2500);
    EXPECT_EQ(navigation.NextSlideTime(0, true), 2500 + 1000);
}

TEST(SlideNavigation, PreviousSlideGoesBackOneOrTwoSlides) {
    const THandTimeline times = ThreeSlides(false);
    const TSlideNavigation navigation(times);
    // On slide 2 (from 9000): slide 1 is fully shown at 6000.
    EXPECT_EQ(navigation.PrevSlideTime(12000), 6000);
    EXPECT_EQ(navigation.PrevSlideTime(9001), 6000);
    // On slide 1: back to the start of the show.
    EXPECT_EQ(navigation.PrevSlideTime(7000), 0);
    EXPECT_EQ(navigation.PrevSlideTime(5000.5), 0);
    // Exactly on a synchronisation point the slide ending there counts: slide 1 (shown at 6000) is
    // more than 500 ms behind.
    EXPECT_EQ(navigation.PrevSlideTime(9000), 6000);
    // Less than 500 ms after a slide was fully shown, the one before it.
    const THandTimeline tight({5000, 8000, 9200, 12000}, {0, 1000, 1000, 0}, false);
    EXPECT_EQ(TSlideNavigation(tight).PrevSlideTime(9300), 6000); // slide 2 shown at 9000, only 300 ms ago
    EXPECT_EQ(TSlideNavigation(tight).PrevSlideTime(9500), 9000);
    // From slide 1 the only way back is the start.
    EXPECT_EQ(TSlideNavigation(tight).PrevSlideTime(6000), 0);
}

TEST(SlideNavigation, PreviousSlideAtTheStartOfTheShowIsTheStart) {
    const THandTimeline times = ThreeSlides(true);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.PrevSlideTime(0), 0);
    EXPECT_EQ(navigation.PrevSlideTime(-300), 0);
    EXPECT_EQ(navigation.PrevSlideTime(10), 0);
    // Exactly at the end of slide 0, which was fully shown at 2000.
    EXPECT_EQ(navigation.PrevSlideTime(5000), 2000);
    // Second pass of a repeating show: from slide 0 of pass 2 back to the last slide of pass 1,
    // fully shown at 15000, or to slide 1 when that was less than 500 ms ago.
    EXPECT_EQ(navigation.PrevSlideTime(16000), 15000);
    EXPECT_EQ(navigation.PrevSlideTime(15200), 6000);
}

TEST(SlideNavigation, SlidesAreFoundByExactName) {
    const THandTimeline times = ThreeSlides(false);
    const TSlideNavigation navigation(times);
    EXPECT_EQ(navigation.SlideIndexByName("Beach"), 1);
    EXPECT_EQ(navigation.SlideIndexByName("End"), 2);
    EXPECT_EQ(navigation.SlideIndexByName("beach"), 0);
    EXPECT_EQ(navigation.SlideIndexByName("x"), 0);
}

TEST(SlideNavigation, ShowsWithoutSlidesOrLengthDoNotHang) {
    const THandTimeline empty({}, {}, true);
    EXPECT_EQ(TSlideNavigation(empty).NextSlideTime(300, false), 300);
    EXPECT_EQ(TSlideNavigation(empty).PrevSlideTime(300), 0);
    EXPECT_EQ(TSlideNavigation(empty).SlideStartTime(2), 0);
    // Every synchronisation point 0 in a repeating show: no start ever lies after the time.
    const THandTimeline flat({0, 0}, {0, 0}, true);
    EXPECT_EQ(TSlideNavigation(flat).NextSlideTime(0, false), 1);
}

} // namespace
} // namespace kiv
