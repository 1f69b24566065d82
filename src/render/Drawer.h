// T3DDrawer: the slide drawer on the 3-D screen. Slide objects draw themselves through its
// TDeviceDrawer operations; it owns the screen, two pools of premultiplied render targets (frame
// size and half size), the shader catalog and a stack of active shaders, the picture textures it
// caches on each picture, and the off-screen passes of blur, sharpening, masks and colour grading.
//
// Threads: drawing runs on the engine thread. Init, Close, Destroy, PreloadImage and ReleaseImage
// are serialised by the process-wide drawer lock (the slide loader preloads pictures while the
// engine draws); a top-level Draw holds the process-wide frame lock for the whole frame.
#pragma once

#include "objects/DeviceDrawer.h"
#include "project/KivFilter.h"
#include "render/EffectRenderer.h"
#include "render/PictureTexture.h"
#include "render/Screen.h"
#include "render/VideoImage.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TCustomColorGradeTexture;
class TColorTable;

// The 7-tap weights of one blur pass of strength e (0 … 1): outer, second, first and centre tap.
// They sum to 1 over the seven taps; e = 0 leaves the picture unchanged.
struct TBlurWeights {
    float w3, w2, w1, w0;
};
TBlurWeights BlurWeights(double strength);

// How a blur of half-resolution radius G is drawn: a cross-fade with the half-resolution copy when
// G < 1 (mixFactor ≥ 0), otherwise `fullPasses` pairs at strength 1 with steps 1, 2, 4 … and a
// final pair at step 2^fullPasses with `finalStrength`.
struct TBlurPlan {
    double mixFactor = -1;
    int fullPasses = 0;
    double finalStrength = 0;
};
TBlurPlan PlanBlur(double g);

// How a video frame is drawn: one record per draw, filled by video objects.
struct TVideoDrawParams {
    float opacity = 100.0f; // percent
    TRectF sourceRect;      // texels of the frame; must not be empty
    bool edgeAntialias = false;
    int deinterlace = 0; // 0 none, 1 the even field, 2 the odd field
    bool chromaKey = false;
    float keyU = 0.5f, keyV = 0.5f; // 0 … 1
    float keyThreshold = 0.0f;
    int gradingMode = 0; // for RGBA frames as for pictures
    const TColorTable* gradingFrom = nullptr;
    const TColorTable* gradingTo = nullptr;
    float gradingFactor = 0.0f;
    // YUV frames: the conversion tables (YUV → RGB, possibly carrying grading filters); none gives
    // the plain conversion.
    TCustomColorGradeTexture* videoFrom = nullptr;
    TCustomColorGradeTexture* videoTo = nullptr;
};

class T3DDrawer final : public TRefObject, public TDeviceDrawer {
public:
    T3DDrawer();

    // Releases everything the drawer holds (video planes, shaders, pools, the screen).
    void Destroy();
    // Attaches the screen to the draw device and creates the shader catalog.
    void Init(TDrawDevice* device);
    // Kills the screen's renderer; the next frame makes a new one.
    void Close();

    bool BeginFrame();
    bool EndFrame();
    bool IsReady() const override;
    void SetSlideRect(const TRect& rect) { slideRect_ = rect; }
    bool IsCapturingSlides() const override { return capturingSlides_; }
    void SetCaptureSize(TPoint size);
    void EndCapture() { captureMode_ = false; }
    bool CaptureMode() const { return captureMode_; }
    void ResetStates();
    void Clear(std::uint32_t color, bool withDepth);
    void FillRect(std::uint32_t color, const TRect& rect);

