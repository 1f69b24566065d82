#include "viewer/ShowViewer.h"

#include "viewer/RecordingEngine.h"

#include "framework/CommandLine.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace kiv {
namespace {

using testing::TRecordingEngine;

const TRect kFullHd{0, 0, 1920, 1080};

TDisplayLayout OneMonitor(TRect rect = kFullHd) {
    return TDisplayLayout{{rect}, 0, rect};
}

TDisplayLayout TwoMonitors() {
    // A 1280 × 1024 monitor to the right of the primary full-HD one, its top 100 pixels lower.
    const TRect second{1920, 100, 3200, 1124};
    return TDisplayLayout{{kFullHd, second}, 0, {0, 0, 3200, 1124}};
}

// --- The window-mode arithmetic ---

TEST(ShowWindowPlacement, AFramelessWindowTooWideIsScaledToTheMonitorAndCentredVertically) {
    const TWindowPlacement p = PlaceShowWindow(2000, 1000, 2, {}, OneMonitor(), {});
    EXPECT_EQ(p.frame, TWindowFrame::None);
    EXPECT_FALSE(p.fullScreen);
    EXPECT_EQ(p.clientWidth, 1920);
    EXPECT_EQ(p.clientHeight, 960);
    EXPECT_EQ(p.window, (TRect{0, 60, 1920, 1020}));
    EXPECT_EQ(p.clientOrigin, (TPoint{0, 60}));
}

TEST(ShowWindowPlacement, AFramedWindowKeepsItsClientSizeAndCountsItsFrame) {
    const TFrameSize frame{4, 30, 4, 4};
    const TWindowPlacement p = PlaceShowWindow(1280, 720, 1, {}, OneMonitor(), frame);
    EXPECT_EQ(p.frame, TWindowFrame::Fixed);
    EXPECT_EQ(p.clientWidth, 1280);
    EXPECT_EQ(p.clientHeight, 720);
    // 1288 × 754 in 1920 × 1080: free 632 and 326, halves 316 and 163.
    EXPECT_EQ(p.window, (TRect{316, 163, 1604, 917}));
    EXPECT_EQ(p.clientOrigin, (TPoint{320, 193}));

    TDisplaySwitches resize;
    resize.resize = true;
    EXPECT_EQ(PlaceShowWindow(1280, 720, 1, resize, OneMonitor(), frame).frame, TWindowFrame::Resizable);
    // The frame belongs to mode 1 only.
    const TWindowPlacement frameless = PlaceShowWindow(1280, 720, 2, resize, OneMonitor(), frame);
    EXPECT_EQ(frameless.frame, TWindowFrame::None);
    EXPECT_EQ(frameless.window, (TRect{320, 180, 1600, 900}));
}

TEST(ShowWindowPlacement, AFramedWindowTooLargeScalesItsClientAreaInsideTheFrame) {
    const TFrameSize frame{4, 30, 4, 4};
    const TWindowPlacement p = PlaceShowWindow(3000, 2000, 1, {}, OneMonitor(), frame);
    // x = min((1080 - 34) / 2000, (1920 - 8) / 3000) = 0.523
    EXPECT_EQ(p.clientWidth, 1569);
    EXPECT_EQ(p.clientHeight, 1046);
    EXPECT_EQ(p.window.Height(), 1080);
    EXPECT_EQ(p.window.Width(), 1577);
    EXPECT_EQ(p.window.left, 171); // (1920 - 1577) / 2 = 171.5, toward zero
    EXPECT_EQ(p.window.top, 0);
}

TEST(ShowWindowPlacement, ScaledSidesRoundToNearestAndOddFreeSpaceRoundsTowardZero) {
    // 1000 × 3000 in 1920 × 1080: x = 0.36, 360 × 1080.
    TWindowPlacement p = PlaceShowWindow(1000, 3000, 2, {}, OneMonitor(), {});
    EXPECT_EQ(p.clientWidth, 360);
    EXPECT_EQ(p.clientHeight, 1080);
    // 999 × 2001 on 1920 × 1080: x = 1080 / 2001, width 539.19… → 539.
    p = PlaceShowWindow(999, 2001, 2, {}, OneMonitor(), {});
    EXPECT_EQ(p.clientWidth, 539);
    EXPECT_EQ(p.window.left, (1920 - 539) / 2);
    // A window that fits is never enlarged; 1281 wide leaves 639 free: 319 to the left.
    p = PlaceShowWindow(1281, 721, 2, {}, OneMonitor(), {});
    EXPECT_EQ(p.clientWidth, 1281);
    EXPECT_EQ(p.window.left, 319);
    EXPECT_EQ(p.window.top, 179);
    // Exactly the monitor's size fits without scaling.
    p = PlaceShowWindow(1920, 1080, 2, {}, OneMonitor(), {});
    EXPECT_EQ(p.window, kFullHd);
}

TEST(ShowWindowPlacement, SizesBelowOnePixelCountAsOnePixel) {
    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{-5, 400}, std::pair{400, -1}}) {
        const TWindowPlacement p = PlaceShowWindow(w, h, 2, {}, OneMonitor(), {});
        EXPECT_GE(p.clientWidth, 1);
        EXPECT_GE(p.clientHeight, 1);
        EXPECT_GE(p.window.left, 0);
        EXPECT_LE(p.window.right, 1920);
    }
}

