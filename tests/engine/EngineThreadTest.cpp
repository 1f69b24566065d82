// The engine on its own thread, as the viewer runs it: it plays until its first frame while the
// main thread runs the application's loop, and closing it — also in the middle of loading, and a
// second time — leaves none of its threads behind and never hangs.
#include "EngineTestSupport.h"

#include "framework/CommandLine.h"
#include "images/Bitmap.h"
#include "project/ShowOpen.h"
#include "render/DrawDevice.h"
#include "render/gl/EngineGL.h"
#include "support/ThreadNames.h"

#include <gtest/gtest.h>


#include <set>
#include <string>
#include <vector>

namespace kiv {
namespace {

int EngineThreads() {
    int count = 0;
    for (const std::string& name : test::ThreadNames())
        count += name == "kivEngine" || name == "kivSlideLoader" || name.rfind("kivMusic", 0) == 0 ? 1 : 0;
    return count;
}

class EngineThread : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = new TZkApplication;
        app_->Prepare();
        gl_ = TRef<T3DEngineGL>::Adopt(new T3DEngineGL);
        gl_->SetHeadlessMonitor({0, 0, 64, 36}, 60);
        TRef<T3DEngine> gl = gl_;
        T3DEngine::SetFactory([gl] { return gl; });
        device_ = MakeRef<TDrawDevice>();
        device_->SetBounds({0, 0, 64, 36}, {0, 0}, false);
        ASSERT_EQ(EngineThreads(), 0);
    }
    void TearDown() override {
        device_->Destroy();
        device_.Reset();
        T3DEngine::SetFactory(nullptr);
        T3DEngine::Shutdown();
        gl_.Reset();
        if (!app_->Finalised()) app_->Finalise();
        app_->Release();
    }
    TRef<TKivEngine> StartEngine(bool loaderUploads = true) {
        TKivEngineSetup setup;
        setup.loaderUploads = loaderUploads;
        TRef<TKivEngine> engine = TKivEngine::Create(device_.Get(), false, std::move(setup), app_);
        engine->OpenShow(nullptr, test::ParseIni(test::EngineShowText()), 0);
        engine->Start();
        engine->Queue().Post(kEngineMode, new TModeData(false));
        return engine;
    }

    TZkApplication* app_ = nullptr;
    TRef<T3DEngineGL> gl_;
    TRef<TDrawDevice> device_;

    // Plays until the first frame while the main loop runs (the device is made there, on the main
    // thread, when the engine thread asks for it), then closes twice.
    void PlayToFirstFrameAndClose(bool loaderUploads) {
        TRef<TKivEngine> engine = StartEngine(loaderUploads);
        int firstFrames = 0;
        engine->OnFirstFrame = [&](TCustomKivEngine&) {
            ++firstFrames;
            app_->Terminate();
        };
        app_->Run();
        EXPECT_EQ(firstFrames, 1);
        EXPECT_GE(EngineThreads(), 2); // the engine and its slide loader at least
        engine->Stop();
        EXPECT_EQ(EngineThreads(), 0);
        engine->Stop(); // a second close returns at once
        engine.Reset();
        EXPECT_EQ(EngineThreads(), 0);
    }
};

TEST_F(EngineThread, PlaysToItsFirstFrameAndClosesTwiceWithoutLeavingThreads) {
    PlayToFirstFrameAndClose(true);
}

TEST_F(EngineThread, SlidesPreloadedOnTheEngineThreadPlayToo) {
    PlayToFirstFrameAndClose(false);
}

#ifdef KIV_DEMO_PROJECT
// The demo's pictures are decoded and uploaded on the loader thread while the engine thread draws;
// a second into the show its photo is on screen.
TEST_F(EngineThread, TheDemoPlaysWithPicturesUploadedByTheLoader) {
    TOpenShowRequest request;
    request.name = KIV_DEMO_PROJECT;
    request.asPackage = false;
    request.checkPassword = false;
    const TOpenShowResult opened = OpenShow(request, TCommandLine());
    ASSERT_TRUE(opened.ok) << opened.message;
    TKivEngineSetup setup;
    setup.loaderUploads = true;
    TRef<TKivEngine> engine = TKivEngine::Create(device_.Get(), false, std::move(setup), app_);
    engine->OpenShow(opened.show->AccessorRef(), opened.show->ProjectRef(), 0);
    engine->Start();
    engine->Queue().Post(kEngineMode, new TModeData(false));
    bool asked = false;
    TRef<TBitmap> picture;
    engine->OnPosition = [&](TCustomKivEngine& e, int timeMs, bool, int) {
        if (timeMs < 1000 || asked) return;
        asked = true;
        e.Queue().Post(kEngineCapture, nullptr);
    };
    engine->OnEvent = [&](TCustomKivEngine&, TKivEventData& event) {
        if (event.code != kNotifyImage) return;
        picture = ShareRef(dynamic_cast<TBitmap*>(event.value));
        app_->Terminate();
    };
    app_->Run();
    engine->Stop();
    EXPECT_EQ(EngineThreads(), 0);
    ASSERT_TRUE(picture);
    // The title photo is not one flat colour: count the distinct pixels of the middle row.
    std::set<std::uint32_t> colors;
    const std::uint8_t* row = picture->Row(picture->Height() / 2);
    for (int x = 0; x < picture->Width(); ++x)
        colors.insert((std::uint32_t{row[4 * x + 2]} << 16) | (std::uint32_t{row[4 * x + 1]} << 8) |
                      row[4 * x]);
    EXPECT_GT(colors.size(), 8u);
}
#endif

TEST_F(EngineThread, ClosedWhileItLoadsLeavesNoThread) {
    TRef<TKivEngine> engine = StartEngine();
    // No main loop runs: the device is still being made and the loader is building.
    engine->Stop();
    EXPECT_EQ(EngineThreads(), 0);
    engine.Reset();
    EXPECT_EQ(EngineThreads(), 0);
}

} // namespace
} // namespace kiv
