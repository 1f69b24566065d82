#include "render/Drawer.h"

#include "base/Assert.h"
#include "base/Log.h"
#include "images/Image.h"
#include "objects/ColorTable.h"
#include "render/ColorTables.h"
#include "render/DeviceLock.h"
#include "render/Engine.h"
#include "render/ShaderCatalog.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

// The drawer's own off-screen layer: a render target lent by the full-size pool.
class TLayerTarget {
public:
    TRef<TRenderTargetTexture> texture;
};

namespace {

std::mutex& DrawerLock() {
    static std::mutex lock;
    return lock;
}

// Vertex alpha of an opacity in percent; NaN and negative give 0.
std::uint32_t OpacityAlpha(double opacity) {
    if (!(opacity > 0)) return 0;
    return static_cast<std::uint32_t>(std::clamp(std::lround(opacity * 2.55), 0L, 255L));
}

std::uint32_t WithAlpha(std::uint32_t color, std::uint32_t alpha) {
    return (alpha << 24) | (color & 0xFFFFFF);
}

std::uint32_t Average(std::uint32_t a, std::uint32_t b) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8)
        out |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) / 2) << shift;
    return out;
}

} // namespace

TBlurWeights BlurWeights(double strength) {
    const double e = std::clamp(std::isfinite(strength) ? strength : 0.0, 0.0, 1.0);
    return {static_cast<float>(0.065722 * e), static_cast<float>(0.108356 * e),
            static_cast<float>(0.17865 * e), static_cast<float>(0.294544 * e + (1 - e))};
}

TBlurPlan PlanBlur(double g) {
    TBlurPlan plan;
    if (!std::isfinite(g) || g < 0.00001) return plan; // nothing to blur
    if (g < 1) {
        plan.mixFactor = (g - 0.00001) / 0.99999;
        return plan;
    }
    if (g > 7) {
        const double l = std::log2(g / 7);
        plan.fullPasses = static_cast<int>(std::ceil(l));
        plan.finalStrength = l - plan.fullPasses + 1;
    } else {
        plan.fullPasses = 0;
        plan.finalStrength = g > 1 ? (g - 1) / 6 : 0;
    }
    return plan;
}

std::recursive_mutex& T3DDrawer::FrameLock() {
    static std::recursive_mutex lock;
    return lock;
}

T3DDrawer::T3DDrawer() : screen_(MakeRef<T3DScreen>()) {}

T3DDrawer::~T3DDrawer() {
    Destroy();
}

void T3DDrawer::Destroy() {
    std::lock_guard lock(DrawerLock());
    for (T3DYUV* video : videos_)
        video->Abandon();
    videos_.clear();
    yuvTable_.Reset();
    shaders_.clear();
    shaderStack_.clear();
    grading_.clear();
    layers_.clear();
    sharpenTarget_.Reset();
    effecter_.Reset();
    fullPool_.Clear();
    halfPool_.Clear();
    tileManager_.Reset();
    boxAntialiaser_.Reset();
    screen_.Reset();
}

void T3DDrawer::Init(TDrawDevice* device) {
    std::lock_guard lock(DrawerLock());
    if (!screen_) return;
    screen_->SetDevice(device);
    for (std::string_view name : kDrawerShaderNames) {
        auto& shader = shaders_[std::string(name)];
        if (!shader) shader = MakeRef<TShader>(screen_.Get(), DrawerShaderSource(name), false);
    }
}

void T3DDrawer::Close() {
    std::lock_guard lock(DrawerLock());
    TLog::Line("T3DDrawer.Close");
    if (screen_) screen_->KillRenderer();
}

bool T3DDrawer::IsReady() const {
    // Ready implies a renderer; the renderer itself changes on the drawing thread only, so threads
    // that preload must not look at it.
    return screen_ && screen_->Ready();
}

int T3DDrawer::ShaderLevel() const {
    if (ForcedShaderLevel >= 0) return ForcedShaderLevel;
    T3DEngine* engine = T3DEngine::Get();
    if (!engine || !screen_) return 0;
    return engine->ShaderLevel(engine->AdapterForRect(screen_->DeviceRect()));
}

bool T3DDrawer::BeginFrame() {
    if (!screen_ || !screen_->Device()) return false;
    const bool began = screen_->BeginScene();
    const int w = screen_->DeviceRect().Width(), h = screen_->DeviceRect().Height();
    frameRect_ = {0, 0, w, h};
    eye_ = {w / 2.0, h / 2.0, -static_cast<double>(h)};
    fullPool_.SetSize(w, h);
    halfPool_.SetSize(w / 2, h / 2);
    if (!effecter_) effecter_ = MakeRef<TCustomD3DEffecter>(screen_.Get(), &fullPool_);
    if (!(effecter_->Area() == frameRect_)) effecter_->SetArea(frameRect_);
    if (!began) return false;
    // Shaders lost with an earlier device come back at the first scene on a ready renderer.
    for (auto& [name, shader] : shaders_)
        if (!shader->DeviceShader()) shader->Recreate();
    shaderStack_.clear();
    layerPushes_.clear();
    FreeGoneGradings();
    drawRect_ = slideRect_.IsEmpty() ? frameRect_ : slideRect_;
    if (captureMode_) SetCaptureSize(captureSize_);
    effecter_->SetClip(drawRect_);
    return true;
}

