// The slide loader with the real drawer: slides preloaded on the loader's thread (through the
// device's upload context) while this thread draws frames, and a picture whose decoding is held
// back never stalls a frame drawn meanwhile.
#include "objects/SlideShowSupport.h"

#include "engine/SlideLoader.h"
#include "render/Drawer.h"
#include "render/RenderFixture.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <functional>

namespace kiv {
namespace {

using test::Spec;
using test::TPictureMaker;
using test::TTestShow;

constexpr int kWaitMs = 30000; // only a hang reaches it

using test::TFnItem;

class SlideLoaderDraw : public test::TDrawerFixture {
protected:
    void SetUp() override {
        TDrawerFixture::SetUp();
        if (HasFatalFailure()) return;
        DrawFrame(0); // the screen is ready and its context current here
    }
    void TearDown() override {
        StopLoader();
        list = TSlideList();
        loader.Reset();
        TDrawerFixture::TearDown();
    }

    // A loader for the show that preloads every slide it builds through the drawer and hands its
    // lists to this thread's queue, as the engine wires it.
    void StartLoader(TKivSource& show) {
        queue = TRef<TThreadEventList>::Adopt(new TThreadEventList([this](int code, TRefObject* data) {
            if (code != kSlideListMessage) return false;
            list = static_cast<TSlideData*>(data)->List();
            return true;
        }));
        queue->SetOwnerThread(std::this_thread::get_id());
        loader = MakeRef<TKivSlideLoader>(ShareRef(&show), 3, false, kWidth, kHeight);
        loader->SetupProducer(false);
        loader->SetTarget(queue);
        loader->SetSlideBuilt([this](TDrawContainer& container) {
            if (TKivSlide* slide = container.Slide()) {
                slide->PreloadBegin(*drawer);
                slide->PreloadEx(*drawer, 0);
            }
        });
        loader->Start();
    }
    // As the engine stops its loader: terminate it and answer its sends until it has ended.
    void StopLoader() {
        if (!loader) return;
        loader->Terminate();
        while (loader->Running())
            queue->ProcessAll();
        loader->WaitFor(kInfinite);
    }
    // One frame of the listed slides (or only of index `only`) at show time `t`, with the
    // loader's lists taken first.
    TRef<TBitmap> DrawFrame(double t, std::int32_t only = INT32_MIN) {
        if (queue) queue->ProcessAll();
        return TDrawerFixture::DrawFrame(0xFF000000, [&](TDeviceDrawer& d) {
            for (int i = 0; i < list.count; ++i)
                if (TKivSlide* slide = list[i]->Slide(); slide && (only == INT32_MIN || list[i]->Index() == only)) {
                    AdvanceContainer(*list[i], t);
                    d.Draw(*slide);
                }
        });
    }
    std::vector<std::int32_t> Indexes() const {
        std::vector<std::int32_t> indexes;
        for (int i = 0; i < list.count; ++i)
            indexes.push_back(list[i]->Index());
        return indexes;
    }

    TRef<TThreadEventList> queue;
    TRef<TKivSlideLoader> loader;
    TSlideList list;
};

TEST_F(SlideLoaderDraw, ASlowPictureDoesNotBlockAFrameDrawnMeanwhile) {
    TPictureMaker maker;
    maker.width = 1600;
    maker.height = 900;
    maker.argb = 0xFF2080C0u;
    maker.holdInDecode = true; // the delay sits inside the upload's decoding of the picture
    maker.Hold("pic2.png");
    TTestShow show(Spec(6), maker);
    StartLoader(*show.source);

    // The loader is held inside slide 1's preload; slides -1 and 0 are listed and this thread
    // goes on drawing frames with them.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while ((Indexes() != std::vector<std::int32_t>{-1, 0} || !maker.WaitUntilHolding(0)) &&
           std::chrono::steady_clock::now() < deadline)
        DrawFrame(2000);
    ASSERT_EQ(Indexes(), (std::vector<std::int32_t>{-1, 0}));
    ASSERT_TRUE(maker.WaitUntilHolding(0));
    TRef<TBitmap> frame;
    for (int i = 0; i < 10; ++i)
        frame = DrawFrame(2000);
    ASSERT_TRUE(frame);
    // Slide 0's picture is on the frame (its colour at the centre).
    EXPECT_EQ(Pixel(*frame, kWidth / 2, kHeight / 2) & 0xFFFFFFu, 0x2080C0u);

    // Let the picture go: the loader finishes slide 1 and the frames go on.
    maker.ReleaseAll();
    while (Indexes() != std::vector<std::int32_t>{-1, 0, 1} && std::chrono::steady_clock::now() < deadline)
        DrawFrame(2000);
    ASSERT_EQ(Indexes(), (std::vector<std::int32_t>{-1, 0, 1}));
    frame = DrawFrame(6000, 1); // slide 1 alone
    ASSERT_TRUE(frame);
    EXPECT_EQ(Pixel(*frame, kWidth / 2, kHeight / 2) & 0xFFFFFFu, 0x2080C0u);
}

} // namespace
} // namespace kiv
