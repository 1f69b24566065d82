// The engine driven by a virtual clock through a three-slide show: which slides and which
// transition state each frame shows around the boundaries, seeks, pause, the clock held until the
// slides are built, the end of the show, barriers, device loss and the message edge cases.
#include "EngineTestSupport.h"

#include "audio/KivMusicPlayer.h"
#include "engine/DrawController.h"
#include "engine/SlideLoader.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"
#include "render/gl/RendererGL.h"

#include <cmath>

namespace kiv {
namespace {

using test::kSlideColors;
using test::kSlideMs;
using test::kTransitionMs;
using test::TEngineRig;
using test::TTestShowSpec;

TEST(EngineFrames, SlidesAndTransitionStateAroundEveryBoundary) {
    TEngineRig rig;
    // Frames every 10 ms from 0 to the end of the show.
    for (int k = 0; k < 600; ++k) {
        const double t = k * 10.0;
        ASSERT_TRUE(rig.Player().RenderFrame(k)) << "frame at " << t;
        TKivEngine& engine = rig.Engine();
        ASSERT_DOUBLE_EQ(engine.CurrentTime(), t);
        const TRootItem& root = engine.Root();
        // The slide whose transition runs at t (slide 1 from the lead-in at 0, slide 2 from 2000,
        // slide 3 from 4000).
        const int incoming = t >= 4000 ? 2 : t >= 2000 ? 1 : 0;
        const bool transition = t <= incoming * kSlideMs + kTransitionMs;
        SCOPED_TRACE("t = " + std::to_string(t));
        if (transition) {
            ASSERT_EQ(root.LayerCount(), 3);
            EXPECT_EQ(rig.LayerSlide(0), incoming - 1);
            EXPECT_EQ(rig.LayerSlide(1), incoming);
            ASSERT_NE(root.Filter(), nullptr);
            EXPECT_DOUBLE_EQ(root.Progress(), t - incoming * kSlideMs);
            // The dissolve mixes the two slides with the phase f; the lead-in slide before the show
            // wears the first slide's background.
            const double f = (t - incoming * kSlideMs) / kTransitionMs;
            const std::uint32_t from = kSlideColors[incoming == 0 ? 0 : incoming - 1];
            test::ExpectMix(rig.CentreColor(), from, kSlideColors[incoming], f >= 1 ? 1.0 : f);
        } else {
            ASSERT_EQ(root.LayerCount(), 2);
            EXPECT_EQ(root.Filter(), nullptr);
            EXPECT_EQ(rig.LayerSlide(0), incoming);
            EXPECT_EQ(rig.CentreColor(), kSlideColors[incoming]);
        }
    }
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

using test::RigOptions;

// Renders frames 0 … k of the rig (10 ms apart) and returns the last one's time.
double PlayTo(TEngineRig& rig, int k) {
    for (int i = 0; i <= k; ++i)
        EXPECT_TRUE(rig.Player().RenderFrame(i)) << "frame " << i;
    return rig.Engine().CurrentTime();
}

TEST(EngineSeek, SeekDuringTransitionLandsInTheTransitionAndKeepsPlaying) {
    TEngineRig rig;
    ASSERT_DOUBLE_EQ(PlayTo(rig, 100), 1000);
    rig.Seek(4200); // 200 ms into slide 3's transition
    const int id = rig.Engine().RequestCounter();
    rig.Step();
    TKivEngine& engine = rig.Engine();
    EXPECT_EQ(engine.AppliedRequestId(), id);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 4200);
    EXPECT_TRUE(engine.Active());
    EXPECT_FALSE(engine.Paused());
    ASSERT_EQ(engine.Root().LayerCount(), 3);
    EXPECT_EQ(rig.LayerSlide(0), 1);
    EXPECT_EQ(rig.LayerSlide(1), 2);
    EXPECT_DOUBLE_EQ(engine.Root().Progress(), 200);
    test::ExpectMix(rig.CentreColor(), kSlideColors[1], kSlideColors[2], 200 / kTransitionMs);
    // The music clock was positioned at the new time before the clock started.
    EXPECT_DOUBLE_EQ(engine.MusicPlayer()->GetTime(), 4200);
    // The report after a seek is forced and carries the new request.
    ASSERT_FALSE(rig.positions.empty());
    EXPECT_EQ(rig.positions.back().time, 4200);
    rig.Advance(100);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 4300);
    test::ExpectMix(rig.CentreColor(), kSlideColors[1], kSlideColors[2], 300 / kTransitionMs);
}

TEST(EngineClock, HeldUntilEverySlideOfTheWindowIsBuilt) {
    THeadlessOptions options = RigOptions();
    options.runLoaderInline = false;
    TEngineRig rig({}, options);
    TKivEngine& engine = rig.Engine();
    rig.Step();
    EXPECT_FALSE(engine.Active());
    for (int built = 1; built <= 3; ++built) {
        // The clock stands while slides are missing, however far the device clock moves.
        rig.Advance(700);
        EXPECT_FALSE(engine.Active()) << built - 1 << " slides";
        EXPECT_DOUBLE_EQ(engine.CurrentTime(), 0);
        ASSERT_TRUE(engine.Loader()->Cache().Update(engine.CurrentTime()));
        EXPECT_EQ(engine.SlideCount(), built);
    }
    rig.Step();
    EXPECT_TRUE(engine.Active());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 0);
    rig.Advance(10);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 10);
    EXPECT_DOUBLE_EQ(engine.MusicPlayer()->GetTime(), 10);
}

