// The drawer's off-screen passes: Gaussian blur at half resolution, full-frame sharpening and
// masked drawing.
#include "render/Drawer.h"

#include "images/Image.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFF;

TRectF ToF(const TRect& r) {
    return {static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right),
            static_cast<float>(r.bottom)};
}

} // namespace

// ---- blur

void T3DDrawer::BlurPass(TRenderTargetTexture* source, TRenderTargetTexture* dest, bool horizontal, int step,
                         double strength, const TRect& region) {
    // The region widened by the kernel's reach, clamped to the source texture.
    const int reach = 7 * step;
    const TRect wide{std::max(0, region.left - reach), std::max(0, region.top - reach),
                     std::min(source->TexWidth(), region.right + reach),
                     std::min(source->TexHeight(), region.bottom + reach)};
    if (wide.IsEmpty()) return;
    if (dest) {
        screen_->PushTarget(dest, 0, 0);
        screen_->Clear(0, false);
    }
    PushShader(horizontal ? "gauss_blur_h7" : "gauss_blur_v7");
    const TBlurWeights w = BlurWeights(strength);
    SetConstant(0, w.w3, w.w2, w.w1, w.w0);
    SetConstant(1, static_cast<float>(step * (horizontal ? source->InvTexWidth() : source->InvTexHeight())));
    if (dest) {
        // On the cleared target premultiplied "over" adds nothing: the pass is written as it is.
        screen_->Renderer()->SetBlendMode(kBlendReplace);
        DrawTextures({source}, {ToF(wide)}, ToF(wide), kWhite);
        screen_->Renderer()->SetBlendMode(kBlendNormal);
    } else {
        // To the current target: at double scale over the blurred box.
        PixelCamera();
        const TRectF d{static_cast<float>(dirtyLeft_ + (wide.left - region.left) * 2.0),
                       static_cast<float>(dirtyTop_ + (wide.top - region.top) * 2.0),
                       static_cast<float>(dirtyLeft_ + (wide.right - region.left) * 2.0),
                       static_cast<float>(dirtyTop_ + (wide.bottom - region.top) * 2.0)};
        DrawTextures({source}, {ToF(wide)}, d, kWhite);
    }
    PopShader();
    if (dest) screen_->PopTarget();
}

void T3DDrawer::Blur(TDrawItem& item, double radius) {
    const T3DScreen::TState saved = screen_->SaveState();
    const bool toBackBuffer = screen_->TargetDepth() <= 1;
    const double oldLeft = dirtyLeft_, oldTop = dirtyTop_, oldRight = dirtyRight_, oldBottom = dirtyBottom_;
    auto finish = [&] {
        dirtyLeft_ = oldLeft;
        dirtyTop_ = oldTop;
        dirtyRight_ = oldRight;
        dirtyBottom_ = oldBottom;
    };

    // 1. The item, sharp, into a frame-size target; the dirty box bounds what it drew.
    TRef<TRenderTargetTexture> t1 = Acquire(fullPool_);
    if (!t1) return finish(); // no target: the drawing is lost for this frame
    screen_->PushTarget(t1.Get(), 0, 0);
    screen_->Clear(0, false);
    KeepCamera(saved, t1.Get());
    dirtyLeft_ = 0;
    dirtyRight_ = -1;
    item.Draw(*this);
    screen_->PopTarget();
    const TRect box{std::max(0, static_cast<int>(std::floor(dirtyLeft_))),
                    std::max(0, static_cast<int>(std::floor(dirtyTop_))),
                    std::min(drawRect_.right, static_cast<int>(std::ceil(dirtyRight_))),
                    std::min(drawRect_.bottom, static_cast<int>(std::ceil(dirtyBottom_)))};
    if (dirtyLeft_ > dirtyRight_ || box.IsEmpty()) {
        if (toBackBuffer) screen_->RestoreState(saved);
        fullPool_.Return(std::move(t1));
        return finish();
    }
    dirtyLeft_ = box.left;
    dirtyTop_ = box.top;

    // 2. Its box at half scale, centred in a half-size target.
    TRef<TRenderTargetTexture> t2 = Acquire(halfPool_);
    if (!t2) {
        if (toBackBuffer) screen_->RestoreState(saved);
        fullPool_.Return(std::move(t1));
        return finish();
    }
    const double halfW = box.Width() / 2.0, halfH = box.Height() / 2.0;
    const double hx = std::round((t2->TexWidth() - halfW) / 2),
                 hy = std::round((t2->TexHeight() - halfH) / 2);
    const TRectF half{static_cast<float>(hx), static_cast<float>(hy), static_cast<float>(hx + halfW),
                      static_cast<float>(hy + halfH)};
    screen_->PushTarget(t2.Get(), 0, 0);
    screen_->Clear(0, false);
    screen_->Renderer()->SetBlendMode(kBlendReplace);
    DrawTextures({t1.Get()}, {ToF(box)}, half, kWhite);
    screen_->Renderer()->SetBlendMode(kBlendNormal);
    screen_->PopTarget();

    // 3. Half-resolution radius and the passes it needs.
    const TBlurPlan plan = PlanBlur(radius * 0.5);
    if (plan.mixFactor >= 0) {
        if (toBackBuffer) screen_->RestoreState(saved);
        PixelCamera();
        PushShader("gauss_mix");
        SetConstant(0, static_cast<float>(plan.mixFactor));
        DrawTextures({t1.Get(), t2.Get()}, {ToF(box), half}, ToF(box), kWhite);
        PopShader();
    } else if (TRef<TRenderTargetTexture> t3 = Acquire(halfPool_)) {
        const TRect region{static_cast<int>(std::floor(half.left)), static_cast<int>(std::floor(half.top)),
                           static_cast<int>(std::ceil(half.right)), static_cast<int>(std::ceil(half.bottom))};
        // Keep the final pass's box in whole source texels: the half box starts at region.left.
        dirtyLeft_ = box.left - (half.left - region.left) * 2.0;
        dirtyTop_ = box.top - (half.top - region.top) * 2.0;
        int step = 1;
        for (int k = 0; k < plan.fullPasses; ++k, step *= 2) {
            BlurPass(t2.Get(), t3.Get(), true, step, 1.0, region);
            BlurPass(t3.Get(), t2.Get(), false, step, 1.0, region);
        }
        BlurPass(t2.Get(), t3.Get(), true, step, plan.finalStrength, region);
        if (toBackBuffer) screen_->RestoreState(saved);
        BlurPass(t3.Get(), nullptr, false, step, plan.finalStrength, region);
        halfPool_.Return(std::move(t3));
    }
    halfPool_.Return(std::move(t2));
    fullPool_.Return(std::move(t1));
    if (toBackBuffer) screen_->RestoreState(saved);
    finish();
}