TEST(ShowWindowPlacement, FullScreenCoversTheTargetArea) {
    TWindowPlacement p = PlaceShowWindow(640, 480, 0, {}, OneMonitor(), TFrameSize{4, 30, 4, 4});
    EXPECT_TRUE(p.fullScreen);
    EXPECT_EQ(p.frame, TWindowFrame::None);
    EXPECT_EQ(p.window, kFullHd);
    EXPECT_EQ(p.clientWidth, 1920);

    TDisplaySwitches second;
    second.display = 2;
    p = PlaceShowWindow(640, 480, 0, second, TwoMonitors(), {});
    EXPECT_EQ(p.window, (TRect{1920, 100, 3200, 1124}));
    EXPECT_EQ(p.clientOrigin, (TPoint{1920, 100}));

    TDisplaySwitches desktop;
    desktop.desktopAlign = true;
    desktop.display = 2; // "desktopalign" wins
    p = PlaceShowWindow(640, 480, 0, desktop, TwoMonitors(), {});
    EXPECT_EQ(p.window, (TRect{0, 0, 3200, 1124}));
}

TEST(ShowWindowPlacement, TheDisplaySwitchChoosesAMonitorOnlyWhenItExists) {
    TDisplaySwitches s;
    s.display = 2;
    EXPECT_EQ(TargetArea(s, OneMonitor()), kFullHd); // "display" 2 on one monitor: the primary
    EXPECT_EQ(TargetArea(s, TwoMonitors()), (TRect{1920, 100, 3200, 1124}));
    for (int n : {0, -1, 3}) {
        s.display = n;
        EXPECT_EQ(TargetArea(s, TwoMonitors()), kFullHd) << n;
    }
    // The primary is not always the first monitor.
    TDisplayLayout layout = TwoMonitors();
    layout.primary = 1;
    EXPECT_EQ(TargetArea({}, layout), (TRect{1920, 100, 3200, 1124}));
    // A window is centred on the monitor it was sent to.
    s.display = 2;
    const TWindowPlacement p = PlaceShowWindow(640, 480, 2, s, TwoMonitors(), {});
    EXPECT_EQ(p.window, (TRect{1920 + 320, 100 + 272, 1920 + 960, 100 + 752}));
    // No monitor list: the desktop rectangle stands for it.
    EXPECT_EQ(TargetArea({}, TDisplayLayout{{}, 0, {0, 0, 800, 600}}), (TRect{0, 0, 800, 600}));
}

TEST(ShowWindowPlacement, SwitchesAreReadFromTheCommandLineByExactName) {
    TDisplaySwitches s = ReadDisplaySwitches(TCommandLine::FromText("kivviewer -resize -display 2"));
    EXPECT_TRUE(s.resize);
    EXPECT_FALSE(s.desktopAlign);
    EXPECT_EQ(s.display, 2);
    s = ReadDisplaySwitches(TCommandLine::FromText("kivviewer -DesktopAlign -desktopalign -display x"));
    EXPECT_TRUE(s.desktopAlign);
    EXPECT_FALSE(s.resize);
    EXPECT_FALSE(s.display.has_value());
}

// --- The viewer against a recording engine and window ---

class TRecordingWindow : public TViewerWindow {
public:
    TDisplayLayout layout = OneMonitor();
    TFrameSize frame{2, 24, 2, 2};
    bool visible = false;
    int madeVisible = 0;
    int devicesMade = 0;
    std::vector<TWindowPlacement> placements;

    TRef<TDrawDevice> CreateDevice() override {
        ++devicesMade;
        return MakeRef<TDrawDevice>();
    }
    TDisplayLayout Displays() const override { return layout; }
    TFrameSize FrameSize(TWindowFrame f) const override {
        return f == TWindowFrame::None ? TFrameSize{} : frame;
    }
    void Place(const TWindowPlacement& placement) override { placements.push_back(placement); }
    bool Visible() const override { return visible; }
    void MakeVisible() override {
        visible = true;
        ++madeVisible;
    }
};

