#include "render/Screen.h"

#include "base/Assert.h"
#include "base/Log.h"
#include "render/DevStore.h"
#include "render/DeviceLock.h"
#include "render/DrawDevice.h"
#include "render/Engine.h"

#include <algorithm>
#include <cmath>

namespace kiv {

// Parked on the draw device: when the device releases it, the screen loses its device pointer.
class TDeviceKilledMessenger : public TRefObject {
public:
    explicit TDeviceKilledMessenger(T3DScreen* screen) : screen(screen) {}
    T3DScreen* screen;

protected:
    ~TDeviceKilledMessenger() override {
        if (screen) screen->DeviceGone();
    }
};

TScreenResource::TScreenResource(T3DScreen* screen) : screen_(screen) {
    if (screen_) screen_->Register(this);
}

TScreenResource::~TScreenResource() {
    if (screen_) screen_->Unregister(this);
}

// ---- the batch

void TVertexBuffer::ReleaseDevice() {
    list_.Reset();
    listCapacity_ = 0;
    vertices_.clear();
    textures_.clear();
}

void TVertexBuffer::Reserve(int capacity, int sets) {
    Flush();
    limit_ = capacity;
    sets_ = sets;
    if (list_ && listCapacity_ >= capacity && listSets_ >= sets) return;
    list_.Reset();
    listCapacity_ = 0;
}

void TVertexBuffer::Begin(const std::vector<TCustomTexture*>& textures, int count) {
    Flush();
    KIV_ASSERT(count <= kMaxTextures && count <= static_cast<int>(textures.size()),
               "too many batch textures");
    textures_.assign(textures.begin(), textures.begin() + count);
}

void TVertexBuffer::AddTriangle(const std::array<TPoint3, 3>& points,
                                const std::array<std::uint32_t, 3>& colors,
                                const std::vector<std::array<std::array<double, 2>, 3>>& texels) {
    T3DScreen* screen = Screen();
    if (!screen) return;
    KIV_ASSERT(texels.size() >= textures_.size(), "texture coordinates do not match the batch");
    if (Pending() >= limit_) {
        KIV_ASSERT(textures_.size() <= 1, "batch overflow with more than one texture");
        auto textures = textures_;
        Flush();
        textures_ = textures;
    }
    const bool premultiply = !textures_.empty() && textures_[0] && textures_[0]->Premultiplied();
    for (int i = 0; i < 3; ++i) {
        TSourceVertex v;
        if (!screen->ToDevice(points[static_cast<std::size_t>(i)], v.x, v.y, v.z)) return;
        std::uint32_t c = colors[static_cast<std::size_t>(i)];
        if (premultiply) {
            const std::uint32_t a = c >> 24;
            auto pre = [&](int shift) {
                return static_cast<std::uint32_t>(std::nearbyint(((c >> shift) & 0xFF) * a / 255.0)) << shift;
            };
            c = (a << 24) | pre(16) | pre(8) | pre(0);
        }
        v.color = c;
        for (std::size_t t = 0; t < textures_.size() && t < 8; ++t) {
            const auto& uv = texels[t][static_cast<std::size_t>(i)];
            v.tex[t] = {static_cast<float>(uv[0] * textures_[t]->InvTexWidth()),
                        static_cast<float>(uv[1] * textures_[t]->InvTexHeight())};
        }
        vertices_.push_back(v);
    }
}

void TVertexBuffer::Flush() {
    T3DScreen* screen = Screen();
    if (vertices_.empty() || !screen || !screen->Ready()) {
        vertices_.clear();
        textures_.clear();
        return;
    }
    T3DRenderer* r = screen->Renderer();
    const int sets = std::max<int>(sets_, static_cast<int>(textures_.size()));
    // A list with more coordinate sets serves batches with fewer: video (three planes) between
    // pictures makes no new list every frame.
    if (!list_ || listCapacity_ < limit_ || listSets_ < sets) {
        const int capacity = std::max(limit_, Pending());
        const int keep = list_ ? std::max(sets, listSets_) : sets;
        list_ = r->CreateVertexList(capacity * 3, kVertexDiffuse, keep);
        listCapacity_ = list_ ? capacity : 0;
        listSets_ = keep;
        if (list_) list_->OnKilled = [this] { ReleaseDevice(); };
    }
    if (list_ && static_cast<int>(vertices_.size()) <= listCapacity_ * 3) {
        list_->Fill(0, vertices_.data(), static_cast<int>(vertices_.size()), 0);
        list_->SetRange(0, Pending(), kPrimTriangles);
        std::vector<T3DTexture*> textures;
        bool premultiplied = false;
        for (TCustomTexture* t : textures_) {
            T3DTexture* device = t ? t->Realize() : nullptr;
            if (!device) continue;
            device->SetAddressing(kAddressClamp, kAddressClamp);
            device->SetFilter(t->PointFilter ? kFilterPoint : kFilterLinear);
            device->SetMipmapped(t->Mipmapped());
            device->SetLodBias(t->LodBias);
            premultiplied = premultiplied || t->Premultiplied();
            textures.push_back(device);
        }
        unsigned flags = kDrawTextured;
        if (textures.empty())
            flags = kDrawVertexColors | kDrawTextureAlpha;
        else if (Forced || premultiplied)
            flags = kDrawTextured | kDrawVertexColors | kDrawTextureAlpha;
        else if (textures.size() == 1)
            flags = kDrawTextured | kDrawTextureAlpha;
        if (list_) r->DrawVertexList(textures, list_.Get(), flags);
    }
    vertices_.clear();
    textures_.clear();
}

// ---- the screen

T3DScreen::T3DScreen() {
    batch_ = MakeRef<TVertexBuffer>(this);
}

T3DScreen::~T3DScreen() {
    if (messenger_) {
        messenger_->screen = nullptr;
        if (device_) device_->Detach(messenger_);
    }
    renderer_.Reset();
    batch_.Reset();
    targetStack_.clear();
    for (TScreenResource* r : resources_)
        r->ForgetScreen();
    resources_.clear();
}

void T3DScreen::Unregister(TScreenResource* resource) {
    std::erase(resources_, resource);
}

void T3DScreen::DeviceGone() {
    messenger_ = nullptr;
    device_ = nullptr;
    KillRenderer();
}

TRect T3DScreen::ComputeRect(TDrawDevice* device) const {
    if (!device->FullScreen()) return device->Bounds();
    T3DEngine* engine = T3DEngine::Get();
    TRendererParams info;
    if (engine && engine->GetAdapterInfo(engine->AdapterForRect(device->DesktopRect()), info))
        return info.Rect;
    return device->Bounds();
}

void T3DScreen::SetDevice(TDrawDevice* device) {
    KIV_ASSERT(device != nullptr, "DrawDevice=nil");
    const TRect rect = ComputeRect(device);
    if (device == device_ && device->FullScreen() == fullScreen_ && rect.SameAs(deviceRect_) && renderer_)
        return;
    if (device != device_) {
        if (messenger_) {
            messenger_->screen = nullptr;
            if (device_) device_->Detach(messenger_);
        }
        auto messenger = MakeRef<TDeviceKilledMessenger>(this);
        messenger_ = messenger.Get();
        device->Attach(std::move(messenger));
    }
    if (device != device_ || fullScreen_ || device->FullScreen()) ReleaseResources();
    deviceRect_ = rect;
    device_ = device;
    fullScreen_ = device->FullScreen();
    handle_ = device->Handle();
    CreateRenderer();
}

void T3DScreen::CreateRenderer() {
    KillRenderer();
    if (!device_) {
        TLog::Line("No window to draw");
        return;
    }
    T3DEngine* engine = T3DEngine::Get();
    if (!engine || !engine->IsDeviceUsable()) {
        TLog::Line("Can't init");
        return;
    }
    TRendererParams info;
    const int adapter = engine->AdapterForRect(device_->DesktopRect());
    if (!engine->GetAdapterInfo(adapter, info)) {
        TLog::Line("Can't GetDisplayMode");
        return;
    }
    info.Adapter = adapter;
    if (adapter_ >= 0 && adapter != adapter_) {
        // Another display: the window's device goes the way of a lost one (store destroyed, every
        // resource killed, all rebuilt on the next use).
        if (auto* store = device_->Find<TDevStore>()) {
            TLog::Line("Display changed: " + std::to_string(adapter_) + " -> " + std::to_string(adapter));
            device_->Detach(store);
        }
    }
    adapter_ = adapter;
    // Threads that preload read only the readiness flag: it falls before the renderer changes.
    ready_ = false;
    renderer_ = engine->CreateRenderer(device_, info);
    if (renderer_) renderer_->OnKilled = [this] { KillRenderer(); };
}

void T3DScreen::KillRenderer() {
    TRef<T3DRenderer> gone = std::move(renderer_);
    renderer_.Reset();
    ready_ = false;
    targetStack_.clear();
    if (gone) gone->OnKilled = nullptr;
    if (OnLost) OnLost();
}

void T3DScreen::ReleaseResources() {
    for (TScreenResource* r : std::vector<TScreenResource*>(resources_))
        r->ReleaseDevice();
}

bool T3DScreen::BeginScene() {
    if (device_) {
        const TRect rect = ComputeRect(device_);
        // A window moved onto another display counts as changed too.
        T3DEngine* engine = T3DEngine::Get();
        const int adapter = engine ? engine->AdapterForRect(device_->DesktopRect()) : adapter_;
        const bool changed = !renderer_ || !rect.SameAs(deviceRect_) || device_->Handle() != handle_ ||
                             device_->FullScreen() != fullScreen_ || (adapter_ >= 0 && adapter != adapter_);
        if (changed) {
            TLog::Line("T3DScreen.BeginScene, R= " + RectText(rect));
            if (fullScreen_ || device_->FullScreen()) ReleaseResources();
            deviceRect_ = rect;
            handle_ = device_->Handle();
            fullScreen_ = device_->FullScreen();
            CreateRenderer();
        }
    }
    bool ready = false;
    {
        // The main thread finishes a pending renderer under the device lock.
        TDeviceLockGuard guard;
        ready = renderer_ && renderer_->State != kStatePending;
    }
    if (ready && !ready_)
        for (TScreenResource* r : std::vector<TScreenResource*>(resources_))
            if (auto* shader = dynamic_cast<TShader*>(r)) shader->Recreate();
    ready_ = ready;
    if (!ready) return false;
    const int w = deviceRect_.Width(), h = deviceRect_.Height();
    // Any renderer call may meet a lost device, which drops the renderer (KillRenderer).
    TRef<T3DRenderer> r = renderer_;
    auto lost = [&] { return renderer_ != r; };
    r->SetCullNone(true);
    if (lost()) return false;
    batch_->Reserve(32, 2);
    invWidth_ = w > 0 ? 1.0 / w : 0;
    invHeight_ = h > 0 ? 1.0 / h : 0;
    if (targetStack_.empty()) {
        targetStack_.push_back({{0, 0}, ShareRef(r->GetRenderTarget()), nullptr});
        targetOrigin_ = {0, 0};
        Camera(w / ScaleX, h / ScaleY, w, h, ShiftX, ShiftY);
        viewport_ = {0, 0, w, h};
    }
    clipRect_ = {0, 0, w, h};
    if (!r->BeginScene() || lost()) return false;
    // The renderer's BeginScene binds its current target with its whole size; keep ours.
    r->SetViewport(viewport_, 0, 1);
    return !lost();
}

bool T3DScreen::EndScene(bool present) {
    if (!ready_ || !renderer_) return false;
    batch_->Flush();
    TRef<T3DRenderer> r = renderer_;
    if (!r->EndScene() || renderer_ != r) return false;
    if (present) Present();
    return true;
}

void T3DScreen::Present() {
    if (!ready_ || !renderer_) return;
    TRef<T3DRenderer> r = renderer_;
    const TRect rect{0, 0, deviceRect_.Width(), deviceRect_.Height()};
    r->Present(&rect, &rect, 1);
}

void T3DScreen::Clear(std::uint32_t color, bool withDepth) {
    if (!ready_ || !renderer_) return;
    batch_->Flush();
    renderer_->Clear(nullptr, 0, kClearTarget | (withDepth ? kClearDepth : 0u), color, 0);
}

void T3DScreen::FillRect(std::uint32_t color, const TRect& rect) {
    if (!ready_ || !renderer_) return;
    batch_->Flush();
    const TRect r = rect.Moved(-targetOrigin_.x, -targetOrigin_.y);
    renderer_->Clear(&r, 1, kClearTarget, color, 0);
}

TRect T3DScreen::GetTargetRect() const {
    if (targetStack_.size() > 1 && targetStack_.back().surface) {
        const TPoint size = targetStack_.back().surface->GetSize();
        return {targetOrigin_.x, targetOrigin_.y, targetOrigin_.x + size.x, targetOrigin_.y + size.y};
    }
    return {0, 0, deviceRect_.Width(), deviceRect_.Height()};
}

void T3DScreen::TargetChanged() {
    if (!renderer_) return; // the target change met a lost device
    const TRect r = GetTargetRect().Moved(-targetOrigin_.x, -targetOrigin_.y);
    const int w = deviceRect_.Width(), h = deviceRect_.Height();
    clipRect_ = {0, 0, w, h};
    viewport_ = r;
    renderer_->SetViewport(r, 0, 1);
    invWidth_ = w > 0 ? 1.0 / w : 0;
    invHeight_ = h > 0 ? 1.0 / h : 0;
    Camera(w, h, r.Width(), r.Height(), targetOrigin_.x, targetOrigin_.y);
}

void T3DScreen::PushTarget(TCustomTexture* texture, int x, int y) {
    if (!ready_ || !renderer_) return;
    batch_->Flush();
    T3DTexture* device = texture ? texture->Realize() : nullptr;
    T3DSurface* surface = device ? device->GetSurface(0) : nullptr;
    if (!surface) return;
    if (targetStack_.empty())
        targetStack_.push_back({{0, 0}, ShareRef(renderer_->GetRenderTarget()), nullptr});
    targetOrigin_ = {x, y};
    targetStack_.push_back({targetOrigin_, ShareRef(surface), texture});
    renderer_->SetRenderTarget(surface);
    TargetChanged();
}

void T3DScreen::PopTarget() {
    if (!ready_ || !renderer_) return;
    batch_->Flush();
    if (targetStack_.size() <= 1) return;
    targetStack_.pop_back();
    const TTargetWrapper& top = targetStack_.back();
    renderer_->SetRenderTarget(top.surface.Get());
    targetOrigin_ = top.origin;
    TargetChanged();
}

void T3DScreen::SetViewport(const TRect& rect) {
    viewport_ = rect;
    if (ready_ && renderer_) renderer_->SetViewport(rect, 0, 1);
}

T3DScreen::TState T3DScreen::SaveState() const {
    return {viewport_, clipRect_, invWidth_, invHeight_, areaW_, areaH_, viewW_, viewH_, originX_, originY_};
}

void T3DScreen::RestoreState(const TState& state) {
    batch_->Flush();
    SetViewport(state.viewport);
    clipRect_ = state.clipRect;
    invWidth_ = state.invWidth;
    invHeight_ = state.invHeight;
    Camera(state.areaW, state.areaH, state.viewW, state.viewH, state.originX, state.originY);
}

bool T3DScreen::ToDevice(const TPoint3& p, float& x, float& y, float& z) const {
    if (clipRect_.IsEmpty()) return false;
    x = static_cast<float>((p.x - clipRect_.left) * 2 * invWidth_ - 1);
    y = static_cast<float>(1 - (p.y - clipRect_.top) * 2 * invHeight_);
    z = static_cast<float>(p.z * invHeight_);
    return true;
}

void T3DScreen::Camera(double areaW, double areaH, double viewW, double viewH, double originX,
                       double originY) {
    if (areaW <= 0 || areaH <= 0 || viewW <= 0 || viewH <= 0) return;
    float cx = 0, cy = 0;
    if (renderer_) renderer_->GetPixelCenter(cx, cy);
    TMatrix world = TMatrix::Identity();
    world.At(3, 1) = world.At(4, 1) = static_cast<float>(-2 * cx * invWidth_);
    world.At(3, 2) = world.At(4, 2) = static_cast<float>(2 * cy * invHeight_);
    world.At(4, 3) = 1;
    TMatrix view = TMatrix::Identity();
    view.At(3, 1) = static_cast<float>(1 - (viewW + 2 * originX) / areaW);
    view.At(3, 2) = static_cast<float>((viewH + 2 * originY) / areaH - 1);
    const double nearZ = 0.01, farZ = 1000000;
    TMatrix projection;
    projection.At(1, 1) = static_cast<float>(areaW / viewW);
    projection.At(2, 2) = static_cast<float>(areaH / viewH);
    projection.At(3, 3) = static_cast<float>(farZ / (farZ - nearZ));
    projection.At(3, 4) = 1;
    projection.At(4, 3) = static_cast<float>(-nearZ * farZ / (farZ - nearZ));
    if (renderer_) {
        renderer_->SetTransform(kTransformWorld, world);
        renderer_->SetTransform(kTransformView, view);
        renderer_->SetTransform(kTransformProjection, projection);
    }
    ShiftX = originX;
    ShiftY = originY;
    ScaleX = viewW / areaW;
    ScaleY = viewH / areaH;
    areaW_ = areaW;
    areaH_ = areaH;
    viewW_ = viewW;
    viewH_ = viewH;
    originX_ = originX;
    originY_ = originY;
}

void T3DScreen::Project(const TPoint3& p, double& x, double& y) const {
    // The camera's transforms in double precision, without the half-pixel term (0 here).
    const double X = (p.x - clipRect_.left) * 2 * invWidth_ - 1;
    const double Y = 1 - (p.y - clipRect_.top) * 2 * invHeight_;
    const double Z = p.z * invHeight_ + 1;
    const double xs = (X + Z * (1 - (viewW_ + 2 * originX_) / areaW_)) * areaW_ / viewW_ / Z;
    const double ys = (Y + Z * ((viewH_ + 2 * originY_) / areaH_ - 1)) * areaH_ / viewH_ / Z;
    x = originX_ + (xs + 1) / 2 * viewW_;
    y = originY_ + (1 - ys) / 2 * viewH_;
}

void T3DScreen::DrawTarget(TCustomTexture* texture) {
    if (!ready_ || !renderer_ || !texture || texture->Opacity == 0) return;
    const double w = deviceRect_.Width(), h = deviceRect_.Height();
    const std::uint32_t c = (std::uint32_t{texture->Opacity} << 24) | 0xFFFFFF;
    batch_->Begin({texture}, 1);
    batch_->AddTriangle({TPoint3{0, 0, 0}, TPoint3{w, 0, 0}, TPoint3{0, h, 0}}, {c, c, c},
                        {{{{0, 0}, {w, 0}, {0, h}}}});
    batch_->AddTriangle({TPoint3{0, h, 0}, TPoint3{w, 0, 0}, TPoint3{w, h, 0}}, {c, c, c},
                        {{{{0, h}, {w, 0}, {w, h}}}});
    batch_->Flush();
}

} // namespace kiv
