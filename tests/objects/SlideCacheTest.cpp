// Built slides around the show time: the slides visible at a time (start, middle, transitions,
// end, later passes, far jumps), containers with their shifted records, the lead-in slide, effect
// slides, and the cache's window with its eviction order, announcements and dropped builds.
#include "SlideShowSupport.h"

#include "base/Assert.h"
#include "base/Exception.h"
#include "images/PictureCache.h"
#include "objects/SlideCache.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kiv {
namespace {

using test::TPictureMaker;
using test::TShowSpec;
using test::TTestShow;

using TRange = std::pair<std::int32_t, std::int32_t>;

struct TProducerFixture {
    TPictureMaker maker;
    TTestShow show;
    TSlideProducer producer;

    explicit TProducerFixture(const TShowSpec& spec) : show(spec, maker), producer(*show.source) {
        producer.SetScreen(1280, 720, kShowFitInside);
        producer.SetTiming(MakeRef<TTiming>());
    }
};

// The visible slides as a scan of every record from the lead-in on: the first whose gone time
// has not passed, and the next one too while its transition runs.
TRange ScanVisible(const TKivSource& source, double t, std::int32_t limit) {
    const auto whole = [](double v) { return std::llround(v); };
    TSlideInfo info, next;
    for (std::int32_t i = -1; i < limit; ++i) {
        source.GetSlideTimes(i, info);
        if (whole(info.end) < whole(t)) continue;
        source.GetSlideTimes(i + 1, next);
        const bool two = whole(t) >= whole(next.start) && whole(next.end) >= whole(t);
        return {i, two ? i + 1 : i};
    }
    return {limit, limit};
}

std::vector<std::int32_t> Indexes(const TSlideCache& cache) {
    std::vector<std::int32_t> indexes;
    for (int i = 0; i < cache.Count(); ++i)
        indexes.push_back(cache.Item(i)->Index());
    return indexes;
}

void Fill(TSlideCache& cache, double t) {
    for (int rounds = 0; cache.Update(t); ++rounds)
        ASSERT_LT(rounds, 10) << "the cache keeps building";
}

// --- Visible slides ---

TEST(VisibleRange, StartTransitionsAndTheEndOfAShow) {
    TProducerFixture f(test::Spec(5));
    // At 0 the lead-in is still leaving while slide 0 comes in.
    EXPECT_EQ(f.producer.VisibleRange(0), TRange(-1, 0));
    EXPECT_EQ(f.producer.VisibleRange(2000), TRange(0, 0));
    // Slide 1's transition runs from 4000 until slide 0 has gone at 5000.
    EXPECT_EQ(f.producer.VisibleRange(4000), TRange(0, 1));
    EXPECT_EQ(f.producer.VisibleRange(5000), TRange(0, 1));
    EXPECT_EQ(f.producer.VisibleRange(5000.4), TRange(0, 1)) << "times compare as whole ms";
    EXPECT_EQ(f.producer.VisibleRange(5001), TRange(1, 1));
    // The last slide of a show that stops stays the first visible one past the end.
    EXPECT_EQ(f.producer.VisibleRange(20000), TRange(4, 4));
    EXPECT_EQ(f.producer.VisibleRange(1e12), TRange(4, 4));
    // Back again.
    EXPECT_EQ(f.producer.VisibleRange(100), TRange(-1, 0));
    EXPECT_EQ(f.producer.VisibleRange(-5000), TRange(-1, -1));
}

TEST(VisibleRange, ARepeatingShowGoesOnIntoLaterPasses) {
    TProducerFixture f(test::Spec(3, true));
    // Period 12000: slide 0 of pass 1 is index 3, coming in over the last slide from 12000.
    EXPECT_EQ(f.producer.VisibleRange(11000), TRange(2, 2));
    EXPECT_EQ(f.producer.VisibleRange(12500), TRange(2, 3));
    EXPECT_EQ(f.producer.VisibleRange(14000), TRange(3, 3));
    // A jump far ahead and back lands where a scan lands, without walking every index.
    const double far = 12000.0 * 1000000 + 6000;
    EXPECT_EQ(f.producer.VisibleRange(far), ScanVisible(*f.show.source, far, 3000010));
    EXPECT_EQ(f.producer.VisibleRange(6000), TRange(1, 1));
}

TEST(VisibleRange, RandomTimesAgreeWithAScanWhateverCameBefore) {
    TProducerFixture f(test::Spec(7, true, 3000, 1200));
    std::mt19937 random(14);
    std::uniform_real_distribution<double> time(-2000.0, 7 * 3000.0 * 6);
    for (int i = 0; i < 2000; ++i) {
        const double t = time(random);
        ASSERT_EQ(f.producer.VisibleRange(t), ScanVisible(*f.show.source, t, 100)) << "at " << t;
    }
}

TEST(VisibleRange, ShowsWithoutSlidesOrWithoutLengthEndTheWalk) {
    TProducerFixture empty(test::Spec(0, true));
    EXPECT_EQ(empty.producer.VisibleRange(5000), TRange(-1, -1));
    // Every sync point at 0: no record covers a later time, and the walk must still end.
    TProducerFixture flat(test::Spec(3, true, 0));
    const TRange range = flat.producer.VisibleRange(5000);
    EXPECT_GE(range.first, -1);
    EXPECT_LE(range.first, 2);
}

// --- Containers ---

TEST(BuildContainer, ALaterPassShiftsTheRecordAndKeepsTheSlide) {
    TProducerFixture f(test::Spec(3, true));
    TRef<TDrawContainer> container = f.producer.BuildContainer(4);
    ASSERT_TRUE(container);
    EXPECT_EQ(container->Index(), 4);
    EXPECT_EQ(container->LoopOffset(), 12000.0);
    EXPECT_EQ(container->Info().start, 16000.0);
    EXPECT_EQ(container->Info().sync, 20000.0);
    ASSERT_NE(container->Slide(), nullptr);
    EXPECT_EQ(container->Slide()->Index(), 1);
    EXPECT_EQ(container->Slide()->Pass(), 1);
    EXPECT_EQ(container->Slide()->Times().start, 4000.0) << "the slide keeps its own times";
    ASSERT_NE(container->Filter(), nullptr);
    EXPECT_EQ(container->Filter()->duration, 1000.0);
    EXPECT_EQ(container->Timing(), f.producer.Timing());
    EXPECT_GE(f.maker.Made(), 1) << "the picture is loaded while the slide is built";

    // Advancing: the objects see the time of their own pass, the transition its progress.
    AdvanceContainer(*container, 16250.0);
    EXPECT_EQ(container->Filter()->progress, 250.0);
}

TEST(BuildContainer, TheLeadInSlideLeavesForTheFirstSlide) {
    TProducerFixture f(test::Spec(2, false, 4000, 1500, "opt_bstyle=1\nopt_bcolor=255\n"));
    TRef<TDrawContainer> lead = f.producer.BuildContainer(-1);
    ASSERT_TRUE(lead && lead->Slide());
    EXPECT_EQ(lead->Info().start, -1073741823.0);
    EXPECT_EQ(lead->Info().end, 1500.0);
    EXPECT_EQ(lead->Slide()->Times().nextTransition, 1500.0);
    EXPECT_EQ(lead->Slide()->Times().transition, 0.0);
    EXPECT_EQ(lead->Slide()->ChildCount(), 0);
    EXPECT_TRUE(lead->Slide()->HasBackground());
    EXPECT_EQ(lead->LoopOffset(), 0.0);
}

TEST(BuildContainer, FailuresAreReportedOrGiveAnEmptyContainer) {
    TPictureMaker maker;
    TTestShow show(test::Spec(2), maker);
    TSlideProducer producer(*show.source);
    producer.SetScreen(640, 360, kShowFitInside);
    try {
        producer.BuildContainer(0);
        FAIL() << "built without a time holder";
    } catch (const Exception& failure) {
        EXPECT_STREQ(failure.what(), "TSlideProducer.CurrentTiming not Assigned");
    }
    // A slide whose section is gone: a container without a slide.
    show.source->Document().RemoveSection("Slide2");
    producer.SetTiming(MakeRef<TTiming>());
    TRef<TDrawContainer> empty = producer.BuildContainer(1);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->Slide(), nullptr);
    AdvanceContainer(*empty, 5000.0); // nothing to advance, nothing breaks
}