class ShowViewerTest : public ::testing::Test {
protected:
    TRecordingWindow window;
    TRef<TRecordingEngine> engine = MakeRef<TRecordingEngine>();
    TDrawDevice* engineDevice = nullptr;
    TRef<TKivShowViewer> viewer =
        MakeRef<TKivShowViewer>(&window, TDisplaySwitches{}, [this](TDrawDevice& device) {
            engineDevice = &device;
            return TRef<TViewerEngine>(engine);
        });
    TRef<TIniFile> project = MakeRef<TIniFile>();
    TRef<TFileAccessor> accessor = ProcessFileAccessor();

    void OpenWindowedShow() {
        project->WriteInteger("Main", "opt_scr_full", 0);
        project->WriteInteger("Main", "opt_scr_width", 800);
        project->WriteInteger("Main", "opt_scr_height", 600);
        project->WriteBool("Main", "opt_withoutborder", false);
        viewer->Open(*accessor, *project, 0);
        engine->calls.clear();
    }
};

TEST_F(ShowViewerTest, TheFirstShowMakesDeviceAndEngineAndPlacesTheProjectsWindow) {
    viewer->SetActionsEnabled(true);
    OpenWindowedShow();
    ASSERT_EQ(window.devicesMade, 1);
    ASSERT_EQ(engineDevice, viewer->Device());
    ASSERT_EQ(window.placements.size(), 1u);
    EXPECT_EQ(window.placements[0].frame, TWindowFrame::Fixed);
    EXPECT_EQ(window.placements[0].window, (TRect{558, 227, 1362, 853}));
    // The device draws into the client area and knows the window's rectangle.
    EXPECT_EQ(viewer->Device()->Bounds(), (TRect{0, 0, 800, 600}));
    EXPECT_EQ(viewer->Device()->ScreenOrigin(), (TPoint{560, 251}));
    EXPECT_FALSE(viewer->Device()->FullScreen());
    ASSERT_NE(viewer->Device()->Find<TRectangleWrapper>(), nullptr);
    EXPECT_EQ(viewer->Device()->Find<TRectangleWrapper>()->SavedRect, (TRect{558, 227, 1362, 853}));

    // The engine got its own project: later changes of the show's stay out of it.
    ASSERT_TRUE(engine->openedProject);
    EXPECT_NE(engine->openedProject.Get(), project.Get());
    project->WriteInteger("Main", "opt_scr_width", 1);
    EXPECT_EQ(engine->openedProject->ReadInteger("Main", "opt_scr_width", 0), 800);
    EXPECT_NE(engine->openedAccessor.Get(), accessor.Get());

    // A later show goes through the queue with a new request number, on the same engine.
    viewer->Open(*accessor, *project, 2500);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"102 open #1 2500"}));
    EXPECT_EQ(window.devicesMade, 1);
}

TEST_F(ShowViewerTest, FullScreenTogglesBackToTheShowsWindowAndTheSwitchesOverrideTheShow) {
    OpenWindowedShow();
    const TRect monitor = OneMonitor().monitors[0];
    viewer->ToggleFullScreen();
    ASSERT_EQ(window.placements.size(), 2u);
    EXPECT_TRUE(window.placements[1].fullScreen);
    EXPECT_EQ(window.placements[1].window, monitor);
    EXPECT_TRUE(viewer->Device()->FullScreen());
    EXPECT_EQ(viewer->Device()->Bounds(), (TRect{0, 0, monitor.Width(), monitor.Height()}));
    viewer->ToggleFullScreen();
    ASSERT_EQ(window.placements.size(), 3u);
    EXPECT_FALSE(window.placements[2].fullScreen);
    EXPECT_EQ(window.placements[2].frame, TWindowFrame::Fixed);
    EXPECT_EQ(viewer->Device()->Bounds(), (TRect{0, 0, 800, 600}));
    EXPECT_FALSE(viewer->Device()->FullScreen());

    // "-fullscreen" plays a windowed show full screen; "-window" a full-screen show in a framed
    // window of its size; "-fullscreen" wins when both are given.
    const auto placeWith = [&](const char* line, int full) {
        TRecordingWindow own;
        auto other = MakeRef<TKivShowViewer>(&own, ReadDisplaySwitches(TCommandLine::FromText(line)),
                                             [](TDrawDevice&) { return TRef<TViewerEngine>(MakeRef<TRecordingEngine>()); });
        TRef<TIniFile> show = MakeRef<TIniFile>();
        show->WriteInteger("Main", "opt_scr_full", full);
        show->WriteInteger("Main", "opt_scr_width", 800);
        show->WriteInteger("Main", "opt_scr_height", 600);
        other->Open(*accessor, *show, 0);
        return own.placements.empty() ? TWindowPlacement{} : own.placements.back();
    };
    EXPECT_TRUE(placeWith("kivviewer show -fullscreen", 0).fullScreen);
    const TWindowPlacement framed = placeWith("kivviewer show -window", 1);
    EXPECT_FALSE(framed.fullScreen);
    EXPECT_EQ(framed.frame, TWindowFrame::Fixed);
    EXPECT_EQ(framed.clientWidth, 800);
    EXPECT_EQ(framed.clientHeight, 600);
    EXPECT_TRUE(placeWith("kivviewer show -window -fullscreen", 0).fullScreen);
    EXPECT_TRUE(placeWith("kivviewer show", 1).fullScreen);
}

