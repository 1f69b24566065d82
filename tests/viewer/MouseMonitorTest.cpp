#include "viewer/MouseMonitor.h"

#include "ini/IniFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

const TPoint kClient{800, 600};

class MouseMonitorTest : public ::testing::Test {
protected:
    std::int64_t now = 1000;
    TMouseMonitor monitor{[this] { return now; }};
    std::vector<std::string> trace;

    void SetUp() override {
        monitor.OnEnter = [this] { trace.push_back("enter"); };
        monitor.OnLeave = [this] { trace.push_back("leave"); };
        monitor.OnVisibility = [this](bool hidden) { trace.push_back(hidden ? "hide" : "show"); };
    }

    void Apply(int hideCursor, int intervalSeconds, TPoint at) {
        auto project = MakeRef<TIniFile>();
        project->WriteInteger("Main", "opt_hidecursor", hideCursor);
        project->WriteInteger("Main", "opt_hc2_hideinterval", intervalSeconds);
        monitor.ApplyShowOptions(*project, at);
    }
};

TEST_F(MouseMonitorTest, HiddenAtOnceShownByAFivePixelMoveAndHiddenAgainAfterTheInterval) {
    Apply(2, 3, {100, 100});
    EXPECT_TRUE(monitor.Hidden());
    EXPECT_EQ(monitor.HideInterval(), 3000);
    monitor.CursorMoved({104, 96}, kClient); // 4 pixels on each axis: not enough
    EXPECT_TRUE(monitor.Hidden());
    now += 100;
    monitor.CursorMoved({105, 100}, kClient);
    EXPECT_FALSE(monitor.Hidden());
    // Hidden again only more than 3 s after that move; ticks before change nothing.
    now += 3000;
    monitor.Tick({105, 100}, kClient);
    EXPECT_FALSE(monitor.Hidden());
    now += 1;
    monitor.Tick({105, 100}, kClient);
    EXPECT_TRUE(monitor.Hidden());
    EXPECT_EQ(trace, (std::vector<std::string>{"hide", "enter", "show", "hide"}));
}

TEST_F(MouseMonitorTest, SmallMovesWhileShownDoNotRestartTheWaitButLargerOnesDo) {
    Apply(2, 1, {10, 10});
    now += 10;
    monitor.CursorMoved({20, 10}, kClient); // shown
    now += 600;
    monitor.CursorMoved({24, 14}, kClient); // 4 px from the last change: the wait goes on
    now += 401;
    monitor.Tick({24, 14}, kClient);
    EXPECT_TRUE(monitor.Hidden());
    monitor.CursorMoved({40, 14}, kClient);
    now += 600;
    monitor.CursorMoved({46, 14}, kClient); // 6 px: shown "again", the wait restarts
    now += 600;
    monitor.Tick({46, 14}, kClient);
    EXPECT_FALSE(monitor.Hidden());
}

TEST_F(MouseMonitorTest, HideForTheWholeShowOrNotAtAll) {
    Apply(1, 5, {0, 0});
    EXPECT_TRUE(monitor.Hidden());
    EXPECT_EQ(monitor.HideInterval(), 0);
    monitor.CursorMoved({400, 400}, kClient); // moves never show it
    now += 100000;
    monitor.Tick({400, 400}, kClient);
    EXPECT_TRUE(monitor.Hidden());
    for (int value : {0, 3, -1}) {
        Apply(value, 5, {0, 0});
        EXPECT_FALSE(monitor.Hidden()) << value;
        now += 100000;
        monitor.Tick({0, 0}, kClient);
        EXPECT_FALSE(monitor.Hidden()) << value;
    }
    // Only real changes reach the window.
    EXPECT_EQ(trace, (std::vector<std::string>{"hide", "enter", "show"}));
    monitor.SetHideInterval(-50);
    EXPECT_EQ(monitor.HideInterval(), 0);
}

TEST_F(MouseMonitorTest, InsideIsLeftAndTopInclusiveRightAndBottomExclusive) {
    int polls = 0;
    monitor.OnPoll = [&] { ++polls; };
    monitor.CursorMoved({0, 0}, kClient);
    EXPECT_TRUE(monitor.Inside());
    EXPECT_TRUE(monitor.TimerWanted());
    monitor.CursorMoved({799, 599}, kClient);
    monitor.CursorMoved({800, 10}, kClient);
    EXPECT_FALSE(monitor.Inside());
    EXPECT_FALSE(monitor.TimerWanted());
    monitor.Tick({10, 600}, kClient);
    monitor.Tick({-1, 10}, kClient);
    monitor.Tick({10, 10}, kClient);
    EXPECT_EQ(trace, (std::vector<std::string>{"enter", "leave", "enter"}));
    EXPECT_EQ(polls, 6);
}

} // namespace
} // namespace kiv
