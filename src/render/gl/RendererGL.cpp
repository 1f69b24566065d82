#include "render/gl/RendererGL.h"

#include "base/Assert.h"
#include "base/Clock.h"
#include "base/Log.h"
#include "render/DevStore.h"
#include "render/DeviceLock.h"
#include "render/DrawDevice.h"
#include "render/gl/EngineGL.h"
#include "render/gl/GLContext.h"
#include "render/gl/ResourcesGL.h"
#include "render/gl/ShaderSources.h"
#include "render/gl/WindowModes.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

namespace kiv {

// One renderer operation: the device lock, the renderer kept alive (a lost device may make its
// owner free it), the context current here, and the lost check on leaving. Texture work from a
// thread that does not draw runs on the device's upload context (TTextureContextScope).
class TRendererCall {
public:
    explicit TRendererCall(T3DRendererGL& r, bool textureWork = false) : r_(r) {
        r_.AddRef();
        if (r_.State == kStatePending) return;
        if (!r_.store_ || !r_.store_->Device()) {
            r_.State = kStateLost;
            r_.LastError = kErrLost;
            return;
        }
        if (textureWork) {
            scope_.emplace(r_.Context());
            if (!scope_->Ok()) {
                r_.LastError = kErrInvalidCall;
                return;
            }
        } else if (!r_.Context()->MakeCurrent()) {
            r_.LastError = kErrInvalidCall;
            return;
        }
        ok_ = true;
    }
    ~TRendererCall() {
        r_.LostCheck();
        scope_.reset();
        r_.Release();
    }
    bool Ok() const { return ok_; }
    bool OnUploadContext() const { return scope_ && scope_->OnUploadContext(); }
    // Classifies what GL reported; true on success.
    bool Done() { return r_.Classify() == kErrNone; }

private:
    TDeviceLockGuard guard_;
    T3DRendererGL& r_;
    std::optional<TTextureContextScope> scope_;
    bool ok_ = false;
};

namespace {

std::atomic<std::int64_t> lastPresentMs{0};

std::mutex pacingLock;
T3DRendererGL::TPacingClock pacingClock;

std::mutex resetStatusLock;
std::function<unsigned()> resetStatusHook;
std::atomic<bool> resetStatusHooked{false};

// The reset status of the current context: the test hook's answer while one is set (it stands in
// for the driver, robust context or not), else the driver's for a robust context.
GLenum ResetStatus(bool robust) {
    if (resetStatusHooked.load()) {
        std::lock_guard guard(resetStatusLock);
        if (resetStatusHook) return resetStatusHook();
    }
    return robust ? glGetGraphicsResetStatusARB() : GL_NO_ERROR;
}

std::int64_t PacingNow() {
    std::lock_guard guard(pacingLock);
    return pacingClock.Now ? pacingClock.Now() : ProcessMilliseconds();
}

void PacingSleep(std::int64_t ms) {
    std::function<void(std::int64_t)> sleep;
    {
        std::lock_guard guard(pacingLock);
        sleep = pacingClock.Sleep;
    }
    if (sleep)
        sleep(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

GLenum PrimitiveMode(int type, int primitives, int& vertices) {
    switch (type) {
    case kPrimPoints:
        vertices = primitives;
        return GL_POINTS;
    case kPrimLines:
        vertices = primitives * 2;
        return GL_LINES;
    case kPrimLineStrip:
        vertices = primitives + 1;
        return GL_LINE_STRIP;
    case kPrimTriangles:
        vertices = primitives * 3;
        return GL_TRIANGLES;
    case kPrimTriangleStrip:
        vertices = primitives + 2;
        return GL_TRIANGLE_STRIP;
    case kPrimTriangleFan:
        vertices = primitives + 2;
        return GL_TRIANGLE_FAN;
    default:
        KIV_FAIL("invalid primitive type");
    }
}

GLint AddressMode(int a) {
    switch (a) {
    case kAddressClamp:
        return GL_CLAMP_TO_EDGE;
    case kAddressMirror:
        return GL_MIRRORED_REPEAT;
    default:
        return GL_REPEAT;
    }
}

bool HasRobustness() {
    return epoxy_has_gl_extension("GL_ARB_robustness") || epoxy_has_gl_extension("GL_KHR_robustness");
}

} // namespace

void T3DRendererGL::SetResetStatusForTesting(std::function<unsigned()> status) {
    std::lock_guard guard(resetStatusLock);
    resetStatusHook = std::move(status);
    resetStatusHooked = static_cast<bool>(resetStatusHook);
}

void T3DRendererGL::SetPacingClock(TPacingClock clock) {
    std::lock_guard guard(pacingLock);
    pacingClock = std::move(clock);
    lastPresentMs = 0;
}

TGLContext* T3DRendererGL::Context() const {
    return static_cast<TGLContext*>(store_->Device());
}

bool T3DRendererGL::Init(TDevStore* store, int width, int height, bool fullScreen, int refreshRate) {
    store_ = store;
    width_ = std::max(1, width);
    height_ = std::max(1, height);
    FullScreen = fullScreen;
    WasForeground = Exclusive;
    RefreshRate = refreshRate;
    BlendMode = kBlendNormal;
    glGenTextures(1, &backTexture_);
    glBindTexture(GL_TEXTURE_2D, backTexture_);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glGenFramebuffers(1, &backFbo_);
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, backTexture_, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    const GLenum error = glGetError();
    if (!complete || error != GL_NO_ERROR) {
        ReleaseGL();
        store_ = nullptr;
        LastError = error == GL_OUT_OF_MEMORY ? kErrOutOfMemory : kErrInvalidCall;
        return false;
    }
    // Extension queries scan a long list: asked once here, not per call.
    robust_ = Context()->Robust() && HasRobustness();
    anisotropic_ = epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic");
    backBuffer_ =
        MakeRef<T3DSurfaceGL>(store_, nullptr, 0, backTexture_, width_, height_, TPixelFormat::Bgra32, true);
    backBuffer_->SetFramebuffer(backFbo_);
    currentTarget_ = ShareRef<T3DSurface>(backBuffer_.Get());
    viewport_ = {0, 0, width_, height_};
    L8Supported = true;
    LastError = kErrNone;
    State = kStateReady;
    store_->Renderers.push_back(this);
    return true;
}

void T3DRendererGL::ReleaseGL() {
    for (auto& [key, p] : stagePrograms_)
        if (p.name) glDeleteProgram(p.name);
    stagePrograms_.clear();
    for (auto& [key, p] : shaderPrograms_)
        if (p.name) glDeleteProgram(p.name);
    shaderPrograms_.clear();
    for (auto& v : fixedVertex_)
        if (v) glDeleteShader(v);
    fixedVertex_ = {};
    if (backFbo_) glDeleteFramebuffers(1, &backFbo_);
    if (backTexture_) glDeleteTextures(1, &backTexture_);
    backFbo_ = backTexture_ = 0;
}

T3DRendererGL::~T3DRendererGL() {
    TDeviceLockGuard guard;
    if (PendingInit) PendingInit->Renderer = nullptr;
    if (backBuffer_) backBuffer_->Kill();
    backBuffer_.Reset();
    if (FullScreen && Device && store_) {
        // The window goes back where it was before full screen.
        auto* wrapper = Device->Find<TRectangleWrapper>();
        const TRect restore = wrapper ? wrapper->SavedRect : Device->Bounds();
        TLog::Line("Dispose FullScreen, R= " + RectText(restore));
        if (!OnMainThread()) TLog::Line("T3DRenderer9.Dispose: exclusive mode, not main thread");
        engine_->ReleaseFullScreen(Device, {}, restore);
    }
    if (store_) {
        TGLContext* context = Context();
        const bool wasCurrent = context->IsCurrentHere();
        if (context->MakeCurrent()) ReleaseGL();
        if (!wasCurrent) context->Unbind();
        std::erase(store_->Renderers, static_cast<T3DRenderer*>(this));
    }
    if (Device) Device->RemoveRenderer(this);
}

void T3DRendererGL::Kill() {
    // The context went with the store: forget the GL names without touching GL.
    store_ = nullptr;
    stagePrograms_.clear();
    shaderPrograms_.clear();
    fixedVertex_ = {};
    backFbo_ = backTexture_ = 0;
    if (backBuffer_) backBuffer_->Kill();
    currentTarget_.Reset();
    pixelShader_.Reset();
    vertexShader_.Reset();
    State = kStateLost;
    if (OnKilled) {
        auto killed = OnKilled;
        killed();
    }
}

void T3DRendererGL::LeaveThread() {
    TDeviceLockGuard guard;
    if (store_ && store_->Device()) {
        glFinish();
        Context()->Unbind();
    }
    // SDL keeps the thread's current window and error text in thread-local storage it never frees.
    SDL_TLSCleanup();
}

int T3DRendererGL::Classify() {
    State = kStateReady;
    int cls = kErrNone;
    GLenum error = glGetError();
    for (GLenum more = error; more != GL_NO_ERROR;)
        more = glGetError(); // drain the error queue
    if (error == GL_OUT_OF_MEMORY)
        cls = kErrOutOfMemory;
    else if (error != GL_NO_ERROR)
        cls = kErrInvalidCall;
    if (store_ && ResetStatus(robust_) != GL_NO_ERROR) cls = kErrLost;
    if (forceLoss_) {
        forceLoss_ = false;
        cls = kErrLost;
    }
    if (cls == kErrLost) State = kStateLost;
    if (cls != kErrNone) TLog::Line("Dx Error = " + std::to_string(cls));
    LastError = cls;
    return cls;
}

void T3DRendererGL::LostCheck() {
    if (State != kStateLost || !store_) return;
    TDevStore* store = store_;
    TDrawDevice* owner = store->Owner();
    if (owner) {
        if (auto* wrapper = owner->Find<TRectangleWrapper>())
            wrapper->AvoidExclusive = engine_->IsDeviceUsable() || !Exclusive;
    }
    TLog::Line("T3DRenderer9: DEVICE LOST!");
    if (!owner || !owner->Detach(store)) store->Dispose();
}

void T3DRendererGL::UpdateBounds() {
    if (Device) TLog::Line("Set DxPanel bounds: " + RectText(Device->Bounds()));
}

void T3DRendererGL::ApplyTarget() {
    auto* target = static_cast<T3DSurfaceGL*>(currentTarget_.Get());
    glBindFramebuffer(GL_FRAMEBUFFER, target ? target->Framebuffer() : backFbo_);
    glViewport(viewport_.left, viewport_.top, viewport_.Width(), viewport_.Height());
}

bool T3DRendererGL::FollowForeground() {
    if (!T3DEngine::ExclusiveAllowed() || !FullScreen || !Device || !store_) return true;
    const bool foreground = Device->IsForeground();
    if (!foreground && WasForeground) {
        // GL keeps its context in the background, so the show goes on full-window in place; a
        // renderer made meanwhile is windowed too. The window itself changes on the main thread.
        const std::uint32_t windowId = WindowId(static_cast<SDL_Window*>(Device->Handle()));
        if (windowId) engine_->OnMainThreadCall([windowId] { LeaveTopmostBand(SDL_GetWindowFromID(windowId)); });
        Exclusive = false;
        WasForeground = false;
        if (auto* wrapper = Device->Find<TRectangleWrapper>()) wrapper->AvoidExclusive = true;
        return true;
    }
    if (foreground && !WasForeground) {
        // Back in the foreground: the store goes (every resource is killed) and the next renderer
        // is exclusive again.
        WasForeground = true;
        if (auto* wrapper = Device->Find<TRectangleWrapper>()) wrapper->AvoidExclusive = false;
        TLog::Line("T3DRenderer9: foreground regained");
        TRef<T3DRendererGL> keep = ShareRef(this);
        TDevStore* store = store_;
        if (!Device->Detach(store)) store->Dispose();
        return false;
    }
    WasForeground = foreground;
    return true;
}

bool T3DRendererGL::BeginScene() {
    {
        TDeviceLockGuard guard;
        if (!FollowForeground()) return false;
    }
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    if (!currentTarget_) currentTarget_ = ShareRef<T3DSurface>(backBuffer_.Get());
    ApplyTarget();
    glDisable(GL_SCISSOR_TEST);
    if (!call.Done()) return false;
    return ResetStates();
}

bool T3DRendererGL::EndScene() {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    // A fence after the frame: textures given up before it may be reused once it signals.
    TGLContext* context = Context();
    if (context->FrameFence) glDeleteSync(static_cast<GLsync>(context->FrameFence));
    context->FrameFence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    ++context->FrameSerial;
    glFlush();
    return call.Done();
}

bool T3DRendererGL::ResetStates() {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    // Rows run top down in every target, so Direct3D's clockwise front faces are GL's
    // counter-clockwise ones.
    glFrontFace(GL_CCW);
    if (cullNone_)
        glDisable(GL_CULL_FACE);
    else {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
    }
    return call.Done();
}

bool T3DRendererGL::Present(const TRect* sourceRects, const TRect* destRects, int count) {
    {
        TRendererCall call(*this);
        if (!call.Ok()) return false;
        if (!Context()->Window()) return call.Done(); // headless: the back buffer is the frame; never sleeps
    }
    // Pacing, without the device lock (other threads' uploads go on meanwhile): wake about 3 ms
    // before the next refresh period, sleeping at least 1 ms.
    const std::int64_t period = 1000 / (RefreshRate > 0 ? RefreshRate : 60);
    const std::int64_t now = PacingNow();
    const std::int64_t wait = std::clamp<std::int64_t>(period - (now - lastPresentMs.load()), 1, period);
    PacingSleep(std::max<std::int64_t>(1, wait - 3));
    lastPresentMs = PacingNow();
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    int w = 0, h = 0;
    Context()->DrawableSize(w, h);
    const TRect src = count > 0 && sourceRects ? sourceRects[0] : TRect{0, 0, width_, height_};
    const TRect dst = count > 0 && destRects ? destRects[0] : TRect{0, 0, w, h};
    glBindFramebuffer(GL_READ_FRAMEBUFFER, backFbo_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(src.left, src.top, src.right, src.bottom, dst.left, h - dst.top, dst.right,
                      h - dst.bottom, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    Context()->Swap();
    lastPresentMs = PacingNow();
    const bool ok = call.Done();
    ApplyTarget();
    return ok;
}

bool T3DRendererGL::Clear(const TRect* rects, int count, unsigned flags, std::uint32_t color, float) {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    if (!(flags & kClearTarget)) return call.Done(); // no depth buffer: nothing to clear
    ApplyTarget();
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 ((color >> 24) & 0xFF) / 255.0f);
    glEnable(GL_SCISSOR_TEST);
    const int n = rects && count > 0 ? count : 1;
    for (int i = 0; i < n; ++i) {
        const TRect r = rects && count > 0 ? Intersect(rects[i], viewport_) : viewport_;
        if (r.IsEmpty()) continue;
        glScissor(r.left, r.top, r.Width(), r.Height());
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
    return call.Done();
}

bool T3DRendererGL::SetRenderTarget(T3DSurface* surface) {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    T3DSurface* target = surface ? surface : backBuffer_.Get();
    KIV_ASSERT(dynamic_cast<T3DSurfaceGL*>(target), "not a surface");
    auto* gl = static_cast<T3DSurfaceGL*>(target);
    if (gl->Killed() || !gl->Framebuffer()) {
        LastError = kErrInvalidCall;
        return false;
    }
    currentTarget_ = ShareRef(target);
    const TPoint size = target->GetSize();
    viewport_ = {0, 0, size.x, size.y}; // a new target resets the viewport to all of it
    ApplyTarget();
    return call.Done();
}

bool T3DRendererGL::GetBackBuffer(T3DSurface*& backBuffer) {
    TDeviceLockGuard guard; // state the drawing thread reads under the lock
    backBuffer = backBuffer_.Get();
    return backBuffer != nullptr && !backBuffer_->Killed();
}

bool T3DRendererGL::SetViewport(const TRect& rect, float minZ, float maxZ) {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    viewport_ = rect;
    glViewport(rect.left, rect.top, rect.Width(), rect.Height());
    glDepthRange(minZ, maxZ);
    return call.Done();
}

unsigned T3DRendererGL::FixedVertex(int texSets) {
    unsigned& shader = fixedVertex_[static_cast<std::size_t>(texSets)];
    if (!shader)
        shader =
            CompileShaderStage(GL_VERTEX_SHADER, "#version 330 core\n#define TEXSETS " +
                                                     std::to_string(texSets) + "\n" + kShader_fixed_vert);
    return shader;
}

T3DRendererGL::TProgram T3DRendererGL::Finish(unsigned program) {
    TProgram p;
    p.name = program;
    if (!program) return p;
    glUseProgram(program);
    for (int i = 0; i < 8; ++i) {
        const char sampler[3] = {'s', static_cast<char>('0' + i), '\0'};
        glUniform1i(glGetUniformLocation(program, sampler), i);
    }
    p.worldViewProj = glGetUniformLocation(program, "uWorldViewProj");
    p.pixelConstants = glGetUniformLocation(program, "c");
    p.vertexConstants = glGetUniformLocation(program, "vc");
    return p;
}

const T3DRendererGL::TProgram* T3DRendererGL::StageProgram(int stages, const int* ops) {
    std::uint32_t key = static_cast<std::uint32_t>(stages);
    for (int i = 0; i < stages; ++i)
        key |= static_cast<std::uint32_t>(ops[i * 2] | (ops[i * 2 + 1] << 1)) << (4 + i * 3);
    auto found = stagePrograms_.find(key);
    if (found != stagePrograms_.end()) return found->second.name ? &found->second : nullptr;
    const int texSets = std::max(1, stages);
    std::string defines = "#version 330 core\n#define STAGES " + std::to_string(stages) +
                          "\n#define TEXSETS " + std::to_string(texSets) + "\n";
    for (int i = 0; i < stages; ++i)
        defines += "#define OPC" + std::to_string(i) + " " + std::to_string(ops[i * 2]) + "\n#define OPA" +
                   std::to_string(i) + " " + std::to_string(ops[i * 2 + 1]) + "\n";
    const GLuint vertex = FixedVertex(texSets);
    const GLuint fragment = CompileShaderStage(GL_FRAGMENT_SHADER, defines + kShader_fixed_stages_frag);
    const GLuint program = vertex && fragment ? LinkProgram(vertex, fragment) : 0;
    if (fragment) glDeleteShader(fragment);
    TProgram& p = stagePrograms_[key] = Finish(program);
    return p.name ? &p : nullptr;
}

const T3DRendererGL::TProgram* T3DRendererGL::ShaderProgram() {
    auto* pixel = static_cast<T3DShaderGL*>(pixelShader_.Get());
    auto* vertex = static_cast<T3DShaderGL*>(vertexShader_.Get());
    const auto key = std::make_pair(vertex ? vertex->Serial() : 0, pixel ? pixel->Serial() : 0);
    auto found = shaderPrograms_.find(key);
    if (found != shaderPrograms_.end()) return found->second.name ? &found->second : nullptr;
    unsigned program = 0;
    if (pixel) {
        const GLuint v = vertex ? vertex->Name() : FixedVertex(8);
        if (v) program = LinkProgram(v, pixel->Name());
    }
    TProgram& p = shaderPrograms_[key] = Finish(program);
    return p.name ? &p : nullptr;
}

bool T3DRendererGL::DrawVertexList(const std::vector<T3DTexture*>& textures, T3DVertexList* list,
                                   unsigned flags) {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    auto* vl = dynamic_cast<T3DVertexListGL*>(list);
    if (!vl || vl->Killed()) {
        LastError = kErrInvalidCall;
        return false;
    }
    const bool textured = flags & kDrawTextured;
    const int stages = textured ? static_cast<int>(std::min<std::size_t>(textures.size(), 8)) : 0;
    int ops[16] = {};
    bool anyPremultiplied = false;
    const bool aniso = T3DEngineGL::AnisotropyEnabled() && anisotropic_;
    for (int i = 0; i < stages; ++i) {
        auto* t = dynamic_cast<T3DTextureGL*>(textures[static_cast<std::size_t>(i)]);
        if (!t || t->Killed()) continue; // an unbound stage samples black
        t->Fence().Wait();               // uploaded on the upload context: visible from here on
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
        glBindTexture(GL_TEXTURE_2D, t->Name());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, AddressMode(t->AddressU));
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, AddressMode(t->AddressV));
        const bool linear = t->Filter == kFilterLinear;
        const bool mip = t->Mipmapped && linear && t->LevelCount() > 1;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                        mip ? GL_LINEAR_MIPMAP_LINEAR : (linear ? GL_LINEAR : GL_NEAREST));
        if (aniso) glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, mip ? 4.0f : 1.0f);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, mip ? t->LodBias : 0.0f);
        ops[i * 2] = (flags & kDrawVertexColors) ? 1 : 0;
        if (flags & kDrawTextureAlpha) {
            const bool vertexAlphaOnly =
                t->Kind == kTexTargetOpaque || (t->Kind == kTexTargetAlpha && !t->Premultiplied);
            ops[i * 2 + 1] = vertexAlphaOnly ? 2 : 1;
        } else {
            ops[i * 2 + 1] = 0;
        }
        anyPremultiplied = anyPremultiplied || t->Premultiplied;
    }
    const TProgram* program = pixelShader_ ? ShaderProgram() : StageProgram(stages, ops);
    if (!program) {
        LastError = kErrInvalidCall;
        return false;
    }
    glUseProgram(program->name);
    const TMatrix wvp = world_ * view_ * projection_;
    glUniformMatrix4fv(program->worldViewProj, 1, GL_FALSE, wvp.m.data());
    if (program->pixelConstants >= 0) glUniform4fv(program->pixelConstants, 32, pixelConstants_.data());
    if (program->vertexConstants >= 0) glUniform4fv(program->vertexConstants, 32, vertexConstants_.data());
    // Blend rules.
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    auto* target = static_cast<T3DSurfaceGL*>(currentTarget_.Get());
    const bool targetPremultiplied = target && target->Texture() && target->Texture()->Premultiplied;
    if (BlendMode == kBlendReplace) {
        glDisable(GL_BLEND);
    } else if (BlendMode == kBlendMax) {
        glBlendEquation(GL_MAX);
    } else if (BlendMode == kBlendSeparateAlpha) {
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    } else if (anyPremultiplied) {
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA); // premultiplied "over"
    } else if (targetPremultiplied) {
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    }
    glBindVertexArray(vl->VertexArray());
    if (!vl->HasDiffuse()) glVertexAttrib4f(1, 1, 1, 1, 1); // no colours: white, opaque
    int vertices = 0;
    const GLenum mode = PrimitiveMode(vl->PrimitiveType(), vl->PrimitiveCount(), vertices);
    if (vertices > 0) glDrawArrays(mode, vl->Start(), vertices);
    glBindVertexArray(0);
    if (textured)
        for (int i = stages - 1; i >= 0; --i) {
            glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
            glBindTexture(GL_TEXTURE_2D, 0);
        }
    glActiveTexture(GL_TEXTURE0);
    return call.Done();
}