TEST(EnginePause, PauseFreezesTheTimeAndResumeGoesOnFromIt) {
    TEngineRig rig;
    PlayTo(rig, 100);
    TKivEngine& engine = rig.Engine();
    rig.SetPaused(true);
    rig.Step();
    EXPECT_TRUE(engine.Paused());
    EXPECT_FALSE(engine.Active());
    const std::size_t reports = rig.positions.size();
    for (int i = 0; i < 3; ++i) {
        rig.Advance(700);
        EXPECT_DOUBLE_EQ(engine.CurrentTime(), 1000);
    }
    EXPECT_EQ(rig.positions.size(), reports);
    rig.SetPaused(false);
    rig.Step();
    EXPECT_TRUE(engine.Active());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 1000);
    rig.Advance(30);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 1030);
    EXPECT_EQ(rig.positions.back().time, 1030);
}

TEST(EngineEnd, StopAndCloseShowsEndAtTheirDurationWithExactlyOneEndedReport) {
    for (const char* mode : {"stop", "close"}) {
        SCOPED_TRACE(mode);
        TTestShowSpec spec;
        spec.repeat = mode;
        TEngineRig rig(spec);
        rig.Seek(5900);
        rig.Step();
        for (int i = 0; i < 10; ++i)
            rig.Advance(50);
        TKivEngine& engine = rig.Engine();
        EXPECT_DOUBLE_EQ(engine.CurrentTime(), 6000);
        EXPECT_FALSE(engine.Active());
        ASSERT_EQ(rig.EndedReports(), 1);
        EXPECT_TRUE(rig.positions.back().ended);
        EXPECT_EQ(rig.positions.back().time, 6000);
        EXPECT_EQ(rig.positions.back().duration, 6000);
        // A seek back plays again; the end of the same opened show is not reported twice.
        rig.Seek(5950);
        rig.Step();
        for (int i = 0; i < 4; ++i)
            rig.Advance(50);
        EXPECT_DOUBLE_EQ(engine.CurrentTime(), 6000);
        EXPECT_EQ(rig.EndedReports(), 1);
    }
}

TEST(EngineEnd, RepeatingShowGoesOnIntoItsNextPass) {
    TTestShowSpec spec;
    spec.repeat = "repeat";
    TEngineRig rig(spec);
    rig.Seek(5900);
    rig.Step();
    for (int i = 0; i < 14; ++i)
        rig.Advance(50);
    TKivEngine& engine = rig.Engine();
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 6600);
    EXPECT_TRUE(engine.Active());
    EXPECT_EQ(rig.EndedReports(), 0);
    // Slide index 3 is the first slide of the second pass, its times shifted by the show's length.
    EXPECT_EQ(rig.LayerSlide(0), 3);
    EXPECT_EQ(rig.CentreColor(), kSlideColors[0]);
}

