#include "render/RenderFixture.h"

#include "images/PngWriter.h"

#include <epoxy/gl.h>

#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace kiv::test {

void TRenderFixture::SetUp() {
    app = new TZkApplication;
    app->Prepare();
    engine = TRef<T3DEngineGL>::Adopt(new T3DEngineGL);
    T3DEngineGL::SetAnisotropyEnabled(false);
    engine->SetHeadlessMonitor({0, 0, 1920, 1080}, 60);
    device = MakeDevice(kWidth, kHeight);
    renderer = MakeRenderer(device.Get());
    ASSERT_TRUE(renderer) << "a headless GL 3.3 context";
    ASSERT_EQ(renderer->State, kStateReady);
    ASSERT_TRUE(renderer->BeginScene());
}

void TRenderFixture::TearDown() {
    renderer.Reset();
    if (device) device->Destroy();
    device.Reset();
    engine.Reset();
    if (!app->Finalised()) app->Finalise();
    app->Release();
}

void TDrawerFixture::SetUp() {
    TRenderFixture::SetUp();
    if (HasFatalFailure()) return;
    renderer.Reset(); // the drawer's screen makes its own
    TRef<T3DEngine> e = engine;
    T3DEngine::SetFactory([e] { return e; });
    drawer = MakeRef<T3DDrawer>();
    drawer->Init(device.Get());
    drawer->SetCaptureSize({kWidth, kHeight});
}

void TDrawerFixture::TearDown() {
    drawer.Reset();
    T3DEngine::SetFactory(nullptr);
    T3DEngine::Shutdown();
    TRenderFixture::TearDown();
}

TRef<TBitmap> TDrawerFixture::DrawFrame(std::uint32_t background, const std::function<void(TDeviceDrawer&)>& body) {
    auto root = MakeRef<TFnItem>([&](TDeviceDrawer& d) {
        drawer->Clear(background, false);
        body(d);
    });
    EXPECT_TRUE(drawer->Draw(*root));
    TRef<TBitmap> frame = drawer->GrabImage();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "the drawing context";
    return frame;
}

TRef<TDrawDevice> TRenderFixture::MakeDevice(int width, int height) {
    auto d = MakeRef<TDrawDevice>();
    d->SetBounds({0, 0, width, height}, {0, 0}, false);
    return d;
}

TRef<T3DRenderer> TRenderFixture::MakeRenderer(TDrawDevice* d) {
    TRendererParams params;
    engine->GetAdapterInfo(0, params);
    return engine->CreateRenderer(d, params);
}

TRef<T3DTexture> TRenderFixture::Upload(T3DRenderer& r, TBitmap& picture, int kind) {
    auto texture = r.CreateTexture(kind, picture.Width(), picture.Height(), false);
    if (!texture) return texture;
    T3DSurface* surface = texture->GetSurface(0);
    TRef<TBitmap> locked = surface->Lock({0, 0, picture.Width(), picture.Height()}, false);
    for (int y = 0; y < picture.Height(); ++y)
        std::memcpy(locked->Row(y), picture.Row(y), picture.RowBytes());
    surface->Unlock(locked.Get());
    texture->SetAddressing(kAddressClamp, kAddressClamp);
    texture->SetFilter(kFilterPoint);
    return texture;
}

void TRenderFixture::DrawRect(T3DRenderer& r, T3DTexture* texture, const TRect& rect, std::uint32_t color,
                              unsigned flags) {
    const TPoint size = r.BackBufferSize();
    T3DSurface* target = r.GetRenderTarget();
    const TPoint t = target ? target->GetSize() : size;
    auto X = [&](int x) { return x * 2.0f / t.x - 1; };
    auto Y = [&](int y) { return 1 - y * 2.0f / t.y; };
    TSourceVertex v[4];
    const float xs[4] = {X(rect.left), X(rect.right), X(rect.left), X(rect.right)};
    const float ys[4] = {Y(rect.top), Y(rect.top), Y(rect.bottom), Y(rect.bottom)};
    const float us[4] = {0, 1, 0, 1};
    const float vs[4] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
        v[i].x = xs[i];
        v[i].y = ys[i];
        v[i].tex[0] = {us[i], vs[i]};
        v[i].color = color;
    }
    auto list = r.CreateVertexList(4, kVertexDiffuse, 1);
    ASSERT_TRUE(list);
    ASSERT_TRUE(list->Fill(0, v, 4, 0));
    list->SetRange(0, 2, kPrimTriangleStrip);
    ASSERT_TRUE(r.SetCullNone(true));
    std::vector<T3DTexture*> textures;
    if (texture) textures.push_back(texture);
    ASSERT_TRUE(r.DrawVertexList(textures, list.Get(), flags));
}

TRef<TBitmap> TRenderFixture::Frame(T3DRenderer& r) {
    T3DSurface* back = nullptr;
    EXPECT_TRUE(r.GetBackBuffer(back));
    const TPoint size = back->GetSize();
    auto bitmap = MakeRef<TBitmap>(size.x, size.y, TPixelFormat::Bgra32);
    EXPECT_TRUE(back->CopyTo(*bitmap));
    return bitmap;
}

std::uint32_t TRenderFixture::Pixel(const TBitmap& b, int x, int y) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.Row(y) + x * 4, 4);
    return v;
}

int TRenderFixture::LoopEndingEvent() {
    loopEnd_.app = app;
    const int done = TCustomEventList::NewEventNumber();
    app->Subscribe(done, MakeEventHandler<&TLoopEnd::OnDone>(&loopEnd_));
    return done;
}

void TRenderFixture::WritePng(const TBitmap& b, const std::string& path) {
    ASSERT_TRUE(WritePngFile(b, path)) << path;
}

std::thread StartNamedThread(const char* name, std::function<void()> body) {
    return std::thread([name, body = std::move(body)] {
        ::pthread_setname_np(::pthread_self(), name);
        body();
    });
}

} // namespace kiv::test