    bool Draw(TDrawItem& item) override;
    void DrawImage(TImage& image, TVec3 origin, const TPictureDrawParams& params, TVec3 axisX, TVec3 axisY,
                   TVec2 anchor) override;
    void DrawBox(TVec3 origin, TVec2 anchor, const TBoxParams& params, TVec3 axisX, TVec3 axisY) override;
    void DrawBorder(TVec3 origin, TVec2 anchor, TVec3 axisX, TVec3 axisY, TVec2 size, std::uint32_t color,
                    float widthX, float widthY, float opacity, bool antialiased) override;
    void DrawMasked(TDrawItem& mask, TDrawItem& content, float opacity, TImage* pattern) override;
    void FillRectangle(TVec3 p1, TVec3 p2, std::uint32_t color) override;
    TLayerTarget* BeginLayerTarget() override;
    void EndLayerTarget() override;
    void DrawLayerTarget(TLayerTarget* layer, int alpha) override;
    void PreloadImage(TImage& image, const TPictureDrawParams& params) override;
    void ReleaseImage(TImage& image) override;

    // A video image of the mode the device allows: YUV planes when shaders run and the renderer
    // has 8-bit grey textures and the video has no alpha, RGBA with alpha, else 16-bit RGB.
    TRef<T3DYUV> CreateVideoImage(int width, int height, bool hasAlpha);
    void DrawVideo(T3DYUV& video, TVec3 origin, const TVideoDrawParams& params, TVec3 axisX, TVec3 axisY,
                   TVec2 anchor);
    // Called by a dying video image.
    void ForgetVideoImage(T3DYUV* video);
    std::size_t VideoImageCount() const { return videos_.size(); }
    // Device copies of colour tables held for grading.
    std::size_t GradingTextureCount() const { return grading_.size(); }

    // The transition between two slides with the parameters' filter (created on first use and kept
    // by the parameters): the order table decides which slide is drawn plainly and which through
    // the filter. Parameters that are not a TKivFilter draw the outgoing slide; a transition without
    // a filter, or outside 0 ≤ progress < duration, draws the incoming slide.
    void DrawTransition(TDrawItem& outgoing, TDrawItem& incoming, TFilterParams* params);
    // Makes a custom transition's filter, with its effect slide ready, before the transition's
    // first frame (the slide loader calls it with the slide the transition enters), so that the
    // first frame builds nothing. Other transitions and a holder with a filter are left alone.
    void PrepareTransition(TKivFilter& holder, TDrawItem& slide);
    TCustomD3DEffecter* Effecter() const { return effecter_.Get(); }

    void BeginSharpen();
    void EndSharpen(double amount);
    // In capture mode: the back buffer into `bitmap` (32-bit, the frame's size); otherwise true.
    bool ReadBackBuffer(TBitmap& bitmap);
    // The frame as a new 32-bit bitmap, opaque as the screen shows it; none on failure.
    TRef<TBitmap> GrabImage();
    void SetView(const TRectF& viewRect, TVec2 designSize, bool resetViewport, TVec3 eye);

    // Shader stack: pushing sets the shader on the renderer; popping sets the one below or none.
    void PushShader(const std::string& name);
    void PopShader();
    void SetConstant(int reg, float x, float y = 0, float z = 0, float w = 0);

