// The engine on its own thread, as the viewer runs it: it plays until its first frame while the
// main thread runs the application's loop, and closing it — also in the middle of loading, and a
// second time — leaves none of its threads behind and never hangs.
#include "EngineTestSupport.h"

#include "render/DrawDevice.h"
#include "render/gl/EngineGL.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <string>
#include <vector>

namespace kiv {
namespace {

// The names of this process's threads.
std::vector<std::string> ThreadNames() {
    std::vector<std::string> names;
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) return names;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    ::closedir(tasks);
    return names;
}

int EngineThreads() {
    int count = 0;
    for (const std::string& name : ThreadNames())
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
    TRef<TKivEngine> StartEngine() {
        TRef<TKivEngine> engine = TKivEngine::Create(device_.Get(), false, {}, app_);
        engine->OpenShow(nullptr, test::ParseIni(test::EngineShowText()), 0);
        engine->Start();
        engine->Queue().Post(kEngineMode, new TModeData(false));
        return engine;
    }

    TZkApplication* app_ = nullptr;
    TRef<T3DEngineGL> gl_;
    TRef<TDrawDevice> device_;
};

TEST_F(EngineThread, PlaysToItsFirstFrameAndClosesTwiceWithoutLeavingThreads) {
    TRef<TKivEngine> engine = StartEngine();
    int firstFrames = 0;
    // The main loop runs until the engine reports its first frame (the device is made here, on the
    // main thread, when the engine thread asks for it).
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