TEST_F(ShowViewerTest, TheEngineIsOpenedDirectlyThenStartedWithActionsEnabled) {
    viewer->SetActionsEnabled(true);
    viewer->Open(*accessor, *project, 0);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"actions on", "open 0", "start"}));
    // No opt_scr_full: full screen on the primary monitor.
    ASSERT_EQ(window.placements.size(), 1u);
    EXPECT_TRUE(window.placements[0].fullScreen);
    EXPECT_EQ(viewer->Device()->Bounds(), (TRect{0, 0, 1920, 1080}));
    EXPECT_TRUE(viewer->Device()->FullScreen());
}

TEST_F(ShowViewerTest, PauseIsPostedOnlyWhenItChanges) {
    OpenWindowedShow();
    EXPECT_TRUE(viewer->Paused()); // a viewer starts paused
    viewer->SetPaused(true);
    EXPECT_TRUE(engine->calls.empty());
    viewer->SetPaused(false);
    viewer->SetPaused(false);
    viewer->SetPaused(true);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"103 run", "103 pause"}));
}

TEST_F(ShowViewerTest, APauseStateChosenBeforeTheEngineExistsReachesItAfterItStarts) {
    viewer->SetPaused(false);
    viewer->Open(*accessor, *project, 0);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"actions off", "open 0", "start", "103 run"}));
}

TEST_F(ShowViewerTest, SeeksPostNumberedRequestsAndNegativeTimesAreIgnored) {
    OpenWindowedShow();
    viewer->Seek(-1);
    viewer->Seek(-0.001);
    EXPECT_TRUE(engine->calls.empty());
    EXPECT_EQ(viewer->CurrentTime(), 0);
    viewer->Seek(0);
    viewer->Seek(4999);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"102 seek #1 0", "102 seek #2 4999"}));
    EXPECT_EQ(viewer->CurrentTime(), 4999);
    engine->calls.clear();
    viewer->GoTo(7000, false);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"102 seek #3 7000", "103 run"}));
    // Through the main window's engine link: the same rules.
    engine->calls.clear();
    TEngineLink& link = *viewer;
    link.PostSeek(-20);
    link.PostPaused(false);
    EXPECT_TRUE(engine->calls.empty());
}

TEST_F(ShowViewerTest, MouseHelpCloseAndPrintArePostedWhileTheEngineRunsAndNeverAfterItStopped) {
    viewer->MouseEvent({0, 5, 6, 1, 1});
    viewer->Help();
    viewer->Print();
    viewer->Seek(100);
    EXPECT_TRUE(engine->calls.empty()); // no engine yet: dropped, the time recorded
    EXPECT_EQ(viewer->CurrentTime(), 100);

    OpenWindowedShow();
    viewer->MouseEvent({0, 5, 6, 1, 1}, MakeAction(kActionNextSlide));
    viewer->PostAction(MakeAction(kActionHelp));
    viewer->PostCloseTopDialog();
    viewer->PostPrint();
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"11 5,6 action 3", "16", "15", "13"}));

    engine->calls.clear();
    viewer->StopEngine();
    viewer->StopEngine();
    viewer->MouseEvent({0, 1, 1, 1, 1});
    viewer->Help();
    viewer->Seek(10);
    viewer->SetPaused(false);
    viewer->Open(*accessor, *project, 0);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"stop"}));
}