bool T3DDrawer::EndFrame() {
    if (!screen_) return false;
    while (!shaderStack_.empty())
        PopShader();
    // The frame is shown after the frame lock is let go (Draw): the pacing wait and the swap
    // leave the lock to other threads' upload slices.
    presentDue_ = screen_->EndScene(false) && !captureMode_;
    return IsReady();
}

void T3DDrawer::SetCaptureSize(TPoint size) {
    captureMode_ = true;
    captureSize_ = size;
    const TRect base = slideRect_.IsEmpty() ? frameRect_ : slideRect_;
    const int left = base.left + static_cast<int>(std::lround((base.Width() - size.x) / 2.0));
    const int top = base.top + static_cast<int>(std::lround((base.Height() - size.y) / 2.0));
    drawRect_ = {left, top, left + size.x, top + size.y};
}

void T3DDrawer::ResetStates() {
    if (IsReady()) screen_->Renderer()->ResetStates();
}

void T3DDrawer::Clear(std::uint32_t color, bool withDepth) {
    if (IsReady()) screen_->Clear(color, withDepth);
}

void T3DDrawer::FillRect(std::uint32_t color, const TRect& rect) {
    if (IsReady()) screen_->FillRect(color, rect);
}

bool T3DDrawer::Draw(TDrawItem& item) {
    if (drawNesting_ > 0) {
        ++drawNesting_;
        if (IsReady()) {
            float b = item.GetBlur();
            if (!std::isfinite(b)) b = 0;
            const double r =
                designSize_.x > 0 && drawRect_.Width() > 0 ? designSize_.x / drawRect_.Width() : 1.0;
            if (inEffect_ || (b < 0.00001f && (b >= 0 || sharpenTarget_))) {
                item.Draw(*this);
            } else {
                inEffect_ = true;
                if (b > 0) {
                    Blur(item, b / 1000.0 * r);
                } else {
                    BeginSharpen();
                    item.Draw(*this);
                    EndSharpen(-b / 100.0 * r);
                }
                inEffect_ = false;
            }
        }
        --drawNesting_;
        return true;
    }
    // A top-level frame.
    bool result = false;
    presentDue_ = false;
    {
        LockCounted(FrameLock()); // an upload slice of another thread may hold it
        std::lock_guard lock(FrameLock(), std::adopt_lock);
        try {
            if (BeginFrame()) {
                ++drawNesting_;
                // The item itself may carry a blur: it is drawn like a nested item of the frame.
                Draw(item);
                --drawNesting_;
            }
            result = EndFrame();
        } catch (...) {
            drawNesting_ = 0;
            item.AfterDraw(*this);
            throw;
        }
        item.AfterDraw(*this);
    }
    if (presentDue_ && screen_) screen_->Present();
    presentDue_ = false;
    return result;
}

// ---- geometry

TPoint3 T3DDrawer::Place(TVec3 origin, TVec2 anchor, TVec3 axisX, TVec3 axisY, double sx, double sy) const {
    const TVec3 p = origin + axisX * (sx - anchor.x) + axisY * (sy - anchor.y);
    return {p.x + offset_.x, p.y + offset_.y, p.z};
}

void T3DDrawer::GrowDirtyBox(const std::array<TPoint3, 4>& corners) {
    if (!inEffect_ || !screen_) return;
    const double right = drawRect_.right, bottom = drawRect_.bottom;
    const double cx = eye_.x;
    const double cy = eye_.y;
    for (const TPoint3& c : corners) {
        double x = 0, y = 0;
        if (c.z <= eye_.z) {
            // At or behind the eye: the drawing rectangle's edge on the corner's side.
            x = c.x < cx ? drawRect_.left : right;
            y = c.y < cy ? drawRect_.top : bottom;
        } else {
            screen_->Project(c, x, y);
        }
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        if (dirtyLeft_ > dirtyRight_) {
            dirtyLeft_ = dirtyRight_ = x;
            dirtyTop_ = dirtyBottom_ = y;
        } else {
            dirtyLeft_ = std::min(dirtyLeft_, x);
            dirtyRight_ = std::max(dirtyRight_, x);
            dirtyTop_ = std::min(dirtyTop_, y);
            dirtyBottom_ = std::max(dirtyBottom_, y);
        }
    }
}

