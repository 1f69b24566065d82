// The slide loader: its window settings, the thread that keeps the slides around the show time
// built and hands each list to an engine thread, seeks (far, back, into later passes, during a
// slow picture), stopping while it waits on the engine, headless stepping with 1000 random seeks
// counted for leaks, and shows of 0, 1 and 10 000 slides or without their pictures.
#include "objects/SlideShowSupport.h"

#include "base/Exception.h"
#include "engine/SlideLoader.h"
#include "images/PictureCache.h"
#include "objects/KivImage.h"
#include "objects/PassThroughDrawer.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using test::Spec;
using test::TPictureMaker;
using test::TShowSpec;
using test::TTestShow;

constexpr int kWaitMs = 20000; // only a hang reaches it

// A drawer both threads may use: the loader preloads, the engine draws. Counts what it saw.
class TCountingDrawer final : public test::TPassThroughDrawer {
public:
    void DrawImage(TImage&, TVec3, const TPictureDrawParams&, TVec3, TVec3, TVec2) override { ++drawnImages; }
    void PreloadImage(TImage&, const TPictureDrawParams&) override { ++preloads; }
    void ReleaseImage(TImage&) override { ++releases; }

    std::atomic<int> drawnImages{0};
    std::atomic<int> preloads{0};
    std::atomic<int> releases{0};
};

// The engine's side, on a thread of its own: takes each list of message 101 and draws its slides
// every pass, as the engine does.
class TFakeEngine final : public TKivThread {
public:
    explicit TFakeEngine(TDeviceDrawer& drawer) : drawer_(drawer) {}

    // The indexes of the list last taken.
    std::vector<std::int32_t> Indexes() {
        std::lock_guard guard(lock_);
        return Of(list_);
    }
    // Waits until the list taken has these indexes.
    bool WaitForList(const std::vector<std::int32_t>& indexes) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return Of(list_) == indexes; });
    }
    // Waits until `count` more frames were drawn.
    bool WaitForFrames(std::uint64_t count) {
        std::unique_lock guard(lock_);
        const std::uint64_t target = frames_ + count;
        return changed_.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return frames_ >= target; });
    }
    int Lists() {
        std::lock_guard guard(lock_);
        return lists_;
    }
    void SetTime(TTiming& timing, double t) { timing.SetTime(t); }
    std::atomic<bool> paused{false};
    std::atomic<bool> sawUnbuiltSlide{false};
    std::set<std::int32_t>* preloaded = nullptr; // indexes the slide-built callback saw, when set

protected:
    ~TFakeEngine() override = default;
    void OnStart() override { ::pthread_setname_np(::pthread_self(), "testEngine"); }
    void Step() override {
        if (!paused) Queue().ProcessAll();
        TSlideList list;
        {
            std::lock_guard guard(lock_);
            list = list_;
        }
        for (int i = 0; i < list.count; ++i)
            if (TKivSlide* slide = list[i]->Slide()) {
                AdvanceContainer(*list[i], list[i]->Info().start + 10);
                drawer_.Draw(*slide);
            }
        {
            std::lock_guard guard(lock_);
            ++frames_;
        }
        changed_.notify_all();
        wake_.WaitFor(1);
    }
    bool HandleEvent(int code, TRefObject* data) override {
        if (code != kSlideListMessage) return false;
        const auto* slides = dynamic_cast<TSlideData*>(data);
        if (!slides) return false;
        {
            std::lock_guard guard(lock_);
            list_ = slides->List();
            ++lists_;
        }
        changed_.notify_all();
        return true;
    }

private:
    static std::vector<std::int32_t> Of(const TSlideList& list) {
        std::vector<std::int32_t> indexes;
        for (int i = 0; i < list.count; ++i)
            indexes.push_back(list[i]->Index());
        return indexes;
    }

    TDeviceDrawer& drawer_;
    std::mutex lock_;
    std::condition_variable changed_;
    TSlideList list_;
    std::uint64_t frames_ = 0;
    int lists_ = 0;
    TEvent wake_{TEvent::TReset::Auto};
};