TEST(EngineBarrier, PauseEndActionHoldsAtTheSlideEndUntilTheUserGoesOn) {
    TTestShowSpec spec;
    spec.endActions[0] = "pause";
    TEngineRig rig(spec);
    TKivEngine& engine = rig.Engine();
    rig.Seek(1900);
    rig.Step();
    EXPECT_TRUE(engine.Barrier().active);
    EXPECT_DOUBLE_EQ(engine.Barrier().time, 2000);
    for (int i = 0; i < 5; ++i)
        rig.Advance(50);
    EXPECT_TRUE(engine.Holding());
    EXPECT_FALSE(engine.Active());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2000);
    EXPECT_DOUBLE_EQ(engine.MusicPlayer()->GetTime(), 2000);
    rig.Advance(500);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2000);
    // The next barrier is looked for past this one: none, the end of this show.
    EXPECT_FALSE(engine.Barrier().active);
    engine.ClearHold();
    rig.Step();
    EXPECT_TRUE(engine.Active());
    rig.Advance(100);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2100);
}

TEST(EngineBarrier, LoopEndActionRepeatsThePartAfterTheTransition) {
    TTestShowSpec spec;
    spec.endActions[1] = "loop";
    TEngineRig rig(spec);
    TKivEngine& engine = rig.Engine();
    rig.Seek(3900);
    rig.Step();
    ASSERT_TRUE(engine.Barrier().active);
    EXPECT_DOUBLE_EQ(engine.Barrier().loopLength, 4000 - 2000 - kTransitionMs);
    rig.Advance(50);
    rig.Advance(60); // the clock reaches the barrier at 4000 and jumps back by 1500
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2500);
    EXPECT_FALSE(engine.Holding());
    rig.Step(); // and starts again on the next pass
    EXPECT_TRUE(engine.Active());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2500);
    rig.Advance(10);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2510);
    EXPECT_EQ(rig.LayerSlide(0), 1);
}

TEST(EngineBarrier, SlidesThatLastNothingNeitherHideABarrierNorHangTheSearch) {
    // A repeating show whose second slide lasts nothing: its pause still stops the clock, in
    // every pass.
    TTestShowSpec spec;
    spec.repeat = "repeat";
    spec.syncs = {2000, 2000, 4000};
    spec.endActions = {"timer", "pause", "timer"};
    TEngineRig rig(spec);
    TKivEngine& engine = rig.Engine();
    rig.Seek(1000);
    rig.Step();
    ASSERT_TRUE(engine.Barrier().active);
    EXPECT_EQ(engine.Barrier().index, 1);
    EXPECT_DOUBLE_EQ(engine.Barrier().time, 2000);
    rig.Seek(4500);
    rig.Step();
    ASSERT_TRUE(engine.Barrier().active);
    EXPECT_EQ(engine.Barrier().index, 4);
    EXPECT_DOUBLE_EQ(engine.Barrier().time, 6000);

    // Every slide lasts nothing: no slide ever comes after the time, so there is no barrier, and
    // opening, seeking and playing return at once instead of walking every index there is.
    spec.syncs = {0, 0, 0};
    spec.endActions = {"pause", "pause", "pause"};
    TEngineRig empty(spec);
    empty.Step();
    EXPECT_FALSE(empty.Engine().Barrier().active);
    empty.Seek(5000);
    empty.Step();
    EXPECT_FALSE(empty.Engine().Barrier().active);
    empty.Advance(10);
    EXPECT_FALSE(empty.Engine().Holding());
}

TEST(EngineDevice, ForcedLossMidShowReloadsAndTheShowGoesOn) {
    TEngineRig rig;
    PlayTo(rig, 100);
    ASSERT_EQ(rig.firstFrames, 1);
    ASSERT_EQ(rig.geometries, 1);
    auto* renderer =
        dynamic_cast<T3DRendererGL*>(rig.Engine().DrawController().Drawer()->Screen()->Renderer());
    ASSERT_NE(renderer, nullptr);
    renderer->ForceLossForTesting();
    // The clock stops while the device comes back and starts again a pass later: the show goes
    // on one frame behind the frame clock, steadily.
    double last = rig.Engine().CurrentTime();
    for (int k = 101; k <= 150; ++k) {
        ASSERT_TRUE(rig.Player().RenderFrame(k)) << "frame " << k;
        const double now = rig.Engine().CurrentTime();
        EXPECT_TRUE(now - last == 10 || (now - last == 0 && k <= 103))
            << "frame " << k << ": " << last << " → " << now;
        last = now;
    }
    EXPECT_DOUBLE_EQ(last, 1490);
    EXPECT_EQ(rig.Engine().Reinits(), 1);
    EXPECT_EQ(rig.firstFrames, 2); // reported again after the re-initialisation
    EXPECT_EQ(rig.geometries, 1);  // same size: not reopened
    EXPECT_EQ(rig.CentreColor(), kSlideColors[0]);
}