void T3DDrawer::PixelCamera() {
    const TRect target = screen_->GetTargetRect();
    screen_->Camera(frameRect_.Width(), frameRect_.Height(), target.Width(), target.Height(), target.left,
                    target.top);
}

void T3DDrawer::KeepCamera(const T3DScreen::TState& state, TCustomTexture* target) {
    if (!target || state.areaW <= 0 || frameRect_.IsEmpty()) return;
    // The saved camera shows its view over the frame; the target extends the frame to its own size.
    const TRect viewport = state.viewport;
    const double sx = viewport.Width() > 0 ? state.viewW / viewport.Width() : 1;
    const double sy = viewport.Height() > 0 ? state.viewH / viewport.Height() : 1;
    screen_->Camera(state.areaW, state.areaH, target->TexWidth() * sx, target->TexHeight() * sy,
                    state.originX - viewport.left * sx, state.originY - viewport.top * sy);
}

void T3DDrawer::DrawTextures(const std::vector<TCustomTexture*>& textures, const std::vector<TRectF>& sources,
                             const TRectF& dest, std::uint32_t color) {
    auto& batch = screen_->Batch();
    batch.Begin(textures, static_cast<int>(textures.size()));
    const TPoint3 tl{dest.left, dest.top, 0}, tr{dest.right, dest.top, 0}, bl{dest.left, dest.bottom, 0},
        br{dest.right, dest.bottom, 0};
    std::vector<std::array<std::array<double, 2>, 3>> t1, t2;
    for (const TRectF& s : sources) {
        t1.push_back({{{s.left, s.top}, {s.right, s.top}, {s.left, s.bottom}}});
        t2.push_back({{{s.left, s.bottom}, {s.right, s.top}, {s.right, s.bottom}}});
    }
    batch.AddTriangle({tl, tr, bl}, {color, color, color}, t1);
    batch.AddTriangle({bl, tr, br}, {color, color, color}, t2);
    batch.Flush();
}

// ---- shaders

void T3DDrawer::PushShader(const std::string& name) {
    if (!IsReady()) return;
    screen_->Batch().Flush();
    shaderStack_.push_back(name);
    ShaderLog.push_back(name);
    auto found = shaders_.find(name);
    T3DShader* shader = found != shaders_.end() ? found->second->DeviceShader() : nullptr;
    screen_->Renderer()->SetShader(shader);
}

void T3DDrawer::PopShader() {
    if (shaderStack_.empty()) return;
    if (IsReady()) screen_->Batch().Flush();
    shaderStack_.pop_back();
    if (!IsReady()) return;
    T3DShader* shader = nullptr;
    if (!shaderStack_.empty()) {
        auto found = shaders_.find(shaderStack_.back());
        if (found != shaders_.end()) shader = found->second->DeviceShader();
    }
    screen_->Renderer()->SetShader(shader);
}

void T3DDrawer::SetConstant(int reg, float x, float y, float z, float w) {
    if (!IsReady()) return;
    const float data[4] = {x, y, z, w};
    screen_->Renderer()->SetShaderConstants(reg, data, 1, false);
}

// ---- pictures

// Takes the drawer lock for the look-up and the insertion only: reading (perhaps decoding) the
// picture level and cutting it into tiles run unlocked, so that a frame never waits for them.
TRef<TMultiTexture6> T3DDrawer::PictureTexture(TImage& image, const TPictureDrawParams& params) {
    const int level = std::clamp(params.level, 0, 30);
    const std::string key =
        TTextureStore2::Key(level, params.patternA, params.patternB, params.premultiplied, params.pattern);
    TRef<TTextureStore2> store;
    T3DScreen* screen = nullptr;
    TRef<TTextureManager6> manager;
    {
        LockCounted(DrawerLock());
        std::lock_guard lock(DrawerLock(), std::adopt_lock);
        if (!screen_) return nullptr;
        screen = screen_.Get();
        if (!tileManager_) tileManager_ = MakeRef<TTextureManager6>(screen);
        manager = tileManager_;
        store = image.Attachments().Find<TTextureStore2>();
        if (!store) {
            store = MakeRef<TTextureStore2>();
            image.Attachments().Add(store);
        }
        if (TRef<TMultiTexture6> found = store->Find(key)) return found;
    }
    TRef<TBitmap> picture = image.Store().GetMipLevel(level, TPixelFormat::Bgra32);
    auto texture = MakeRef<TMultiTexture6>(manager, picture, params.premultiplied, params.pattern,
                                           params.patternA, params.patternB);
    LockCounted(DrawerLock());
    std::lock_guard lock(DrawerLock(), std::adopt_lock);
    if (screen_.Get() != screen) return nullptr; // the drawer let go of its screen meanwhile
    if (TRef<TMultiTexture6> found = store->Find(key)) return found; // another thread was first
    store->Add(key, texture);
    return texture;
}