TEST(BuildEffectSlide, TakesItsTimeFromTheSectionAndIsMarked) {
    TProducerFixture f(test::Spec(1));
    TRef<TIniFile> file = test::ParseIni("[Eff]\nCustomEffTime=3500\nobject Container:Root\nGUID=r\n"
                                         "object b:Box\nGUID=b\nend\nend\n[Plain]\n");
    TRef<TKivSlide> slide = f.producer.BuildEffectSlide(*file->FindSection("Eff"));
    ASSERT_TRUE(slide);
    EXPECT_TRUE(slide->IsEffectSlide());
    EXPECT_EQ(slide->Times().start, 0.0);
    EXPECT_EQ(slide->Times().sync, 3500.0);
    EXPECT_EQ(slide->ChildCount(), 1);
    EXPECT_EQ(slide->ParentSize().x, 1280.0);
    TRef<TKivSlide> plain = f.producer.BuildEffectSlide(*file->FindSection("Plain"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Times().sync, 2000.0);
}

// --- The cache ---

TEST(SlideCache, CapacityTwoHoldsTheSlideAndTheNextThroughItsTransition) {
    TProducerFixture f(test::Spec(8));
    TSlideCache cache(f.producer, 2);
    Fill(cache, 5 * 4000 + 1500); // the middle of slide 5
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{5, 6}));
    // During the transition from 5 to 6 both are visible and both are held already.
    EXPECT_FALSE(cache.Update(6 * 4000 + 500));
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{5, 6}));
    // Once 5 has gone, it is evicted and 7 built.
    Fill(cache, 6 * 4000 + 1500);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{6, 7}));
}

