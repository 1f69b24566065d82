// The show viewer's port over the real engine, stepped headlessly: what the viewer posts arrives as
// the engine's own messages (pause, seek with its request number, mouse), the engine's notifications
// come back as the viewer's (an action's text, a picture that outlives its notification), and
// stopping is final however often it is asked.
#include "viewer/ShowViewerEngine.h"

#include "viewer/InputMapping.h"

#include "engine/EngineTestSupport.h"
#include "engine/MouseMoveDetector.h"

#include "render/DeviceLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace kiv {
namespace {

class ShowViewerEngineTest : public ::testing::Test {
protected:
    test::TEngineRig rig;
    int pumps = 0;
    TRef<TKivEngineLink> link = MakeRef<TKivEngineLink>(ShareRef(&rig.Engine()), [this] { ++pumps; });
    std::vector<TViewerNotification> notifications;
    std::vector<double> positions;

    void SetUp() override {
        rig.Deliver(); // what the engine said while it was made (its window geometry)
        link->OnNotification = [this](const TViewerNotification& n) { notifications.push_back(n); };
        link->OnPosition = [this](double time, bool, double) { positions.push_back(time); };
    }
};

TEST_F(ShowViewerEngineTest, PauseAndSeekArriveAsTheEnginesMessages) {
    link->PostPaused(true);
    rig.Step();
    EXPECT_TRUE(rig.Engine().Paused());
    link->PostPaused(false);
    rig.Step();
    EXPECT_FALSE(rig.Engine().Paused());
    link->PostPaused(true);
    const int id = link->NextRequestId();
    link->PostOpen(id, nullptr, nullptr, 2500.4);
    rig.Step();
    EXPECT_TRUE(rig.Engine().Paused());
    EXPECT_EQ(rig.Engine().AppliedRequestId(), id);
    EXPECT_DOUBLE_EQ(rig.Engine().CurrentTime(), 2500);
    // The position report of that request reaches the viewer's handler.
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 2500);
}

TEST_F(ShowViewerEngineTest, AMouseMoveWithItsActionReachesTheEngine) {
    rig.Step();
    const int before = rig.Engine().AppliedRequestId();
    // A click the mapping bound to "go to time": the engine dispatches it back to the main thread.
    link->PostMouse(TMouseInput{0, 5, 5, static_cast<int>(TWindowMouseEvent::ButtonUp), 1},
                    MakeAction(kActionGotoTime, 1234, "then"));
    rig.Step();
    EXPECT_EQ(rig.Engine().AppliedRequestId(), before);
    ASSERT_FALSE(notifications.empty());
    const TViewerNotification& n = notifications.back();
    EXPECT_EQ(n.code, TViewerNotification::kAction);
    ASSERT_EQ(n.ints.size(), 2u);
    EXPECT_EQ(n.ints[0], kActionGotoTime);
    EXPECT_EQ(n.ints[1], 1234);
    EXPECT_EQ(n.text, "then");
}

TEST_F(ShowViewerEngineTest, APictureOutlivesItsNotificationAndTextsComeUnboxed) {
    rig.Engine().Notify(TViewerNotification::kAction, {kActionRunApp, 0}, true, new TStrValue("notes.txt"));
    rig.Engine().Notify(TViewerNotification::kPicture, {}, true, new TStrValue("a picture"));
    rig.Deliver();
    ASSERT_EQ(notifications.size(), 2u);
    EXPECT_EQ(notifications[0].text, "notes.txt");
    EXPECT_FALSE(notifications[0].value);
    // The notification that owned the picture is gone; the viewer's reference keeps it.
    auto* picture = dynamic_cast<TStrValue*>(notifications[1].value.Get());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->text, "a picture");
}

TEST_F(ShowViewerEngineTest, StoppingEndsTheEngineOnceAndLaterPostsAreDropped) {
    rig.Step();
    link->Stop();
    link->Stop();
    EXPECT_TRUE(rig.Engine().Queue().IsClosed());
    EXPECT_FALSE(link->Running());
    link->PostPaused(false); // dropped by the closed queue, freed at once
    EXPECT_EQ(rig.Engine().Queue().Count(), 0u);
}