void T3DDrawer::PreloadImage(TImage& image, const TPictureDrawParams& params) {
    TRef<TMultiTexture6> texture = PictureTexture(image, params);
    if (!texture) return;
    {
        LockCounted(DrawerLock());
        std::lock_guard lock(DrawerLock(), std::adopt_lock);
        texture->SetSampling(params.filtering == 0, true, params.lodBias);
        if (!IsReady()) return;
    }
    // Tile by tile, slice by slice: the drawer and device locks are held only around the GL calls
    // of one slice, so a frame drawn meanwhile never waits behind the whole picture. Slices also
    // hold the frame lock: they go between frames, and a frame waits for one slice at most.
    texture->PreloadSliced(&DrawerLock(), &FrameLock());
}

void T3DDrawer::ReleaseImage(TImage& image) {
    std::vector<TRef<TTextureStore2>> gone;
    {
        LockCounted(DrawerLock());
        std::lock_guard lock(DrawerLock(), std::adopt_lock);
        while (TRef<TTextureStore2> store = image.Attachments().Find<TTextureStore2>()) {
            image.Attachments().Remove(store.Get());
            gone.push_back(std::move(store));
        }
    }
    // The textures go here, outside the drawer lock: each holds the device lock for its own
    // release only.
    gone.clear();
}

TBaseTexture* T3DDrawer::GradingTexture(const TColorTable* table, int mode) {
    const int kind = mode == 1 ? 1 : 2;
    TGrading& entry = grading_[{table ? table->Identity() : nullptr, kind}];
    const bool same = entry.texture && (!table || entry.revision == table->Revision());
    if (!same) {
        entry.texture = MakeRef<TCustomColorGradeTexture>(screen_.Get(), kind);
        entry.identity = !table;
        if (table) {
            entry.life = table->Life();
            entry.revision = table->Revision();
            TRef<TBitmap> source;
            if (kind == 1 && table->Width() == TColorTable::kVolumeSide && table->Rows() == 1024) {
                source = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgra32);
                for (int y = 0; y < 1024; ++y)
                    std::memcpy(source->Row(y), table->Pixels().data() + static_cast<std::size_t>(y) * 32 * 4,
                                32 * 4);
            } else if (kind == 2 && table->Width() == TColorTable::kChannelWidth && table->Rows() >= 1) {
                source = MakeRef<TBitmap>(256, 16, TPixelFormat::Bgra32);
                for (int y = 0; y < 16; ++y)
                    std::memcpy(source->Row(y), table->Pixels().data(), 256 * 4);
            }
            if (source) entry.texture->SetSource(source); // any other size grades with the identity
        }
    }
    return entry.texture->Realize();
}

void T3DDrawer::FreeGoneGradings() {
    std::erase_if(grading_, [](const auto& entry) { return !entry.second.identity && entry.second.life.expired(); });
}