    T3DScreen* Screen() const { return screen_.Get(); }
    const TRect& FrameRect() const { return frameRect_; }
    const TRect& DrawRect() const { return drawRect_; }
    TVec3 EyePosition() const { return eye_; }
    // The tile pools of the picture textures (none before the first picture).
    TTextureManager6* TileManager() const { return tileManager_.Get(); }
    TRenderTargetManager& FullPool() { return fullPool_; }
    TRenderTargetManager& HalfPool() { return halfPool_; }
    std::size_t ShaderStackDepth() const { return shaderStack_.size(); }
    // The adapter's shader level (0 … 2); tests may force one (−1 asks the engine).
    int ShaderLevel() const;
    int ForcedShaderLevel = -1;
    // Shader names pushed since the last reset, for tests of which passes ran.
    std::vector<std::string> ShaderLog;

protected:
    ~T3DDrawer() override;

private:
    bool PlainDraw(TDrawItem& item);
    // Captures `slide` and draws the capture through the filter.
    void DrawThroughFilter(TDrawItem& slide, TDrawFilter& filter, const TRect& area);
    // Where a transition plays: the slide rectangle inside the drawing rectangle (a show shown in a
    // window of another shape keeps its bars), or the drawing rectangle without one.
    TRect TransitionRect() const;
    // Custom transitions: both slides captured, then the filter's effect slide drawn over them.
    void DrawSlideEffect(TDrawItem& outgoing, TDrawItem& incoming, TSlideEffFilter& filter);
    // Draws `slide` into the capture the effect renderer's selector points at.
    void CaptureSlide(TDrawItem& slide);
    void Blur(TDrawItem& item, double radius);
    void BlurPass(TRenderTargetTexture* source, TRenderTargetTexture* dest, bool horizontal, int step,
                  double strength, const TRect& region);
    // The 3-D point of box or texel point s.
    TPoint3 Place(TVec3 origin, TVec2 anchor, TVec3 axisX, TVec3 axisY, double sx, double sy) const;
    void GrowDirtyBox(const std::array<TPoint3, 4>& corners);
    // Camera mapping drawing-area pixels 1:1 onto the current target.
    void PixelCamera();
    // Keeps the saved state's world-to-pixel mapping on a freshly pushed target.
    void KeepCamera(const T3DScreen::TState& state, TCustomTexture* target);
    // Draws `rect` (texels) of every texture over the pixel rectangle `dest` of the current target.
    void DrawTextures(const std::vector<TCustomTexture*>& textures, const std::vector<TRectF>& sources,
                      const TRectF& dest, std::uint32_t color);
    TRef<TMultiTexture6> PictureTexture(TImage& image, const TPictureDrawParams& params);
    TBaseTexture* GradingTexture(const TColorTable* table, int mode);
    TRef<TRenderTargetTexture> Acquire(TRenderTargetManager& pool);
    static std::recursive_mutex& FrameLock();

    TRef<T3DScreen> screen_;
    TRef<TCustomD3DEffecter> effecter_;
    TRef<TTextureManager6> tileManager_;   // made on first use
    TRef<TBoxAntialiaser> boxAntialiaser_; // made on first use
    TRenderTargetManager fullPool_{true};
    TRenderTargetManager halfPool_{true};
    std::map<std::string, TRef<TShader>> shaders_;
    std::vector<std::string> shaderStack_;
    // Device copies of colour tables by table identity and kind; a table's copy goes at the first
    // frame after the table is gone (the null table, the identity, stays).
    struct TGrading {
        std::weak_ptr<const void> life;
        bool identity = false;
        std::uint64_t revision = 0;
        TRef<TCustomColorGradeTexture> texture;
    };
    std::map<std::pair<const void*, int>, TGrading> grading_;
    void FreeGoneGradings();
    std::vector<std::unique_ptr<TLayerTarget>> layers_;
    std::vector<bool> layerPushes_; // per open layer: whether it pushed a target
    bool presentDue_ = false; // the frame ended and is to be shown outside the frame lock
    std::vector<T3DYUV*> videos_;
    TRef<TCustomColorGradeTexture> yuvTable_;

    int drawNesting_ = 0;
    TRectF viewRect_;
    TVec2 designSize_;
    TRect frameRect_;
    TRect slideRect_;
    TRect drawRect_;
    TVec3 eye_;
    bool captureMode_ = false;
    TPoint captureSize_;
    bool capturingSlides_ = false;
    bool inEffect_ = false;
    bool inFrame_ = false;
    TRef<TRenderTargetTexture> sharpenTarget_;
    T3DScreen::TState sharpenState_;
    TRect sharpenRect_;
    // Pixel bounding box of what an effect pass drew; empty while left > right.
    double dirtyLeft_ = 0, dirtyTop_ = 0, dirtyRight_ = -1, dirtyBottom_ = -1;
};

} // namespace kiv
