// T3DRendererGL: the renderer on a GL 3.3 core context. Each renderer draws into its own back
// buffer, a framebuffer object; Present copies it onto the window (flipped, since GL's window rows
// run bottom up) and swaps. Headless there is no window: the back buffer is the frame, read back
// with the back buffer surface's CopyTo, top row first.
//
// Every operation takes the device lock, makes the store's context current on the calling thread
// and classifies GL's error: GL_INVALID_* is class 1, GL_OUT_OF_MEMORY class 2, a context reset
// reported by the robustness extension (or a forced loss in tests) class 3, which marks the
// renderer lost; at the end of that operation the window's store is destroyed and everything on
// it is told it was killed.
//
// Texture stages become the programs of shaders/fixed_stages.frag, one per stage count and stage
// operations. A pixel shader made with CreateShader replaces them; its register file c[32] and
// samplers s0 … s7 are uploaded at draw time.
#pragma once

#include "render/DevStore.h"
#include "render/Renderer.h"
#include "render/gl/ResourcesGL.h"

#include <array>
#include <cstdint>
#include <map>
#include <utility>

namespace kiv {

class T3DEngineGL;
class TGLContext;
class T3DSurfaceGL;
class TInitData;

class T3DRendererGL final : public T3DRenderer {
public:
    explicit T3DRendererGL(T3DEngineGL* engine) : engine_(engine) {}

    void UpdateBounds() override;
    bool BeginScene() override;
    bool EndScene() override;
    bool Present(const TRect* sourceRects, const TRect* destRects, int count) override;
    bool Clear(const TRect* rects, int count, unsigned flags, std::uint32_t color, float z) override;
    bool ResetStates() override;
    bool SetRenderTarget(T3DSurface* surface) override;
    T3DSurface* GetRenderTarget() override { return currentTarget_.Get(); }
    bool GetBackBuffer(T3DSurface*& backBuffer) override;
    bool SetViewport(const TRect& rect, float minZ, float maxZ) override;
    bool DrawVertexList(const std::vector<T3DTexture*>& textures, T3DVertexList* list,
                        unsigned flags) override;
    bool SetTexture(int stage, TBaseTexture* texture) override;
    TRef<T3DTexture> CreateTexture(int kind, int width, int height, bool mipmapped) override;
    TRef<TVolumeTexture> CreateVolumeTexture(int width, int height, int depth) override;
    TRef<T3DVertexList> CreateVertexList(int vertexCount, unsigned flags, int texCoordSets) override;
    bool StretchRects(T3DSurface* source, T3DSurface* dest, int count, const TRect* sourceRects,
                      const TRect* destRects) override;
    bool SetBlendMode(int mode) override;
    bool SetTransform(int kind, const TMatrix& matrix) override;
    bool SetCullNone(bool none) override;
    void GetPixelCenter(float& x, float& y) override { x = y = 0; }
    TRef<T3DShader> CreateShader(const std::string& code, bool isVertex) override;
    bool SetShader(T3DShader* shader) override;
    bool SetShaderConstants(int startRegister, const float* data, int count, bool isVertex) override;
    TPoint BackBufferSize() override { return {width_, height_}; }
    void Kill() override;
    bool IsFullScreen() const override { return FullScreen; }
    void LeaveThread() override;

    // Called by the engine on the main thread: makes the back buffer on the store's context.
    bool Init(TDevStore* store, int width, int height, bool fullScreen, int refreshRate);
    TDevStore* Store() const { return store_; }
    TInitData* PendingInit = nullptr;
    bool FullScreen = false;
    bool Exclusive = false;
    // Whether the window had the foreground at the last scene start (exclusive renderers start so).
    bool WasForeground = false;
    int RefreshRate = 0;
    int BlendMode = kBlendNormal;

    // Test hook: the next operation is classified as a lost device.
    void ForceLossForTesting() { forceLoss_ = true; }

    // The clock (milliseconds) and the sleep of frame pacing, process-wide; tests drive both. Empty
    // functions put the real ones back. Setting them forgets the time of the last present.
    struct TPacingClock {
        std::function<std::int64_t()> Now;
        std::function<void(std::int64_t)> Sleep;
    };
    static void SetPacingClock(TPacingClock clock);
    // Whether the context reports resets (a robust context on a driver with the extension).
    bool Robust() const { return robust_; }
    // Test hook: answers the reset-status query in place of the driver (a GL reset status, 0 for
    // none), also on contexts that are not robust (Mesa's software rasteriser makes none). Empty
    // puts the driver's query back.
    static void SetResetStatusForTesting(std::function<unsigned()> status);

protected:
    ~T3DRendererGL() override;

private:
    friend class TRendererCall;
    TGLContext* Context() const;
    // Classifies GL's state after an operation's GL calls; sets LastError and State.
    int Classify();
    void LostCheck();
    // Foreground handling at scene start; false when the scene must fail (the store was freed).
    bool FollowForeground();
    void ApplyTarget();
    struct TProgram {
        unsigned name = 0;
        int worldViewProj = -1;
        int pixelConstants = -1;
        int vertexConstants = -1;
    };
    // The stage program for `stages` stages with their operations (two ints per stage).
    const TProgram* StageProgram(int stages, const int* ops);
    const TProgram* ShaderProgram();
    unsigned FixedVertex(int texSets);
    TProgram Finish(unsigned program);
    void ReleaseGL();

    T3DEngineGL* engine_;
    TDevStore* store_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    unsigned backTexture_ = 0;
    unsigned backFbo_ = 0;
    TRef<T3DSurfaceGL> backBuffer_;
    TRef<T3DSurface> currentTarget_;
    TMatrix world_ = TMatrix::Identity();
    TMatrix view_ = TMatrix::Identity();
    TMatrix projection_ = TMatrix::Identity();
    bool cullNone_ = false;
    TRect viewport_;
    TRef<T3DShader> pixelShader_;
    TRef<T3DShader> vertexShader_;
    std::array<float, 32 * 4> pixelConstants_{};
    std::array<float, 32 * 4> vertexConstants_{};
    std::map<std::uint32_t, TProgram> stagePrograms_;
    std::array<unsigned, 9> fixedVertex_{};
    std::map<std::pair<std::uint64_t, std::uint64_t>, TProgram> shaderPrograms_;
    bool forceLoss_ = false;
    bool robust_ = false;      // the context reports resets
    bool anisotropic_ = false; // the driver filters anisotropically
};

} // namespace kiv