void T3DDrawer::DrawImage(TImage& image, TVec3 origin, const TPictureDrawParams& params, TVec3 axisX,
                          TVec3 axisY, TVec2 anchor) {
    if (!IsReady()) return;
    const std::uint32_t alpha = OpacityAlpha(params.opacity);
    if (alpha == 0) return;
    const std::uint32_t tintAlpha = params.tint >> 24;
    const std::uint32_t color = WithAlpha(params.tint, (alpha * tintAlpha + 127) / 255);
    const bool tinted = (params.tint & 0xFFFFFF) != 0xFFFFFF;
    const bool pointFilter = params.filtering == 0;

    // A device texture the picture carries itself is drawn as one tile.
    if (TRef<TCustomTexture> own = image.Attachments().Find<TCustomTexture>()) {
        own->PointFilter = pointFilter;
        own->Opacity = static_cast<std::uint8_t>(alpha);
        TRectF src = params.sourceRect;
        if (src.IsEmpty()) src = {0, 0, static_cast<float>(own->Width()), static_cast<float>(own->Height())};
        const std::array<TPoint3, 4> corners{Place(origin, anchor, axisX, axisY, src.left, src.top),
                                             Place(origin, anchor, axisX, axisY, src.right, src.top),
                                             Place(origin, anchor, axisX, axisY, src.left, src.bottom),
                                             Place(origin, anchor, axisX, axisY, src.right, src.bottom)};
        GrowDirtyBox(corners);
        const TTexelRect rect{src.left, src.top, src.right, src.bottom};
        screen_->DrawPerspectiveQuad({own.Get()}, {color, color, color, color}, rect, corners,
                                     params.edgeAntialias ? kEdgeLeft | kEdgeTop | kEdgeRight | kEdgeBottom
                                                          : 0);
        return;
    }

    TRef<TMultiTexture6> texture = PictureTexture(image, params); // the loader may be preloading it
    if (!texture || texture->Tiles().empty()) return;
    {
        LockCounted(DrawerLock());
        std::lock_guard lock(DrawerLock(), std::adopt_lock);
        texture->SetSampling(pointFilter, false, params.lodBias);
    }
    const int level = std::clamp(params.level, 0, 30);
    const double scale = std::ldexp(1.0, level);
    TRectF src = params.sourceRect;
    if (src.IsEmpty()) {
        src = {0, 0, static_cast<float>(texture->Width()), static_cast<float>(texture->Height())};
    } else {
        src = {static_cast<float>(src.left / scale), static_cast<float>(src.top / scale),
               static_cast<float>(src.right / scale), static_cast<float>(src.bottom / scale)};
        src.left = std::max(src.left, 0.0f);
        src.top = std::max(src.top, 0.0f);
        src.right = std::min(src.right, static_cast<float>(texture->Width()));
        src.bottom = std::min(src.bottom, static_cast<float>(texture->Height()));
        if (src.IsEmpty()) return;
    }

    // Texels are placed from the source rectangle's top-left corner, in full-size units.
    const double fromX = params.sourceRect.IsEmpty() ? 0.0 : params.sourceRect.left;
    const double fromY = params.sourceRect.IsEmpty() ? 0.0 : params.sourceRect.top;
    const auto at = [&](double x, double y) {
        return Place(origin, anchor, axisX, axisY, x * scale - fromX, y * scale - fromY);
    };
    GrowDirtyBox(
        {at(src.left, src.top), at(src.right, src.top), at(src.left, src.bottom), at(src.right, src.bottom)});

    const bool grading = params.gradingMode == 1 || params.gradingMode == 2;
    if (grading) {
        PushShader(params.gradingMode == 1 ? "color_grading" : "color_grade_linear");
        screen_->Renderer()->SetTexture(1, GradingTexture(params.gradingFrom, params.gradingMode));
        screen_->Renderer()->SetTexture(2, GradingTexture(params.gradingTo, params.gradingMode));
        SetConstant(0, std::clamp(params.gradingFactor, 0.0f, 1.0f));
    }
    const TPoint3 o = at(0, 0), ox = at(1, 0), oy = at(0, 1);
    texture->DrawPicture(*screen_, src, o, TVec3{ox.x - o.x, ox.y - o.y, ox.z - o.z},
                         TVec3{oy.x - o.x, oy.y - o.y, oy.z - o.z}, color,
                         params.edgeAntialias ? kEdgeLeft | kEdgeTop | kEdgeRight | kEdgeBottom : 0u, tinted);
    if (grading) {
        PopShader();
        screen_->Renderer()->SetTexture(1, nullptr);
        screen_->Renderer()->SetTexture(2, nullptr);
    }
}

// ---- video

TRef<T3DYUV> T3DDrawer::CreateVideoImage(int width, int height, bool hasAlpha) {
    if (!screen_ || width <= 0 || height <= 0) return nullptr;
    const bool grey = screen_->Renderer() && screen_->Renderer()->L8Supported;
    const T3DYUV::TMode mode = !hasAlpha && ShaderLevel() > 0 && grey ? T3DYUV::kModeYUV
                               : hasAlpha                             ? T3DYUV::kModeRGBA
                                                                      : T3DYUV::kModeRGB;
    auto video = MakeRef<T3DYUV>(this, screen_.Get(), width, height, hasAlpha, mode);
    std::lock_guard lock(DrawerLock());
    videos_.push_back(video.Get());
    return video;
}

void T3DDrawer::ForgetVideoImage(T3DYUV* video) {
    std::lock_guard lock(DrawerLock());
    videos_.erase(std::remove(videos_.begin(), videos_.end(), video), videos_.end());
}