bool T3DRendererGL::SetTexture(int stage, TBaseTexture* texture) {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    if (stage < 0 || stage >= 8) {
        LastError = kErrInvalidCall;
        return false;
    }
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(stage));
    if (auto* v = dynamic_cast<TVolumeTextureGL*>(texture)) {
        v->Fence().Wait();
        glBindTexture(GL_TEXTURE_3D, v->Name());
        glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R})
            glTexParameteri(GL_TEXTURE_3D, wrap, GL_CLAMP_TO_EDGE);
    } else if (auto* t = dynamic_cast<T3DTextureGL*>(texture)) {
        t->Fence().Wait();
        glBindTexture(GL_TEXTURE_2D, t->Name());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    } else {
        glBindTexture(GL_TEXTURE_2D, 0);
        glBindTexture(GL_TEXTURE_3D, 0);
    }
    glActiveTexture(GL_TEXTURE0);
    return call.Done();
}

TRef<T3DTexture> T3DRendererGL::CreateTexture(int kind, int width, int height, bool mipmapped) {
    KIV_ASSERT(kind >= 0 && kind <= kTex565, "invalid texture kind");
    TRendererCall call(*this, !IsTargetKind(kind));
    if (!call.Ok()) return {};
    int levels = 1;
    const bool managed = !IsTargetKind(kind);
    if (managed && mipmapped && T3DEngineGL::AnisotropyEnabled())
        while ((std::max(width, height) >> (levels - 1)) > 1)
            ++levels;
    auto texture = MakeRef<T3DTextureGL>(store_, kind, width, height, levels);
    texture->Mipmapped = mipmapped;
    if (!texture->Create()) {
        LastError = texture->LastError;
        glGetError();
        return {};
    }
    if (call.OnUploadContext()) {
        glBindTexture(GL_TEXTURE_2D, 0);
        texture->Fence().Set();
    }
    store_->Textures.push_back(texture.Get());
    if (!call.Done()) return {};
    return texture;
}