// A show, a loader for it, the engine thread and its drawer, wired as the engine wires them.
struct TLoaderRig {
    TPictureMaker maker;
    TTestShow show;
    TCountingDrawer drawer;
    TRef<TKivSlideLoader> loader;
    TRef<TFakeEngine> engine;
    std::mutex builtLock;
    std::vector<std::string> builtOnThread; // the thread name each slide was built on

    explicit TLoaderRig(const TShowSpec& spec, int capacity = 3) : show(spec, maker) {
        loader = MakeRef<TKivSlideLoader>(show.source, capacity, false, 1280, 720);
        loader->SetupProducer(false);
        engine = MakeRef<TFakeEngine>(drawer);
        loader->SetTarget(ShareRef(&engine->Queue()));
        loader->SetSlideBuilt([this](TDrawContainer& container) {
            char name[32] = {};
            ::pthread_getname_np(::pthread_self(), name, sizeof name);
            {
                std::lock_guard guard(builtLock);
                builtOnThread.push_back(name);
            }
            if (TKivSlide* slide = container.Slide()) {
                slide->PreloadBegin(drawer);
                slide->PreloadEx(drawer, 0);
            }
        });
    }
    ~TLoaderRig() { Stop(); }

    void Start() {
        engine->Start();
        loader->Start();
    }
    // As the engine stops its loader: terminate, keep answering the queue until it has ended.
    void Stop() {
        if (loader) {
            loader->Terminate();
            loader->WaitFor(kInfinite);
        }
        if (engine) engine->Stop();
    }
    void Seek(double t) { loader->Timing().SetTime(t); }
};

// --- Window settings ---

TEST(SlideLoaderSettings, WindowModeAndSizeFollowTheShowsScreenKeys) {
    TPictureMaker maker;
    struct TCase {
        const char* keys;
        int mode;
        int width, height;
        bool bordered;
    } cases[] = {
        {"", 0, 1600, 1200, false},                                         // full screen by default
        {"opt_scr_full=0\n", 2, 1920, 1080, false},                         // a window without border
        {"opt_scr_full=0\nopt_withoutborder=0\n", 1, 1920, 1080, true},    // a bordered window
        {"opt_scr_full=2\n", 2, 1600, 1200, false},                         // the screen's size
        {"opt_scr_full=3\nopt_withoutborder=0\n", 2, 1920, 1080, false},   // full screen of the design size
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.keys);
        TTestShow show(Spec(2, false, 4000, 1000, c.keys), maker);
        auto loader = MakeRef<TKivSlideLoader>(show.source, 3, false, 1600, 1200);
        EXPECT_EQ(loader->WindowMode(), c.mode);
        EXPECT_EQ(loader->width, c.width);
        EXPECT_EQ(loader->height, c.height);
        EXPECT_EQ(loader->bordered, c.bordered);
    }
}

TEST(SlideLoaderSettings, TheSlideRectFollowsTheLoaderSizeAndFit) {
    TPictureMaker maker;
    TTestShow show(Spec(2), maker);
    auto loader = MakeRef<TKivSlideLoader>(show.source, 3, false, 1280, 1024);
    loader->SetupProducer(false);
    EXPECT_EQ(loader->GetSlideRect(), (TShowRect{0, 152, 1280, 872}));
    loader->SetupProducer(true);
    EXPECT_EQ(loader->GetSlideRect(), (TShowRect{0, 0, 1280, 1024}));
    EXPECT_EQ(loader->Producer().ShowWidth(), 1820);

    EXPECT_THROW(MakeRef<TKivSlideLoader>(nullptr, 3, false, 640, 480), EAssertionFailed);
    EXPECT_THROW(MakeRef<TKivSlideLoader>(show.source, 4, false, 640, 480), EAssertionFailed);
}

// --- The thread ---