TEST_F(ShowViewerTest, NotificationsBecomeActionsPicturesAndWindowModes) {
    std::vector<TKivActionInfo> actions;
    std::vector<TRefObject*> pictures;
    viewer->OnAction = [&](const TKivActionInfo& a) { actions.push_back(a); };
    viewer->OnPrint = [&](TRef<TRefObject> p) { pictures.push_back(p.Get()); };
    OpenWindowedShow();

    engine->OnNotification({TViewerNotification::kAction, {kActionRunApp, 0}, "notes.txt", {}});
    engine->OnNotification({TViewerNotification::kAction, {kActionGotoTime, 1234}, "", {}});
    engine->OnNotification({TViewerNotification::kAction, {kActionNone, 0}, "", {}});
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0], MakeAction(kActionRunApp, 0, "notes.txt"));
    EXPECT_EQ(actions[1], MakeAction(kActionGotoTime, 1234));

    auto picture = MakeRef<TRefObject>();
    engine->OnNotification({TViewerNotification::kPicture, {}, "", picture});
    engine->OnNotification({TViewerNotification::kPicture, {}, "", {}});
    EXPECT_EQ(pictures, (std::vector<TRefObject*>{picture.Get()}));

    // A new show's window: frameless, too large, scaled and centred; the device follows.
    engine->OnNotification({TViewerNotification::kWindowMode, {2000, 1000, kModeFrameless}, "", {}});
    ASSERT_EQ(window.placements.size(), 2u);
    EXPECT_EQ(window.placements[1].window, (TRect{0, 60, 1920, 1020}));
    EXPECT_EQ(viewer->Device()->Bounds(), (TRect{0, 0, 1920, 960}));
    EXPECT_EQ(viewer->Device()->ScreenOrigin(), (TPoint{0, 60}));
    // One rectangle record, updated.
    EXPECT_EQ(viewer->Device()->Find<TRectangleWrapper>()->SavedRect, (TRect{0, 60, 1920, 1020}));
    // A short notification is no window mode.
    engine->OnNotification({TViewerNotification::kWindowMode, {2000}, "", {}});
    EXPECT_EQ(window.placements.size(), 2u);
}

TEST_F(ShowViewerTest, PositionReportsRecordTimeAndPassTheEndedFlagAndTheFirstFrameShowsTheWindow) {
    std::vector<bool> ends;
    viewer->OnShowEnd = [&](bool ended) { ends.push_back(ended); };
    OpenWindowedShow();
    engine->OnPosition(1500, false, 63000);
    engine->OnPosition(63000, true, 63000);
    EXPECT_EQ(ends, (std::vector<bool>{false, true}));
    EXPECT_EQ(viewer->CurrentTime(), 63000);
    EXPECT_EQ(viewer->Duration(), 63000);

    engine->OnFirstFrame();
    engine->OnFirstFrame();
    EXPECT_EQ(window.madeVisible, 1);
}

TEST_F(ShowViewerTest, HoldDialogAndPointerStateComeFromTheEngine) {
    EXPECT_FALSE(viewer->SendHolding());
    EXPECT_FALSE(viewer->SendDialogOpen());
    OpenWindowedShow();
    engine->holding = true;
    engine->dialogOpen = true;
    EXPECT_TRUE(viewer->SendHolding());
    EXPECT_TRUE(viewer->SendDialogOpen());
    viewer->SendClearHold();
    EXPECT_FALSE(viewer->SendHolding());

    engine->hover = {true, "TKivImage"};
    viewer->SendPollCursor();
    EXPECT_TRUE(viewer->PointerOverAction());
    engine->hover = {true, "TKivButton"}; // buttons show their own states, not the hand
    viewer->SendPollCursor();
    EXPECT_FALSE(viewer->PointerOverAction());
    engine->hover = {false, "NavPanel"};
    viewer->SendPollCursor();
    EXPECT_FALSE(viewer->PointerOverAction());
    EXPECT_TRUE(viewer->PointerOverNavPanel());
}

TEST(ShowViewer, ReleasingTheViewerStopsItsEngineOnce) {
    TRecordingWindow window;
    auto engine = MakeRef<TRecordingEngine>();
    {
        auto viewer = MakeRef<TKivShowViewer>(&window, TDisplaySwitches{},
                                              [&](TDrawDevice&) { return TRef<TViewerEngine>(engine); });
        viewer->Open(*ProcessFileAccessor(), *MakeRef<TIniFile>(), 0);
        viewer->StopEngine();
    }
    EXPECT_EQ(std::count(engine->calls.begin(), engine->calls.end(), "stop"), 1);
    EXPECT_FALSE(engine->OnPosition); // the viewer's callbacks are gone with it
}

} // namespace
} // namespace kiv