TEST(EngineDevice, LossWithAnotherWindowSizeReopensTheShowAtTheCurrentTime) {
    TEngineRig rig;
    PlayTo(rig, 250);
    rig.Player().Device().SetBounds({0, 0, 80, 48}, {0, 0}, false);
    auto* renderer =
        dynamic_cast<T3DRendererGL*>(rig.Engine().DrawController().Drawer()->Screen()->Renderer());
    ASSERT_NE(renderer, nullptr);
    renderer->ForceLossForTesting();
    for (int k = 251; k <= 300; ++k)
        ASSERT_TRUE(rig.Player().RenderFrame(k)) << "frame " << k;
    TKivEngine& engine = rig.Engine();
    // The loader takes the window's size only when the show is opened: a new one was made.
    EXPECT_EQ(engine.Loader()->width, 80);
    EXPECT_EQ(engine.Loader()->height, 48);
    EXPECT_EQ(rig.geometries, 1);                 // a reopen announces no new window geometry
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2990); // one frame lost while the device came back
    TRef<TBitmap> frame = engine.DrawController().Drawer()->GrabImage();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Width(), 80);
    EXPECT_EQ(rig.CentreColor(), kSlideColors[1]);
}

TEST(EngineFrames, BarsOutsideTheSlideAreaWearTheHiderColour) {
    TTestShowSpec spec;
    spec.mainExtra = "opt_scr_hidercolor=16776960\n"; // 0x00FFFF00 as BGR: cyan
    THeadlessOptions options = RigOptions();
    options.height = 48; // 64 × 48 around a 16:9 show: bars above and below
    TEngineRig rig(spec, options);
    PlayTo(rig, 100);
    TRef<TBitmap> frame = rig.Engine().DrawController().Drawer()->GrabImage();
    ASSERT_TRUE(frame);
    const auto pixel = [&](int x, int y) {
        const std::uint8_t* p = frame->Row(y) + 4 * x;
        return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
    };
    EXPECT_EQ(pixel(32, 1), 0x00FFFFu);
    EXPECT_EQ(pixel(32, 46), 0x00FFFFu);
    EXPECT_EQ(pixel(32, 24), kSlideColors[0]);
}

TEST(EngineMessages, OpenAndSeekPendingTogether) {
    TEngineRig rig;
    PlayTo(rig, 10);
    rig.SetPaused(true);
    rig.Step();
    TKivEngine& engine = rig.Engine();
    TKivSource* first = engine.Show();
    // A seek pending, then an open: the open replaces it.
    rig.Seek(1000);
    const int openId = engine.NextRequestId();
    rig.Post(kEngineOpen,
             new TOpenParams(false, openId, nullptr, test::ParseIni(test::EngineShowText()), 3000));
    rig.Step();
    EXPECT_NE(engine.Show(), first);
    EXPECT_EQ(engine.AppliedRequestId(), openId);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 3000);
    EXPECT_TRUE(engine.Paused());
    EXPECT_EQ(rig.geometries, 2);
    // An open pending, then a seek: the open stays and takes the seek's id and time.
    TKivSource* second = engine.Show();
    rig.Post(kEngineOpen, new TOpenParams(false, engine.NextRequestId(), nullptr,
                                          test::ParseIni(test::EngineShowText()), 1000));
    rig.Seek(4500);
    rig.Step();
    EXPECT_NE(engine.Show(), second);
    EXPECT_EQ(engine.AppliedRequestId(), engine.RequestCounter());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 4500);
    EXPECT_EQ(rig.geometries, 3);
}