void T3DDrawer::DrawVideo(T3DYUV& video, TVec3 origin, const TVideoDrawParams& params, TVec3 axisX,
                          TVec3 axisY, TVec2 anchor) {
    KIV_ASSERT(!params.sourceRect.IsEmpty(), "video drawn with an empty source rectangle");
    KIV_ASSERT(params.deinterlace >= 0 && params.deinterlace <= 2, "deinterlace mode out of range");
    if (!IsReady()) return;
    const std::uint32_t alpha = OpacityAlpha(params.opacity);
    if (alpha == 0) return;
    const std::uint32_t color = WithAlpha(0xFFFFFF, alpha);
    const TRectF& s = params.sourceRect;
    const std::array<TPoint3, 4> corners{Place(origin, anchor, axisX, axisY, s.left, s.top),
                                         Place(origin, anchor, axisX, axisY, s.right, s.top),
                                         Place(origin, anchor, axisX, axisY, s.left, s.bottom),
                                         Place(origin, anchor, axisX, axisY, s.right, s.bottom)};
    GrowDirtyBox(corners);
    const bool shaders = ShaderLevel() > 0;
    auto& batch = screen_->Batch();
    auto quad = [&](const std::vector<TCustomTexture*>& textures, const std::vector<TRectF>& sources) {
        batch.Begin(textures, static_cast<int>(textures.size()));
        std::vector<std::array<std::array<double, 2>, 3>> a, b;
        for (const TRectF& r : sources) {
            a.push_back({{{r.left, r.top}, {r.right, r.top}, {r.left, r.bottom}}});
            b.push_back({{{r.left, r.bottom}, {r.right, r.top}, {r.right, r.bottom}}});
        }
        batch.AddTriangle({corners[0], corners[1], corners[2]}, {color, color, color}, a);
        batch.AddTriangle({corners[2], corners[1], corners[3]}, {color, color, color}, b);
        batch.Flush();
    };
    const unsigned edges = params.edgeAntialias ? kEdgeLeft | kEdgeTop | kEdgeRight | kEdgeBottom : 0;
    auto single = [&](TCustomTexture* texture) {
        if (!texture) return;
        if (edges) {
            const TTexelRect rect{s.left, s.top, s.right, s.bottom};
            screen_->DrawPerspectiveQuad({texture}, {color, color, color, color}, rect, corners, edges);
        } else {
            quad({texture}, {s});
        }
    };
    if (video.Mode() == T3DYUV::kModeYUV && shaders) {
        static constexpr const char* kShaders[2][2] = {
            {"color_grade_video", "color_grade_deinter"},
            {"color_grade_chromakey", "color_grade_chroma_deinter"}};
        PushShader(kShaders[params.chromaKey ? 1 : 0][params.deinterlace > 0 ? 1 : 0]);
        if (!yuvTable_) {
            yuvTable_ = MakeRef<TCustomColorGradeTexture>(screen_.Get(), 1);
            yuvTable_->SetSource(MakeVideoColorTable(true));
        }
        TCustomColorGradeTexture* from = params.videoFrom ? params.videoFrom : yuvTable_.Get();
        TCustomColorGradeTexture* to = params.videoTo ? params.videoTo : from;
        TCustomTexture* y = video.Plane(T3DYUV::kPlaneY);
        SetConstant(0, std::clamp(params.gradingFactor, 0.0f, 1.0f));
        SetConstant(1, static_cast<float>(y->TexHeight()), static_cast<float>(y->InvTexHeight()));
        SetConstant(2, params.deinterlace == 2 ? 1.0f : 0.0f, params.deinterlace == 2 ? -1.0f : 0.0f);
        if (params.chromaKey) {
            const float t = params.keyThreshold;
            SetConstant(3, t, t > 0 ? 1 / t : 0);
            SetConstant(4, params.keyU, params.keyV);
        }
        screen_->Renderer()->SetTexture(3, from->Realize());
        screen_->Renderer()->SetTexture(4, to->Realize());
        const TRectF half{s.left * 0.5f, s.top * 0.5f, s.right * 0.5f, s.bottom * 0.5f};
        if (edges) {
            // The anti-aliased quad carries one coordinate set, scaled by each texture's size: the
            // half-size planes map the same picture area.
            const TTexelRect rect{s.left, s.top, s.right, s.bottom};
            screen_->DrawPerspectiveQuad({y, video.Plane(T3DYUV::kPlaneU), video.Plane(T3DYUV::kPlaneV)},
                                         {color, color, color, color}, rect, corners, edges);
        } else {
            quad({y, video.Plane(T3DYUV::kPlaneU), video.Plane(T3DYUV::kPlaneV)}, {s, half, half});
        }
        PopShader();
        screen_->Renderer()->SetTexture(3, nullptr);
        screen_->Renderer()->SetTexture(4, nullptr);
    } else if (video.Mode() == T3DYUV::kModeRGBA && shaders &&
               (params.gradingMode == 1 || params.gradingMode == 2)) {
        PushShader(params.gradingMode == 1 ? "color_grading" : "color_grade_linear");
        screen_->Renderer()->SetTexture(1, GradingTexture(params.gradingFrom, params.gradingMode));
        screen_->Renderer()->SetTexture(2, GradingTexture(params.gradingTo, params.gradingMode));
        SetConstant(0, std::clamp(params.gradingFactor, 0.0f, 1.0f));
        single(video.Plane(T3DYUV::kPlaneRGBA));
        PopShader();
        screen_->Renderer()->SetTexture(1, nullptr);
        screen_->Renderer()->SetTexture(2, nullptr);
    } else {
        single(video.Plane(video.Mode() == T3DYUV::kModeRGB ? T3DYUV::kPlaneRGB : T3DYUV::kPlaneRGBA));
    }
}