TEST(SlideCache, TheWindowAtTheStartMiddleAndEnd) {
    TProducerFixture f(test::Spec(5));
    TSlideCache cache(f.producer, 3);
    Fill(cache, 0);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{-1, 0, 1}));
    Fill(cache, 9500);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{2, 3, 4}));
    // A show that stops builds nothing of a pass that never comes.
    Fill(cache, 17500);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{4}));
}

TEST(SlideCache, ARepeatingShowWithFewerSlidesThanTheWindowFillsItFromTheNextPass) {
    TProducerFixture f(test::Spec(2, true));
    TSlideCache cache(f.producer, 3);
    Fill(cache, 6000); // slide 1 of pass 0
    ASSERT_EQ(Indexes(cache), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(cache.Item(1)->Slide()->Index(), 0);
    EXPECT_EQ(cache.Item(2)->Slide()->Index(), 1);
    EXPECT_EQ(cache.Item(2)->Info().start, 4000.0 + 8000.0);
    EXPECT_EQ(cache.Item(2)->LoopOffset(), 8000.0);
    // Across the loop: pass 1's slides take over, pass 0's leave.
    Fill(cache, 8000 + 2500);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{2, 3, 4}));
}

TEST(SlideCache, AFarSeekKeepsOneOldSlideUntilANewOneIsBuilt) {
    TProducerFixture f(test::Spec(20));
    TSlideCache cache(f.producer, 3);
    Fill(cache, 2000);
    ASSERT_EQ(Indexes(cache), (std::vector<std::int32_t>{0, 1, 2}));
    std::vector<std::vector<std::int32_t>> announced;
    cache.SetListChanged([&](const TSlideList& list) {
        std::vector<std::int32_t> indexes;
        for (int i = 0; i < list.count; ++i)
            indexes.push_back(list[i]->Index());
        announced.push_back(indexes);
    });
    EXPECT_TRUE(cache.Update(50000)); // slide 12
    // Two evictions (each announced), the last old slide kept, then the new one built.
    ASSERT_EQ(announced.size(), 3u);
    EXPECT_EQ(announced[0], (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(announced[1], (std::vector<std::int32_t>{2}));
    EXPECT_EQ(announced[2], (std::vector<std::int32_t>{2, 12}));
    EXPECT_TRUE(cache.Update(50000));
    EXPECT_EQ(announced[3], (std::vector<std::int32_t>{12})) << "the old slide goes once a new one is held";
    Fill(cache, 50000);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{12, 13, 14}));
    // And back.
    Fill(cache, 1000);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{0, 1, 2}));
}