TEST(EngineMessages, PauseWhileARequestIsPendingChangesTheRequestNotTheEngine) {
    TEngineRig rig;
    PlayTo(rig, 10);
    TKivEngine& engine = rig.Engine();
    rig.Seek(1500);
    rig.SetPaused(true);
    // Handled in one pass: the seek is pending when the pause arrives, and the request applies it.
    rig.Step();
    EXPECT_TRUE(engine.Paused());
    EXPECT_FALSE(engine.Active());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 1500);
    // A seek keeps the pause state that was current when it was posted.
    rig.Seek(500);
    rig.Step();
    EXPECT_TRUE(engine.Paused());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 500);
    rig.SetPaused(false);
    rig.Step();
    EXPECT_TRUE(engine.Active());
}

TEST(EngineMessages, ReportsOfAnOlderRequestAreDroppedOnTheMainThread) {
    TEngineRig rig;
    PlayTo(rig, 10);
    TKivEngine& engine = rig.Engine();
    const int old = engine.NextRequestId();
    engine.NextRequestId(); // the viewer issued a newer request meanwhile
    rig.Post(kEngineOpen, new TOpenParams(false, old, nullptr, nullptr, 2500));
    rig.positions.clear();
    rig.Step();
    rig.Advance(50);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 2550);
    EXPECT_TRUE(rig.positions.empty());
    rig.Post(kEngineOpen, new TOpenParams(false, engine.RequestCounter(), nullptr, nullptr, 3000));
    rig.Step();
    ASSERT_FALSE(rig.positions.empty());
    EXPECT_EQ(rig.positions.back().time, 3000);
}

TEST(EngineMessages, TheMainThreadSeesWhetherADialogIsOpen) {
    TTestShowSpec spec;
    spec.extraSections = "[dialog_1_]\nhelp=1\nobject Container:Root\n  GUID=help-root\nend\n";
    TEngineRig rig(spec);
    PlayTo(rig, 100);
    EXPECT_FALSE(rig.Engine().DialogOpen());
    rig.Post(kEngineHelp, nullptr);
    rig.Step();
    EXPECT_TRUE(rig.Engine().DialogOpen());
    rig.Post(kEngineCloseDialog, nullptr);
    rig.Step();
    EXPECT_FALSE(rig.Engine().DialogOpen());
}

TEST(EngineMessages, UnknownCodeIsAnAssertion) {
    TEngineRig rig;
    rig.Post(999, nullptr);
    EXPECT_THROW(rig.Step(), EAssertionFailed);
}