// ---- sharpening

void T3DDrawer::BeginSharpen() {
    if (!IsReady() || ShaderLevel() != 2 || sharpenTarget_) return;
    sharpenState_ = screen_->SaveState();
    sharpenRect_ = screen_->GetTargetRect();
    sharpenTarget_ = Acquire(fullPool_);
    if (!sharpenTarget_) return;
    screen_->PushTarget(sharpenTarget_.Get(), 0, 0);
    screen_->Clear(0, false);
    KeepCamera(sharpenState_, sharpenTarget_.Get());
}

void T3DDrawer::EndSharpen(double amount) {
    if (!sharpenTarget_) return;
    TRef<TRenderTargetTexture> target = std::move(sharpenTarget_);
    if (!IsReady()) {
        fullPool_.Return(std::move(target));
        return;
    }
    screen_->PopTarget();
    if (screen_->TargetDepth() <= 1) screen_->RestoreState(sharpenState_);
    PixelCamera();
    PushShader("unsharp");
    SetConstant(0, static_cast<float>(target->InvTexWidth()), static_cast<float>(target->InvTexHeight()));
    SetConstant(1, 0.0f);
    SetConstant(2, static_cast<float>(std::isfinite(amount) ? amount / 100.0 : 0.0));
    const auto w = static_cast<float>(frameRect_.Width()), h = static_cast<float>(frameRect_.Height());
    DrawTextures({target.Get()}, {TRectF{0, 0, w, h}}, {0, 0, w, h}, kWhite);
    PopShader();
    if (screen_->TargetDepth() <= 1) screen_->RestoreState(sharpenState_);
    fullPool_.Return(std::move(target));
}

// ---- masks

void T3DDrawer::DrawMasked(TDrawItem& mask, TDrawItem& content, float opacity, TImage* pattern) {
    if (!IsReady() || ShaderLevel() <= 0) return;
    const T3DScreen::TState saved = screen_->SaveState();
    const TRect targetRect = screen_->GetTargetRect();
    const bool toBackBuffer = screen_->TargetDepth() <= 1;

    TRef<TRenderTargetTexture> c = Acquire(fullPool_);
    if (!c) return;
    screen_->PushTarget(c.Get(), 0, 0);
    screen_->Clear(0, false);
    if (pattern && pattern->Width() > 0 && pattern->Height() > 0) {
        const int tw = pattern->Width(), th = pattern->Height();
        TPictureDrawParams plain;
        for (int i = 0; i <= (c->TexWidth() - 1) / tw + 1; ++i)
            for (int j = 0; j <= (c->TexHeight() - 1) / th + 1; ++j)
                DrawImage(*pattern, {static_cast<double>(i * tw), static_cast<double>(j * th), 0}, plain,
                          {1, 0, 0}, {0, 1, 0}, {0, 0});
    }
    KeepCamera(saved, c.Get());
    Draw(content);
    screen_->PopTarget();

    TRef<TRenderTargetTexture> m = Acquire(fullPool_);
    if (!m) {
        if (toBackBuffer) screen_->RestoreState(saved);
        fullPool_.Return(std::move(c));
        return;
    }
    screen_->PushTarget(m.Get(), 0, 0);
    screen_->Clear(0xFF000000, true);
    KeepCamera(saved, m.Get());
    Draw(mask);
    screen_->PopTarget();

    screen_->Renderer()->SetBlendMode(kBlendSeparateAlpha);
    PushShader("premul3");
    if (toBackBuffer) screen_->RestoreState(saved);
    PixelCamera();
    const std::uint32_t alpha =
        opacity > 0 ? static_cast<std::uint32_t>(std::clamp(std::lround(opacity * 2.55), 0L, 255L)) : 0;
    // Both passes drew in drawing-area pixels from (0, 0): the target's part of them is its rectangle.
    const TRectF area = ToF(targetRect);
    DrawTextures({m.Get(), c.Get()}, {area, area}, area, (alpha << 24) | 0xFFFFFF);
    PopShader();
    screen_->Renderer()->SetBlendMode(kBlendNormal);
    if (toBackBuffer) screen_->RestoreState(saved);
    fullPool_.Return(std::move(m));
    fullPool_.Return(std::move(c));
}

} // namespace kiv