TEST(SlideCache, AnEvictedSlideIsFreedOnlyAfterTheNewListWasAnnounced) {
    TProducerFixture f(test::Spec(6));
    TSlideCache cache(f.producer, 3);
    Fill(cache, 2000);
    const int before = TDrawContainer::LiveCount();
    std::vector<int> liveDuringAnnouncement;
    cache.SetListChanged([&](const TSlideList&) { liveDuringAnnouncement.push_back(TDrawContainer::LiveCount()); });
    cache.Update(6000); // slide 1 first: slide 0 is evicted, then slide 3 built
    ASSERT_EQ(liveDuringAnnouncement.size(), 2u);
    EXPECT_EQ(liveDuringAnnouncement[0], before) << "slide 0 was freed before the list without it was announced";
    EXPECT_EQ(TDrawContainer::LiveCount(), before);
}

TEST(SlideCache, BuildsAreAnnouncedAndASlideLeftBehindByASeekIsDropped) {
    TProducerFixture f(test::Spec(10));
    TSlideCache cache(f.producer, 3);
    std::vector<std::int32_t> built;
    cache.SetSlideBuilt([&](TDrawContainer& container) { built.push_back(container.Index()); });
    double now = 2000;
    cache.SetCurrentTime([&] { return now; });
    Fill(cache, now);
    EXPECT_EQ(built, (std::vector<std::int32_t>{0, 1, 2}));

    // The show jumps while slide 5 is being built: 5 is dropped unannounced, nothing leaks.
    const int live = TDrawContainer::LiveCount();
    now = 30000;
    EXPECT_TRUE(cache.Update(21000));
    EXPECT_EQ(cache.Cancelled(), 1);
    EXPECT_EQ(TDrawContainer::LiveCount(), live - 2) << "two evicted, the dropped one freed";
    // A seek that leaves the slide inside the new window keeps it.
    Fill(cache, now);
    EXPECT_EQ(Indexes(cache), (std::vector<std::int32_t>{7, 8, 9}));
    EXPECT_EQ(built.back(), 9);
    EXPECT_EQ(cache.Cancelled(), 1);
}

TEST(SlideCache, ClearingFreesEveryContainerAndPicture) {
    const int containers = TDrawContainer::LiveCount();
    const std::size_t pictures = LiveImageHandles();
    {
        TProducerFixture f(test::Spec(9, true));
        TSlideCache cache(f.producer, 3);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> time(0.0, 9 * 4000.0 * 4);
        for (int i = 0; i < 200; ++i)
            Fill(cache, time(random));
        EXPECT_EQ(TDrawContainer::LiveCount(), containers + cache.Count());
        EXPECT_GT(LiveImageHandles(), pictures);
        int announcedEmpty = 0;
        cache.SetListChanged([&](const TSlideList& list) { announcedEmpty += list.count == 0; });
        cache.Clear();
        EXPECT_EQ(announcedEmpty, 1);
        EXPECT_EQ(cache.Count(), 0);
    }
    EXPECT_EQ(TDrawContainer::LiveCount(), containers);
    EXPECT_EQ(LiveImageHandles(), pictures);
}

TEST(SlideCache, CapacityAndListSizeAreChecked) {
    TProducerFixture f(test::Spec(3));
    EXPECT_THROW(TSlideCache(f.producer, 0), EAssertionFailed);
    EXPECT_THROW(TSlideCache(f.producer, 4), EAssertionFailed);
    TSlideList list;
    for (int i = 0; i < 3; ++i)
        list.Add(f.producer.BuildContainer(i));
    EXPECT_THROW(list.Add(f.producer.BuildContainer(0)), EAssertionFailed);
}

} // namespace
} // namespace kiv