TRef<TVolumeTexture> T3DRendererGL::CreateVolumeTexture(int width, int height, int depth) {
    TRendererCall call(*this, true);
    if (!call.Ok()) return {};
    auto texture = MakeRef<TVolumeTextureGL>(store_, width, height, depth);
    store_->Textures.push_back(texture.Get());
    if (!texture->Create()) {
        LastError = texture->LastError;
        return {};
    }
    if (call.OnUploadContext()) {
        glBindTexture(GL_TEXTURE_3D, 0);
        texture->Fence().Set();
    }
    if (!call.Done()) return {};
    return texture;
}

TRef<T3DVertexList> T3DRendererGL::CreateVertexList(int vertexCount, unsigned flags, int texCoordSets) {
    TRendererCall call(*this);
    if (!call.Ok()) return {};
    auto list = MakeRef<T3DVertexListGL>(store_, vertexCount, flags, texCoordSets);
    store_->VertexLists.push_back(list.Get());
    if (!list->Create()) {
        LastError = list->LastError;
        return {};
    }
    if (!call.Done()) return {};
    return list;
}

bool T3DRendererGL::StretchRects(T3DSurface* source, T3DSurface* dest, int count, const TRect* sourceRects,
                                 const TRect* destRects) {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    auto* src = dynamic_cast<T3DSurfaceGL*>(source);
    auto* dst = dynamic_cast<T3DSurfaceGL*>(dest);
    KIV_ASSERT(src && dst, "not a surface");
    const unsigned srcFbo = src->Framebuffer();
    const unsigned dstFbo = dst->Framebuffer();
    if (!srcFbo || !dstFbo) {
        LastError = kErrInvalidCall;
        return false;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, srcFbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, dstFbo);
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        const TRect& s = sourceRects[i];
        const TRect& d = destRects[i];
        glBlitFramebuffer(s.left, s.top, s.right, s.bottom, d.left, d.top, d.right, d.bottom,
                          GL_COLOR_BUFFER_BIT, GL_NEAREST);
        ok = glGetError() == GL_NO_ERROR;
    }
    ApplyTarget();
    if (!ok) {
        LastError = kErrInvalidCall;
        return false;
    }
    return call.Done();
}