TEST(EngineMessages, MappedMouseActionGoesToTheMainThreadAndCaptureAnswersWithTheFrame) {
    TEngineRig rig;
    PlayTo(rig, 100);
    rig.Post(kEngineMouse, new TMouseData(1, 1, 0, 10, 10, TEngineAction{kEngineActionNext, 0, {}}));
    rig.Post(kEngineMouse,
             new TMouseData(1, 1, 0, 10, 10, TEngineAction{kEngineActionRunApp, 0, "notes.txt"}));
    rig.Post(kEngineMouse, new TMouseData(0, 0, 0, 12, 10)); // a move without an action gives nothing
    TRef<TBitmap> captured;
    rig.Engine().OnEvent = [&](TCustomKivEngine&, TKivEventData& event) {
        if (event.code == kNotifyAction) {
            rig.actions.push_back(event.ints);
            auto* text = dynamic_cast<TStrValue*>(event.value);
            rig.actions.back().push_back(text && text->text == "notes.txt" ? 1 : 0);
        }
        if (event.code == kNotifyImage) captured = ShareRef(dynamic_cast<TBitmap*>(event.value));
    };
    rig.Post(kEngineCapture, nullptr);
    rig.Step();
    ASSERT_EQ(rig.actions.size(), 2u);
    EXPECT_EQ(rig.actions[0], (std::vector<int>{kEngineActionNext, 0, 0}));
    EXPECT_EQ(rig.actions[1], (std::vector<int>{kEngineActionRunApp, 0, 1}));
    ASSERT_TRUE(captured);
    EXPECT_EQ(captured->Width(), test::kFrameWidth);
    EXPECT_EQ(captured->Height(), test::kFrameHeight);
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

TEST(EngineMessages, AnOpenThatFailsLeavesTheShowPlaying) {
    TEngineRig rig;
    PlayTo(rig, 50);
    TKivEngine& engine = rig.Engine();
    TKivSource* before = engine.Show();
    // A timeline that goes backwards cannot be opened.
    const std::string broken = "[Main]\nopt_repeat=stop\n[Times]\nopt_slidescount=2\nopt_synchpos1=3000\n"
                               "opt_synchpos2=1000\n[Slide1]\n[Slide2]\n";
    rig.Post(kEngineOpen, new TOpenParams(false, engine.NextRequestId(), nullptr, test::ParseIni(broken), 0));
    rig.Step();
    EXPECT_EQ(engine.Show(), before);
    EXPECT_EQ(rig.geometries, 1);
    for (int i = 0; i < 5; ++i)
        rig.Advance(10);
    EXPECT_TRUE(engine.Active());
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 550);
    EXPECT_EQ(rig.CentreColor(), kSlideColors[0]);
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

TEST(EngineMouse, HoverAndClickOnASlideObjectWithAnAction) {
    TTestShowSpec spec;
    spec.firstSlideObjects = "object b:Box\nGUID=b\nSize=3000,3000\nAction=nextslide\nend\n";
    THeadlessOptions options = RigOptions();
    options.parseAction = [](const std::string& word) {
        return word == "nextslide" ? TEngineAction{kEngineActionNext, 0, {}} : TEngineAction{};
    };
    TEngineRig rig(spec, options);
    PlayTo(rig, 100);
    TKivEngine& engine = rig.Engine();
    rig.Post(kEngineMouse, new TMouseData(0, 0, 0, 32, 18));
    rig.Step();
    EXPECT_TRUE(engine.Hover().overAction);
    EXPECT_EQ(engine.Hover().className, "TKivBox");
    EXPECT_TRUE(rig.actions.empty());
    // A press and a release over it make a click: its action goes to the main thread.
    rig.Post(kEngineMouse, new TMouseData(1, 1, 0, 32, 18));
    rig.Post(kEngineMouse, new TMouseData(2, 1, 0, 32, 18));
    rig.Step();
    ASSERT_EQ(rig.actions.size(), 1u);
    EXPECT_EQ(rig.actions[0], (std::vector<int>{kEngineActionNext, 0}));
    // The hover follows the frames: once the object's slide has gone, the pointer is over nothing.
    rig.Seek(2600);
    rig.Step();
    EXPECT_FALSE(engine.Hover().overAction);
    EXPECT_EQ(engine.Hover().className, "");
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

TEST(EngineRunApp, AProgramOfASlideStartsOnceJustAfterTheSlideStarts) {
    TTestShowSpec spec;
    spec.repeat = "repeat";
    spec.slideExtra[1] = "Pers_RunApp=1\nRunAppFN=notes.txt\n";
    TEngineRig rig(spec);
    TKivEngine& engine = rig.Engine();
    std::vector<std::string> texts;
    engine.OnEvent = [&](TCustomKivEngine&, TKivEventData& event) {
        if (event.code != kNotifyAction) return;
        auto* text = dynamic_cast<TStrValue*>(event.value);
        texts.push_back(std::to_string(event.ints[0]) + " " + (text ? text->text : "-"));
    };
    rig.Seek(1990);
    rig.Step();
    EXPECT_DOUBLE_EQ(engine.RunApp().time, 2001);
    rig.Advance(10);
    EXPECT_TRUE(texts.empty()); // 2000: not yet
    rig.Advance(10);
    EXPECT_EQ(texts, (std::vector<std::string>{"10 notes.txt"}));
    // The next one is slide 2 of the second pass.
    EXPECT_DOUBLE_EQ(engine.RunApp().time, 6000 + 2001);
    for (int i = 0; i < 20; ++i)
        rig.Advance(50);
    EXPECT_EQ(texts.size(), 1u);
    // Without actions (headless rendering) no program is found.
    engine.SetActionsEnabled(false);
    rig.Seek(1000);
    rig.Step();
    EXPECT_GT(engine.RunApp().time, 1e38);
    EXPECT_FALSE(engine.Barrier().active);
}

} // namespace
} // namespace kiv