TEST(SlideLoaderThread, FillsTheWindowAndHandsEachListToTheEngine) {
    TLoaderRig rig(Spec(6));
    rig.Start();
    ASSERT_TRUE(rig.engine->WaitForList({-1, 0, 1}));
    EXPECT_EQ(rig.engine->Lists(), 3) << "one list per slide built";
    {
        std::lock_guard guard(rig.builtLock);
        ASSERT_EQ(rig.builtOnThread.size(), 3u);
        for (const std::string& name : rig.builtOnThread)
            EXPECT_EQ(name, "kivSlideLoader");
    }
    EXPECT_GE(rig.drawer.preloads.load(), 2) << "slides 0 and 1 preloaded their pictures";
    EXPECT_LE(rig.loader->Cache().Built(), static_cast<std::int64_t>(rig.loader->Passes()) + 1)
        << "more than one slide per pass";
    ASSERT_TRUE(rig.engine->WaitForFrames(3));
    EXPECT_GT(rig.drawer.drawnImages.load(), 0);
}

TEST(SlideLoaderThread, SeeksForwardBackAndIntoALaterPass) {
    TLoaderRig rig(Spec(4, true));
    rig.Start();
    ASSERT_TRUE(rig.engine->WaitForList({-1, 0, 1}));
    rig.Seek(9500); // slide 2
    ASSERT_TRUE(rig.engine->WaitForList({2, 3, 4}));
    rig.Seek(3 * 16000 + 4500); // slides 0 and 1 of pass 3, in their transition
    ASSERT_TRUE(rig.engine->WaitForList({12, 13, 14}));
    rig.Seek(2000);
    ASSERT_TRUE(rig.engine->WaitForList({0, 1, 2}));
    rig.Stop();
    EXPECT_EQ(TDrawContainer::LiveCount(), 3) << "the engine's last list still holds its slides";
}

TEST(SlideLoaderThread, ASlowPictureDelaysOnlyItsSlideAndASecondSeekDropsIt) {
    const int containers = TDrawContainer::LiveCount();
    const std::size_t pictures = LiveImageHandles();
    {
        TLoaderRig rig(Spec(12));
        rig.maker.Hold("pic2.png"); // slide 1's picture takes as long as the test wants
        rig.Start();
        ASSERT_TRUE(rig.maker.WaitUntilHolding(kWaitMs));
        // The slides before it are listed and the engine goes on drawing frames meanwhile.
        ASSERT_TRUE(rig.engine->WaitForList({-1, 0}));
        ASSERT_TRUE(rig.engine->WaitForFrames(5));

        // A seek, then a second one, while slide 1 is still being built: it is dropped.
        rig.Seek(20500);
        rig.Seek(30500); // slide 7
        rig.maker.ReleaseAll();
        ASSERT_TRUE(rig.engine->WaitForList({7, 8, 9}));
        EXPECT_EQ(rig.loader->Cache().Cancelled(), 1);
        rig.Stop();
        rig.engine = nullptr; // the engine's list goes with it
    }
    EXPECT_EQ(TDrawContainer::LiveCount(), containers);
    EXPECT_EQ(LiveImageHandles(), pictures);
}

TEST(SlideLoaderThread, StopsWhileItWaitsForAnEngineThatIsBusy) {
    TLoaderRig rig(Spec(6));
    rig.engine->paused = true; // the engine does not answer
    rig.Start();
    // Wait until the loader is blocked sending its first list.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (rig.engine->Queue().Count() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(rig.engine->Queue().Count(), 1u);
    // The engine stops it the way it does: terminate, then keep answering its queue until the
    // loader has ended.
    rig.loader->Terminate();
    EXPECT_TRUE(rig.loader->Running()) << "still blocked in its send";
    rig.engine->paused = false;
    ASSERT_TRUE(rig.loader->WaitFor(kWaitMs));
    EXPECT_FALSE(rig.loader->Running());
    EXPECT_EQ(rig.loader->Cache().Count(), 1) << "it built nothing after it was told to end";
}