bool T3DRendererGL::SetBlendMode(int mode) {
    TDeviceLockGuard guard; // state the drawing thread reads under the lock
    BlendMode = mode;
    return State == kStateReady;
}

bool T3DRendererGL::SetTransform(int kind, const TMatrix& matrix) {
    TDeviceLockGuard guard; // state the drawing thread reads under the lock
    switch (kind) {
    case kTransformWorld:
        world_ = matrix;
        break;
    case kTransformView:
        view_ = matrix;
        break;
    case kTransformProjection:
        projection_ = matrix;
        break;
    default:
        KIV_FAIL("invalid transform kind");
    }
    return State == kStateReady;
}

bool T3DRendererGL::SetCullNone(bool none) {
    TRendererCall call(*this);
    if (!call.Ok()) return false;
    cullNone_ = none;
    if (none)
        glDisable(GL_CULL_FACE);
    else {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
    }
    return call.Done();
}

TRef<T3DShader> T3DRendererGL::CreateShader(const std::string& code, bool isVertex) {
    TRendererCall call(*this);
    if (!call.Ok()) return {};
    auto shader = MakeRef<T3DShaderGL>(store_, isVertex);
    store_->Shaders.push_back(shader.Get());
    if (!shader->Create(code)) {
        LastError = kErrInvalidCall;
        return {};
    }
    if (!call.Done()) return {};
    return shader;
}

bool T3DRendererGL::SetShader(T3DShader* shader) {
    TDeviceLockGuard guard; // state the drawing thread reads under the lock
    if (!shader) {
        pixelShader_.Reset();
        vertexShader_.Reset();
    } else if (shader->IsVertex()) {
        vertexShader_ = ShareRef(shader);
    } else {
        pixelShader_ = ShareRef(shader);
    }
    return State == kStateReady;
}

bool T3DRendererGL::SetShaderConstants(int startRegister, const float* data, int count, bool isVertex) {
    TDeviceLockGuard guard;
    if (startRegister < 0 || count < 0 || startRegister + count > 32) {
        LastError = kErrInvalidCall;
        return false;
    }
    auto& file = isVertex ? vertexConstants_ : pixelConstants_;
    std::copy(data, data + count * 4, file.begin() + startRegister * 4);
    return State == kStateReady;
}

} // namespace kiv