// ---- boxes

void T3DDrawer::DrawBox(TVec3 origin, TVec2 anchor, const TBoxParams& params, TVec3 axisX, TVec3 axisY) {
    KIV_ASSERT(params.fillStyle >= 0 && params.fillStyle <= 8, "box fill style out of range");
    if (!IsReady() || !(params.opacity > 0)) return;
    if (!std::isfinite(params.size.x) || !std::isfinite(params.size.y)) return;
    std::uint32_t c1 = params.color1, c2 = params.color2;
    if (params.opacity < 100) {
        auto scale = [&](std::uint32_t c) {
            const auto a = static_cast<std::uint32_t>(std::lround(params.opacity * (c >> 24) / 100.0));
            return WithAlpha(c, std::min<std::uint32_t>(a, 255));
        };
        c1 = scale(c1);
        c2 = scale(c2);
    }
    // Corners clockwise from the top-left.
    std::array<std::uint32_t, 4> clockwise{c1, c1, c1, c1};
    const int style = params.fillStyle;
    if (style <= 3) {
        const std::uint32_t mid = Average(c1, c2);
        clockwise = {mid, mid, mid, mid};
        clockwise[static_cast<std::size_t>(style)] =
            c1; // 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left
        clockwise[static_cast<std::size_t>((style + 2) % 4)] = c2;
    } else if (style <= 7) {
        // Colour 1 along the right (4), top (5), left (6) or bottom (7) side.
        switch (style) {
        case 4:
            clockwise = {c2, c1, c1, c2};
            break;
        case 5:
            clockwise = {c1, c1, c2, c2};
            break;
        case 6:
            clockwise = {c1, c2, c2, c1};
            break;
        default:
            clockwise = {c2, c2, c1, c1};
            break;
        }
    }
    const double w = params.size.x, h = params.size.y;
    const std::array<TPoint3, 4> corners{
        Place(origin, anchor, axisX, axisY, 0, 0), Place(origin, anchor, axisX, axisY, w, 0),
        Place(origin, anchor, axisX, axisY, 0, h), Place(origin, anchor, axisX, axisY, w, h)};
    GrowDirtyBox(corners);
    // DrawQuad order: top-left, top-right, bottom-left, bottom-right.
    const std::array<std::uint32_t, 4> colors{clockwise[0], clockwise[1], clockwise[3], clockwise[2]};
    unsigned edges = 0;
    if (params.edgeAntialias[0]) edges |= kEdgeLeft;
    if (params.edgeAntialias[1]) edges |= kEdgeTop;
    if (params.edgeAntialias[2]) edges |= kEdgeRight;
    if (params.edgeAntialias[3]) edges |= kEdgeBottom;
    if (edges) {
        if (!boxAntialiaser_) boxAntialiaser_ = MakeRef<TBoxAntialiaser>(screen_.Get());
        boxAntialiaser_->DrawBox(*screen_, corners, colors, edges);
        return;
    }
    auto& batch = screen_->Batch();
    batch.Begin({}, 0);
    batch.AddTriangle({corners[0], corners[1], corners[2]}, {colors[0], colors[1], colors[2]});
    batch.AddTriangle({corners[2], corners[1], corners[3]}, {colors[2], colors[1], colors[3]});
}

void T3DDrawer::DrawBorder(TVec3 origin, TVec2 anchor, TVec3 axisX, TVec3 axisY, TVec2 size,
                           std::uint32_t color, float widthX, float widthY, float opacity, bool antialiased) {
    if (!(size.x > 0) || !(size.y > 0)) return;
    const double wx = std::isfinite(widthX) ? std::max(0.0f, widthX) : 0.0;
    const double wy = std::isfinite(widthY) ? std::max(0.0f, widthY) : 0.0;
    TBoxParams box;
    box.color1 = box.color2 = color;
    box.opacity = opacity;
    box.fillStyle = kFillSolid;
    box.edgeAntialias = {antialiased, antialiased, antialiased, antialiased};
    // Top and bottom run over the corners; left and right fill between them.
    auto strip = [&](double x, double y, double w, double h) {
        if (!(w > 0) || !(h > 0)) return;
        box.size = {w, h};
        DrawBox(origin, {anchor.x - x, anchor.y - y}, box, axisX, axisY);
    };
    strip(-wx, -wy, size.x + 2 * wx, wy);
    strip(-wx, size.y, size.x + 2 * wx, wy);
    strip(-wx, 0, wx, size.y);
    strip(size.x, 0, wx, size.y);
}