TEST_F(ShowViewerEngineTest, AnEngineThreadThatHangsIsGivenUpAtTheStopLimit) {
    // An engine on its own thread and clock, on the rig's headless GL. Its thread needs the device
    // lock for its first frame; while this thread holds the lock it waits there and cannot end, as
    // a thread stuck in a driver cannot.
    auto device = MakeRef<TDrawDevice>();
    device->SetBounds({0, 0, test::kFrameWidth, test::kFrameHeight}, {0, 0}, false);
    TRef<TKivEngine> engine = TKivEngine::Create(device.Get(), false);
    engine->OpenShow(nullptr, test::ParseIni(test::EngineShowText()), 0);
    auto threaded = MakeRef<TKivEngineLink>(engine, [] {});
    bool gaveUp = false;
    bool runningWhenGivenUp = false;
    threaded->SetStopLimit(100);
    threaded->OnStuck = [&] {
        gaveUp = true;
        runningWhenGivenUp = engine->Running();
    };
    {
        TDeviceLockGuard hold;
        threaded->Start();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (LockWaiters().load() == 0 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GT(LockWaiters().load(), 0) << "the engine thread never reached the device";
        threaded->Stop();
        EXPECT_TRUE(gaveUp);
        EXPECT_TRUE(runningWhenGivenUp);
    }
    // Free again, the thread ends; a second stop of the link does nothing more.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (engine->Running() && std::chrono::steady_clock::now() < limit) {
        rig.Deliver();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    engine->Stop();
    EXPECT_FALSE(engine->Running());
    gaveUp = false;
    threaded->Stop();
    EXPECT_FALSE(gaveUp);
    threaded = nullptr;
    engine = nullptr;
    device->Destroy();
}

TEST_F(ShowViewerEngineTest, TheWindowChangesSizeWhileTheEngineThreadDraws) {
    // The main thread sets the device's size as window events come while the engine thread reads
    // it for every frame; each new size gets a renderer (made on this thread) and a first frame.
    auto device = MakeRef<TDrawDevice>();
    device->SetBounds({0, 0, test::kFrameWidth, test::kFrameHeight}, {0, 0}, false);
    TRef<TKivEngine> engine = TKivEngine::Create(device.Get(), false);
    engine->OpenShow(nullptr, test::ParseIni(test::EngineShowText()), 0);
    engine->Queue().Post(kEngineMode, new TModeData(false));
    auto threaded = MakeRef<TKivEngineLink>(engine, [this] { rig.Deliver(); });
    int firstFrames = 0;
    threaded->OnFirstFrame = [&] { ++firstFrames; };
    const auto waitFor = [&](int frames) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (firstFrames < frames && std::chrono::steady_clock::now() < limit) {
            rig.Deliver();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return firstFrames >= frames;
    };
    threaded->Start();
    ASSERT_TRUE(waitFor(1)) << "no first frame";
    for (int k = 1; k <= 3; ++k) {
        device->SetBounds({0, 0, test::kFrameWidth + 8 * k, test::kFrameHeight + 4 * k}, {0, 0}, false);
        EXPECT_TRUE(waitFor(1 + k)) << "no frame after the size change " << k;
    }
    threaded->Stop();
    EXPECT_FALSE(engine->Running());
    threaded = nullptr;
    engine = nullptr;
    device->Destroy();
}

TEST(MouseMoveDetectors, TheInputMappingsAndTheOverlaysLiveSideBySideInOneProgram) {
    // Two classes of one name once stood in one namespace: a program with both got one constructor
    // for the two.
    auto mapping = MakeRef<TInputMappingClass::TMouseMoveDetector>();
    TMouseMoveDetector overlay;
    EXPECT_FALSE(mapping->Check(0, 0));
    EXPECT_TRUE(mapping->Check(6, 0));
    EXPECT_EQ(overlay.SampleCount(), 0);
    overlay.Sample(0, 0, 10);
    overlay.Sample(6, 0, 20);
    EXPECT_EQ(overlay.SampleCount(), 2);
    EXPECT_EQ(overlay.LastMoveTime(), 20);
}

} // namespace
} // namespace kiv