TEST(SlideLoaderThread, AClosedEngineQueueLosesTheListButNothingElse) {
    const int containers = TDrawContainer::LiveCount();
    {
        TLoaderRig rig(Spec(6));
        rig.engine->Queue().Close();
        rig.loader->Start();
        ASSERT_TRUE(rig.loader->WaitForPasses(8, kWaitMs));
        EXPECT_EQ(rig.loader->Cache().Count(), 3) << "the loader goes on though nobody listens";
        rig.Stop();
    }
    EXPECT_EQ(TDrawContainer::LiveCount(), containers);
}

// --- Headless ---

// The loader's slides after a headless round, checked against the timeline: the window of the
// first visible slide, each with its own shifted record and pass.
void ExpectWindow(TKivSlideLoader& loader, const TSlideList& list, double t, int capacity) {
    const TKivSource& show = loader.Show();
    TSlideInfo info;
    std::int32_t first = -1;
    for (;; ++first) {
        show.GetSlideTimes(first, info);
        if (std::llround(info.end) >= std::llround(t)) break;
    }
    ASSERT_EQ(list.count, capacity) << "at " << t;
    for (int i = 0; i < list.count; ++i) {
        TDrawContainer& container = *list[i];
        ASSERT_EQ(container.Index(), first + i) << "at " << t;
        show.GetSlideTimes(container.Index(), info);
        EXPECT_EQ(container.Info().start, info.start);
        EXPECT_EQ(container.Info().end, info.end);
        if (container.Index() >= 0) {
            ASSERT_NE(container.Slide(), nullptr);
            EXPECT_EQ(container.Slide()->Pass(), container.Index() / show.SlideCount());
            EXPECT_EQ(container.LoopOffset(), container.Slide()->Pass() * show.Period());
        }
    }
}

TEST(SlideLoaderHeadless, AThousandRandomSeeksLeakNoSlideAndNoPicture) {
    const int containers = TDrawContainer::LiveCount();
    const std::size_t pictures = LiveImageHandles();
    TCountingDrawer drawer;
    std::int64_t built = 0;
    int withPicture = 0;
    {
        TPictureMaker maker;
        TTestShow show(Spec(10, true, 3000, 800), maker);
        auto loader = MakeRef<TKivSlideLoader>(show.source, 3, false, 960, 540);
        loader->SetupProducer(false);
        TSlideList engineList;
        loader->SetDirectDispatch([&](int code, TRefObject* data) {
            EXPECT_EQ(code, kSlideListMessage);
            engineList = static_cast<TSlideData*>(data)->List();
            return true;
        });
        loader->SetSlideBuilt([&](TDrawContainer& container) {
            if (container.Slide()) container.Slide()->PreloadBegin(drawer);
            withPicture += container.Index() >= 0;
        });
        std::mt19937 random(1000);
        std::uniform_real_distribution<double> time(0.0, 10 * 3000.0 * 5);
        for (int i = 0; i < 1000; ++i) {
            const double t = time(random);
            loader->Timing().SetTime(t);
            loader->RunUntilIdle();
            ASSERT_NO_FATAL_FAILURE(ExpectWindow(*loader, engineList, t, 3));
            // Nothing but the engine's list and the cache hold containers.
            ASSERT_EQ(TDrawContainer::LiveCount(), containers + 3);
        }
        EXPECT_EQ(loader->RunUntilIdle(), 0) << "an idle loader builds nothing";
        built = loader->Cache().Built();
        EXPECT_EQ(loader->Cache().Cancelled(), 0);
        loader = nullptr;
        engineList = TSlideList();
        EXPECT_EQ(TDrawContainer::LiveCount(), containers);
    }
    EXPECT_EQ(LiveImageHandles(), pictures);
    EXPECT_GT(built, 1000);
    EXPECT_EQ(drawer.preloads.load(), withPicture) << "every built slide with a picture was preloaded";
}

TEST(SlideLoaderHeadless, RefusesToRunBesideItsThread) {
    TLoaderRig rig(Spec(3));
    rig.Start();
    EXPECT_THROW(rig.loader->RunUntilIdle(), EAssertionFailed);
}

// --- Bad input ---