void T3DDrawer::FillRectangle(TVec3 p1, TVec3 p2, std::uint32_t color) {
    if (!IsReady()) return;
    const double l = std::min(p1.x, p2.x) + offset_.x, r = std::max(p1.x, p2.x) + offset_.x;
    const double t = std::min(p1.y, p2.y) + offset_.y, b = std::max(p1.y, p2.y) + offset_.y;
    if (!(r > l) || !(b > t)) return;
    const std::array<TPoint3, 4> corners{TPoint3{l, t, 0}, TPoint3{r, t, 0}, TPoint3{l, b, 0},
                                         TPoint3{r, b, 0}};
    GrowDirtyBox(corners);
    auto& batch = screen_->Batch();
    batch.Begin({}, 0);
    batch.AddTriangle({corners[0], corners[1], corners[2]}, {color, color, color});
    batch.AddTriangle({corners[2], corners[1], corners[3]}, {color, color, color});
}

// ---- capture

bool T3DDrawer::ReadBackBuffer(TBitmap& bitmap) {
    if (!captureMode_) return true;
    if (!IsReady()) return false;
    screen_->Batch().Flush();
    T3DSurface* back = nullptr;
    if (!screen_->Renderer()->GetBackBuffer(back) || !back) return false;
    return back->CopyTo(bitmap);
}

TRef<TBitmap> T3DDrawer::GrabImage() {
    if (frameRect_.IsEmpty()) return nullptr;
    auto bitmap = MakeRef<TBitmap>(frameRect_.Width(), frameRect_.Height(), TPixelFormat::Bgra32);
    if (!ReadBackBuffer(*bitmap)) return nullptr;
    // The screen shows no alpha: blended draws leave the back buffer's alpha below 255 where
    // they cover it, which is no part of the picture.
    for (int y = 0; y < bitmap->Height(); ++y) {
        std::uint8_t* row = bitmap->Row(y);
        for (int x = 0; x < bitmap->Width(); ++x)
            row[4 * x + 3] = 0xFF;
    }
    return bitmap;
}

void T3DDrawer::SetView(const TRectF& viewRect, TVec2 designSize, bool resetViewport, TVec3 eye) {
    viewRect_ = viewRect;
    designSize_ = designSize;
    eye_ = eye;
    if (!IsReady() || screen_->TargetDepth() > 1) return;
    screen_->Batch().Flush();
    if (resetViewport) screen_->SetViewport(drawRect_);
    if (!viewRect.IsEmpty() && designSize.x > 0 && designSize.y > 0)
        screen_->Camera(designSize.x, designSize.y, viewRect.Width(), viewRect.Height(), viewRect.left,
                        viewRect.top);
}

// ---- layers

TRef<TRenderTargetTexture> T3DDrawer::Acquire(TRenderTargetManager& pool) {
    if (!IsReady() || pool.Width() <= 0 || pool.Height() <= 0) return nullptr;
    TRef<TRenderTargetTexture> target = pool.Acquire(screen_.Get());
    if (!target || !target->Texture()) {
        pool.Return(std::move(target)); // could not be made: the pass goes without it
        return nullptr;
    }
    return target;
}

TLayerTarget* T3DDrawer::BeginLayerTarget() {
    TRef<TRenderTargetTexture> target = Acquire(fullPool_);
    // Without a target the layer is drawn where the drawing goes; its end then pops nothing.
    layerPushes_.push_back(target != nullptr);
    if (!target) return nullptr;
    auto layer = std::make_unique<TLayerTarget>();
    layer->texture = target;
    screen_->PushTarget(target.Get(), 0, 0);
    screen_->Clear(0, false);
    layers_.push_back(std::move(layer));
    return layers_.back().get();
}

void T3DDrawer::EndLayerTarget() {
    if (layerPushes_.empty()) return;
    const bool pushed = layerPushes_.back();
    layerPushes_.pop_back();
    if (pushed && IsReady()) screen_->PopTarget();
}

void T3DDrawer::DrawLayerTarget(TLayerTarget* layer, int alpha) {
    auto it = std::find_if(layers_.begin(), layers_.end(), [&](const auto& l) { return l.get() == layer; });
    if (it == layers_.end()) return;
    TRef<TRenderTargetTexture> texture = std::move((*it)->texture);
    layers_.erase(it);
    if (IsReady() && alpha > 0) {
        const auto state = screen_->SaveState();
        PixelCamera();
        const auto w = static_cast<float>(frameRect_.Width()), h = static_cast<float>(frameRect_.Height());
        DrawTextures({texture.Get()}, {TRectF{0, 0, w, h}}, {0, 0, w, h},
                     WithAlpha(0xFFFFFF, static_cast<std::uint32_t>(std::min(alpha, 255))));
        screen_->RestoreState(state);
    }
    fullPool_.Return(std::move(texture));
}

} // namespace kiv