// The cache's list after a headless round at `t`, checked against what the engine was handed.
TSlideList RunHeadless(TKivSlideLoader& loader, double t) {
    TSlideList handed = loader.Cache().List();
    loader.SetDirectDispatch([&](int, TRefObject* data) {
        handed = static_cast<TSlideData*>(data)->List();
        return true;
    });
    loader.Timing().SetTime(t);
    loader.RunUntilIdle();
    loader.SetDirectDispatch({});
    const TSlideList& list = loader.Cache().List();
    EXPECT_EQ(handed.count, list.count);
    for (int i = 0; i < std::min(handed.count, list.count); ++i)
        EXPECT_EQ(handed[i], list[i]);
    return list;
}

std::vector<std::int32_t> IndexesOf(const TSlideList& list) {
    std::vector<std::int32_t> indexes;
    for (int i = 0; i < list.count; ++i)
        indexes.push_back(list[i]->Index());
    return indexes;
}

TEST(SlideLoaderBadInput, ShowsOfNoneOneAndTenThousandSlides) {
    TPictureMaker maker;
    TTestShow empty(Spec(0, true), maker);
    auto none = MakeRef<TKivSlideLoader>(empty.source, 3, false, 640, 360);
    none->SetupProducer(false);
    EXPECT_EQ(IndexesOf(RunHeadless(*none, 0)), (std::vector<std::int32_t>{-1}));
    EXPECT_EQ(IndexesOf(RunHeadless(*none, 5000)), (std::vector<std::int32_t>{-1}));

    TTestShow one(Spec(1, true), maker);
    auto single = MakeRef<TKivSlideLoader>(one.source, 3, false, 640, 360);
    single->SetupProducer(false);
    TSlideList list = RunHeadless(*single, 0);
    ASSERT_EQ(IndexesOf(list), (std::vector<std::int32_t>{-1, 0, 1}));
    EXPECT_EQ(list[2]->Slide()->Index(), 0);
    EXPECT_EQ(list[2]->Info().start, 4000.0);
    TTestShow oneStop(Spec(1), maker);
    auto stopping = MakeRef<TKivSlideLoader>(oneStop.source, 3, false, 640, 360);
    stopping->SetupProducer(false);
    EXPECT_EQ(IndexesOf(RunHeadless(*stopping, 0)), (std::vector<std::int32_t>{-1, 0}));

    TTestShow many(Spec(10000, false, 1000, 200), maker);
    auto large = MakeRef<TKivSlideLoader>(many.source, 3, false, 640, 360);
    large->SetupProducer(false);
    EXPECT_EQ(IndexesOf(RunHeadless(*large, 9990500)), (std::vector<std::int32_t>{9990, 9991, 9992}));
    EXPECT_EQ(IndexesOf(RunHeadless(*large, 500)), (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(IndexesOf(RunHeadless(*large, 1e9)), (std::vector<std::int32_t>{9999}));
}

TEST(SlideLoaderBadInput, ASlideWithoutItsPicturesIsBuiltWithPlaceholders) {
    TPictureMaker maker;
    TShowSpec spec = Spec(3);
    spec.pictureStem = "absent";
    TTestShow show(spec, maker);
    auto loader = MakeRef<TKivSlideLoader>(show.source, 3, false, 640, 360);
    loader->SetupProducer(false);
    TSlideList list = RunHeadless(*loader, 2000);
    ASSERT_EQ(IndexesOf(list), (std::vector<std::int32_t>{0, 1, 2}));
    for (int i = 0; i < list.count; ++i) {
        ASSERT_NE(list[i]->Slide(), nullptr);
        ASSERT_EQ(list[i]->Slide()->ChildCount(), 1);
        const auto* image = dynamic_cast<const TKivImage*>(list[i]->Slide()->Child(0));
        ASSERT_NE(image, nullptr);
        EXPECT_NE(image->Picture(), nullptr) << "the placeholder stands in";
    }
    EXPECT_EQ(maker.Made(), 0);
}

} // namespace
} // namespace kiv
