#include "render/gl/ResourcesGL.h"

#include "base/Assert.h"
#include "base/Log.h"
#include "render/DevStore.h"
#include "render/DeviceLock.h"
#include "render/gl/GLContext.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace kiv {
namespace {

std::atomic<std::int64_t> textureBudget{-1};
std::atomic<std::int64_t> textureBytes{0};
std::atomic<std::uint64_t> shaderSerial{0};

// Makes the store's context current here; false for a killed resource or a busy context.
bool Use(TDevStore* store) {
    if (!store || !store->Device()) return false;
    return static_cast<TGLContext*>(store->Device())->MakeCurrent();
}

TGLContext* ContextOf(TDevStore* store) {
    return store ? static_cast<TGLContext*>(store->Device()) : nullptr;
}

// Makes the store's context current here to release objects; false (with the objects to be
// queued) while another thread holds it, or for a killed resource.
bool UseToRelease(TDevStore* store) {
    TGLContext* context = ContextOf(store);
    if (!context || context->HeldElsewhere()) return false;
    return context->MakeCurrent();
}

// Textures worth keeping for reuse, and how much the device context keeps at most.
constexpr std::int64_t kRecycleFrom = std::int64_t{1} << 20;
constexpr std::int64_t kRecycleBudget = std::int64_t{128} << 20;

bool Recyclable(int kind) {
    return kind == kTexColor || kind == kTexGrey;
}

// A kept texture of that kind and size that no draw reads any more, taken from the context's
// list; 0 when there is none. A context with a current context of its share group.
unsigned TakeRecycled(TGLContext& context, int kind, int width, int height, int levels) {
    if (context.Recycled.empty() || !context.FrameFence) return 0;
    bool frameDone = false;
    for (auto it = context.Recycled.begin(); it != context.Recycled.end(); ++it) {
        if (it->kind != kind || it->width != width || it->height != height || it->levels != levels) continue;
        if (it->serial >= context.FrameSerial) continue; // no frame ended since it was given up
        if (!frameDone) {
            const GLenum state = glClientWaitSync(static_cast<GLsync>(context.FrameFence), 0, 0);
            if (state != GL_ALREADY_SIGNALED && state != GL_CONDITION_SATISFIED) return 0;
            frameDone = true;
        }
        const unsigned name = it->name;
        context.RecycledBytes -= it->bytes;
        context.Recycled.erase(it);
        return name;
    }
    return 0;
}

// Immutable texture storage (GL 4.2, or the extension on older contexts), asked once: every
// context here comes from the same driver.
bool HasTextureStorage() {
    static const bool has = epoxy_gl_version() >= 42 || epoxy_has_gl_extension("GL_ARB_texture_storage");
    return has;
}

template <class T> void Unlist(TDevStore* store, std::vector<T*>& list, T* item) {
    if (store) std::erase(list, item);
}

struct TGLFormat {
    GLenum internal;
    GLenum format;
    GLenum type;
    TPixelFormat pixel;
};

TGLFormat FormatOf(int kind) {
    switch (kind) {
    case kTexGrey:
        return {GL_R8, GL_RED, GL_UNSIGNED_BYTE, TPixelFormat::Grey8};
    case kTex565:
        return {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, TPixelFormat::Rgb565};
    case kTexColor:
        // Picture texels keep their own byte order (blue, green, red, alpha) in the device's RGBA8
        // storage and the texture's swizzle swaps red and blue back when sampled: the driver
        // copies rows instead of reordering every texel (a read-back returns the same bytes).
        return {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, TPixelFormat::Bgra32};
    default:
        return {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, TPixelFormat::Bgra32};
    }
}

void SetUnpack(const TBitmap& bitmap) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(bitmap.Stride() / BytesPerPixel(bitmap.Format())));
}

void SetPack(const TBitmap& bitmap) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(bitmap.Stride() / BytesPerPixel(bitmap.Format())));
}

void ResetPixelStore() {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0);
}

// Reads `rect` of the framebuffer `fbo` into `target`, top row first.
bool ReadFramebuffer(unsigned fbo, const TRect& rect, TBitmap& target) {
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    SetPack(target);
    glReadPixels(rect.left, rect.top, rect.Width(), rect.Height(), GL_BGRA, GL_UNSIGNED_BYTE,
                 target.Pixels());
    ResetPixelStore();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previous));
    return glGetError() == GL_NO_ERROR;
}

} // namespace

void TUploadFence::Set() {
    Drop();
    sync_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    glFlush();
}

void TUploadFence::Wait() {
    if (!sync_) return;
    const auto start = std::chrono::steady_clock::now();
    glWaitSync(static_cast<GLsync>(sync_), 0, GL_TIMEOUT_IGNORED);
    Drop();
    ThreadLockWaitNanos() +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count();
}

void TUploadFence::Drop() {
    if (sync_) glDeleteSync(static_cast<GLsync>(sync_));
    sync_ = nullptr;
}

void SetTextureBudgetForTesting(std::int64_t bytes) {
    textureBudget = bytes;
}
std::int64_t TextureBytesInUse() {
    return textureBytes.load();
}

unsigned CompileShaderStage(unsigned type, const std::string& source) {
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        TLog::Line(std::string("Shader compile failed: ") + log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

unsigned LinkProgram(unsigned vertex, unsigned fragment) {
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        TLog::Line(std::string("Shader link failed: ") + log);
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

// ---- surfaces

T3DSurfaceGL::T3DSurfaceGL(TDevStore* store, T3DTextureGL* texture, int level, unsigned glTexture, int width,
                           int height, TPixelFormat format, bool renderTarget)
    : T3DSurface(store), texture_(texture), level_(level), glTexture_(glTexture), width_(width),
      height_(height), format_(format), renderTarget_(renderTarget) {}

T3DSurfaceGL::~T3DSurfaceGL() {
    TDeviceLockGuard guard;
    if (!fbo_ || !ownsFbo_) return;
    if (UseToRelease(store_))
        glDeleteFramebuffers(1, &fbo_);
    else if (TGLContext* context = ContextOf(store_))
        context->DeleteLater(TGLContext::TLater::Framebuffer, fbo_);
}

unsigned T3DSurfaceGL::Framebuffer() {
    if (fbo_ || Killed() || !glTexture_) return fbo_;
    glGenFramebuffers(1, &fbo_);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, glTexture_, level_);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        TLog::Line("Render target framebuffer incomplete");
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &fbo_);
        fbo_ = 0;
        return 0;
    }
    return fbo_;
}

bool T3DSurfaceGL::CopyTo(TBitmap& target) {
    TDeviceLockGuard guard;
    KIV_ASSERT(target.Format() == TPixelFormat::Bgra32 && target.Width() == width_ &&
                   target.Height() == height_,
               "CopyTo needs a 32-bit bitmap of the surface's size");
    if (Killed()) return false;
    if (renderTarget_) {
        if (!Use(store_)) return false;
        const unsigned fbo = Framebuffer();
        if (!fbo) return false;
        return ReadFramebuffer(fbo, {0, 0, width_, height_}, target);
    }
    // An ordinary level: its CPU copy, converted to 32 bits.
    TBitmap& shadow = texture_->Shadow(level_);
    if (shadow.Format() == TPixelFormat::Bgra32) {
        for (int y = 0; y < height_; ++y)
            std::memcpy(target.Row(y), shadow.Row(y), shadow.RowBytes());
        return true;
    }
    TRef<TBitmap> converted = ConvertBitmap(shadow, TPixelFormat::Bgra32);
    for (int y = 0; y < height_; ++y)
        std::memcpy(target.Row(y), converted->Row(y), converted->RowBytes());
    return true;
}

TRef<TBitmap> T3DSurfaceGL::Lock(const TRect& rect, bool readOnly) {
    TDeviceLockGuard guard;
    KIV_ASSERT(!locked_, "surface locked twice");
    const TRect r = Intersect(rect, {0, 0, width_, height_});
    // Only render targets are read from GL; other levels hand out their CPU copy.
    if (r.IsEmpty() || Killed() || (renderTarget_ && !Use(store_))) {
        LastError = kErrInvalidCall;
        return {};
    }
    TRef<TBitmap> bitmap;
    if (renderTarget_) {
        const unsigned fbo = Framebuffer();
        bitmap = MakeRef<TBitmap>(r.Width(), r.Height(), TPixelFormat::Bgra32, false);
        if (!fbo || !ReadFramebuffer(fbo, r, *bitmap)) {
            LastError = kErrInvalidCall;
            return {};
        }
    } else {
        TBitmap& shadow = texture_->Shadow(level_);
        const int bpp = BytesPerPixel(shadow.Format());
        if (readOnly) {
            // A copy: what a reader does to it never reaches the texture's copy.
            bitmap = MakeRef<TBitmap>(r.Width(), r.Height(), shadow.Format(), false);
            for (int y = 0; y < r.Height(); ++y)
                std::memcpy(bitmap->Row(y), shadow.Row(r.top + y) + r.left * bpp, bitmap->RowBytes());
            lockRect_ = r;
            lockReadOnly_ = true;
            locked_ = true;
            LastError = kErrNone;
            return bitmap;
        }
        shadow.AddRef(); // the locked bitmap keeps the level's copy alive
        auto keeper = TRef<TRefObject>::Adopt(&shadow);
        bitmap = MakeRef<TBitmap>(r.Width(), r.Height(), shadow.Format(), shadow.Row(r.top) + r.left * bpp,
                                  shadow.Stride(), std::move(keeper));
    }
    lockRect_ = r;
    lockReadOnly_ = readOnly;
    locked_ = true;
    LastError = kErrNone;
    return bitmap;
}

void T3DSurfaceGL::Unlock(TBitmap* bitmap) {
    TDeviceLockGuard guard;
    if (!locked_) return;
    locked_ = false;
    if (lockReadOnly_ || !bitmap || Killed() || !glTexture_) return;
    TTextureContextScope scope(ContextOf(store_));
    if (!scope.Ok()) return;
    const TGLFormat f = FormatOf(texture_ ? int{texture_->Kind} : int{kTexColor});
    glBindTexture(GL_TEXTURE_2D, glTexture_);
    SetUnpack(*bitmap);
    glTexSubImage2D(GL_TEXTURE_2D, level_, lockRect_.left, lockRect_.top, lockRect_.Width(),
                    lockRect_.Height(), f.format, f.type, bitmap->Pixels());
    ResetPixelStore();
    if (scope.OnUploadContext()) {
        // The upload context lets go of the texture (a binding would keep a deleted one alive).
        glBindTexture(GL_TEXTURE_2D, 0);
        if (texture_) texture_->Fence().Set();
    }
    const GLenum error = glGetError();
    LastError = error == GL_NO_ERROR        ? kErrNone
                : error == GL_OUT_OF_MEMORY ? kErrOutOfMemory
                                            : kErrInvalidCall;
}

bool T3DSurfaceGL::Write(const TRect& rect, const TBitmap& source, int sourceX, int sourceY) {
    TDeviceLockGuard guard;
    if (renderTarget_ || !texture_ || Killed() || !glTexture_) return T3DSurface::Write(rect, source, sourceX, sourceY);
    const TGLFormat f = FormatOf(texture_->Kind);
    if (locked_ || source.Format() != f.pixel || rect.IsEmpty() || rect.left < 0 || rect.top < 0 ||
        rect.right > width_ || rect.bottom > height_ || sourceX < 0 || sourceY < 0 ||
        sourceX + rect.Width() > source.Width() || sourceY + rect.Height() > source.Height()) {
        LastError = kErrInvalidCall;
        return false;
    }
    TTextureContextScope scope(ContextOf(store_));
    if (!scope.Ok()) {
        LastError = kErrInvalidCall;
        return false;
    }
    const int bpp = BytesPerPixel(source.Format());
    glBindTexture(GL_TEXTURE_2D, glTexture_);
    SetUnpack(source);
    glTexSubImage2D(GL_TEXTURE_2D, level_, rect.left, rect.top, rect.Width(), rect.Height(), f.format, f.type,
                    source.Row(sourceY) + sourceX * bpp);
    ResetPixelStore();
    if (scope.OnUploadContext()) {
        glBindTexture(GL_TEXTURE_2D, 0);
        texture_->Fence().Set();
    }
    texture_->DropShadow(level_);
    const GLenum error = glGetError();
    LastError = error == GL_NO_ERROR        ? kErrNone
                : error == GL_OUT_OF_MEMORY ? kErrOutOfMemory
                                            : kErrInvalidCall;
    return LastError == kErrNone;
}

// ---- 2-D textures

T3DTextureGL::T3DTextureGL(TDevStore* store, int kind, int width, int height, int levels)
    : T3DTexture(store), width_(width), height_(height), levels_(levels) {
    Kind = static_cast<std::uint8_t>(kind);
}

std::int64_t T3DTextureGL::Bytes() const {
    std::int64_t total = 0;
    const int bpp = Kind == kTexGrey ? 1 : Kind == kTex565 ? 2 : 4;
    for (int i = 0; i < levels_; ++i)
        total += std::int64_t{std::max(1, width_ >> i)} * std::max(1, height_ >> i) * bpp;
    return total;
}

bool T3DTextureGL::Create() {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (width_ <= 0 || height_ <= 0 || width_ > maxSize || height_ > maxSize) {
        TLog::Line("Texture size " + std::to_string(width_) + " x " + std::to_string(height_) +
                   " is beyond the device's limit " + std::to_string(maxSize));
        LastError = kErrInvalidCall;
        return false;
    }
    const std::int64_t bytes = Bytes();
    const std::int64_t budget = textureBudget.load();
    if (budget >= 0 && textureBytes.load() + bytes > budget) {
        TLog::Line("Out of video memory for a texture of " + std::to_string(width_) + " x " +
                   std::to_string(height_));
        LastError = kErrOutOfMemory;
        return false;
    }
    const TGLFormat f = FormatOf(Kind);
    TGLContext* context = ContextOf(store_);
    name_ = context && Recyclable(Kind) ? TakeRecycled(*context, Kind, width_, height_, levels_) : 0;
    if (name_) {
        glBindTexture(GL_TEXTURE_2D, name_); // its storage is there already; the texels are undefined
    } else {
        glGenTextures(1, &name_);
        glBindTexture(GL_TEXTURE_2D, name_);
        if (HasTextureStorage()) {
            // Every level's storage at once: the driver lays out the whole chain in one go
            // instead of guessing it level by level.
            glTexStorage2D(GL_TEXTURE_2D, levels_, f.internal, width_, height_);
        } else {
            for (int i = 0; i < levels_; ++i)
                glTexImage2D(GL_TEXTURE_2D, i, static_cast<GLint>(f.internal), std::max(1, width_ >> i),
                             std::max(1, height_ >> i), 0, f.format, f.type, nullptr);
        }
    }
    // A texture without its level range set samples black.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels_ - 1);
    if (Kind == kTexColor) {
        const GLint swizzle[4] = {GL_BLUE, GL_GREEN, GL_RED, GL_ALPHA};
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    } else if (Kind == kTexTargetOpaque) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    } else if (Kind == kTexGrey) {
        const GLint swizzle[4] = {GL_RED, GL_RED, GL_RED, GL_ONE};
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    }
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        glDeleteTextures(1, &name_);
        name_ = 0;
        LastError = error == GL_OUT_OF_MEMORY ? kErrOutOfMemory : kErrInvalidCall;
        TLog::Line(std::string(error == GL_OUT_OF_MEMORY ? "Out of video memory" : "The device refused") +
                   " for a texture of " + std::to_string(width_) + " x " + std::to_string(height_));
        return false;
    }
    textureBytes += bytes;
    counted_ = true;
    surfaces_.resize(static_cast<std::size_t>(levels_));
    shadows_.resize(static_cast<std::size_t>(levels_));
    written_.assign(static_cast<std::size_t>(levels_), false);
    LastError = kErrNone;
    return true;
}

T3DTextureGL::~T3DTextureGL() {
    TDeviceLockGuard guard;
    for (auto& s : surfaces_)
        if (s) s->ForgetTexture();
    surfaces_.clear();
    if (counted_) textureBytes -= Bytes();
    if (store_ && (name_ || fence_.Pending())) {
        // Textures are shared: the upload context may release what the drawing context made.
        TTextureContextScope scope(ContextOf(store_));
        if (scope.Ok()) {
            fence_.Drop();
            TGLContext* context = ContextOf(store_);
            const std::int64_t bytes = Bytes();
            if (name_ && counted_ && Recyclable(Kind) && bytes >= kRecycleFrom &&
                context->RecycledBytes + bytes <= kRecycleBudget) {
                if (scope.OnUploadContext()) glBindTexture(GL_TEXTURE_2D, 0);
                context->Recycled.push_back(
                    {name_, Kind, width_, height_, levels_, bytes, context->FrameSerial});
                context->RecycledBytes += bytes;
            } else if (name_) {
                glDeleteTextures(1, &name_);
            }
        }
    }
    if (store_) std::erase(store_->Textures, static_cast<TBaseTexture*>(this));
}

void T3DTextureGL::Kill() {
    if (counted_) textureBytes -= Bytes();
    counted_ = false;
    fence_.Forget();
    for (auto& s : surfaces_)
        if (s) s->Kill();
    T3DTexture::Kill();
}

TBitmap& T3DTextureGL::Shadow(int level) {
    auto& shadow = shadows_[static_cast<std::size_t>(level)];
    if (shadow) return *shadow;
    const TGLFormat f = FormatOf(Kind);
    const bool readBack = written_[static_cast<std::size_t>(level)];
    // Not cleared: the level's texels are undefined until written, and clearing a large level
    // under the device lock would hold up the drawing thread.
    shadow = MakeRef<TBitmap>(std::max(1, width_ >> level), std::max(1, height_ >> level), f.pixel, false);
    if (!readBack) return *shadow;
    written_[static_cast<std::size_t>(level)] = false;
    TTextureContextScope scope(ContextOf(store_));
    if (!scope.Ok()) return *shadow;
    glBindTexture(GL_TEXTURE_2D, name_);
    SetPack(*shadow);
    glGetTexImage(GL_TEXTURE_2D, level, f.format, f.type, shadow->Pixels());
    ResetPixelStore();
    if (scope.OnUploadContext()) glBindTexture(GL_TEXTURE_2D, 0);
    return *shadow;
}

void T3DTextureGL::DropShadow(int level) {
    if (level < 0 || level >= levels_) return;
    shadows_[static_cast<std::size_t>(level)].Reset();
    written_[static_cast<std::size_t>(level)] = true;
}

T3DSurface* T3DTextureGL::GetSurface(int level) {
    TDeviceLockGuard guard;
    if (level < 0 || level >= levels_ || Killed()) return nullptr;
    auto& surface = surfaces_[static_cast<std::size_t>(level)];
    if (!surface)
        surface =
            MakeRef<T3DSurfaceGL>(store_, this, level, name_, std::max(1, width_ >> level),
                                  std::max(1, height_ >> level), FormatOf(Kind).pixel, IsTargetKind(Kind));
    return surface.Get();
}

// ---- volume textures

TVolumeTextureGL::TVolumeTextureGL(TDevStore* store, int width, int height, int depth)
    : TVolumeTexture(store), width_(width), height_(height), depth_(depth) {}

bool TVolumeTextureGL::Create() {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &maxSize);
    if (width_ <= 0 || height_ <= 0 || depth_ <= 0 || width_ > maxSize || height_ > maxSize ||
        depth_ > maxSize) {
        TLog::Line("Volume texture size " + std::to_string(width_) + " x " + std::to_string(height_) + " x " +
                   std::to_string(depth_) + " is beyond the device's limit " + std::to_string(maxSize));
        LastError = kErrInvalidCall;
        return false;
    }
    shadow_.assign(static_cast<std::size_t>(width_) * height_ * depth_ * 4, 0);
    glGenTextures(1, &name_);
    glBindTexture(GL_TEXTURE_3D, name_);
    glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA8, width_, height_, depth_, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 shadow_.data());
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAX_LEVEL, 0);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        glDeleteTextures(1, &name_);
        name_ = 0;
        LastError = error == GL_OUT_OF_MEMORY ? kErrOutOfMemory : kErrInvalidCall;
        return false;
    }
    return true;
}

TVolumeTextureGL::~TVolumeTextureGL() {
    TDeviceLockGuard guard;
    if (store_ && (name_ || fence_.Pending())) {
        TTextureContextScope scope(ContextOf(store_));
        if (scope.Ok()) {
            fence_.Drop();
            if (name_) glDeleteTextures(1, &name_);
        }
    }
    if (store_) std::erase(store_->Textures, static_cast<TBaseTexture*>(this));
}

void TVolumeTextureGL::Kill() {
    fence_.Forget();
    TVolumeTexture::Kill();
}

TRef<TBitmap> TVolumeTextureGL::LockLevel(int level, const TBox& box) {
    TDeviceLockGuard guard;
    if (level != 0 || locked_ || Killed() || box.left < 0 || box.top < 0 || box.front < 0 ||
        box.right > width_ || box.bottom > height_ || box.back > depth_ || box.right <= box.left ||
        box.bottom <= box.top || box.back <= box.front) {
        LastError = kErrInvalidCall;
        return {};
    }
    const int w = box.right - box.left, h = box.bottom - box.top, d = box.back - box.front;
    auto bitmap = MakeRef<TBitmap>(w, h * d, TPixelFormat::Bgra32, false);
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            std::memcpy(bitmap->Row(z * h + y),
                        &shadow_[((static_cast<std::size_t>(box.front + z) * height_ + box.top + y) * width_ +
                                  box.left) *
                                 4],
                        static_cast<std::size_t>(w) * 4);
    lockBox_ = box;
    locked_ = true;
    return bitmap;
}

void TVolumeTextureGL::UnlockLevel(int, TBitmap* bitmap) {
    TDeviceLockGuard guard;
    if (!locked_) return;
    locked_ = false;
    if (!bitmap) return;
    const TBox& box = lockBox_;
    const int w = box.right - box.left, h = box.bottom - box.top, d = box.back - box.front;
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            std::memcpy(&shadow_[((static_cast<std::size_t>(box.front + z) * height_ + box.top + y) * width_ +
                                  box.left) *
                                 4],
                        bitmap->Row(z * h + y), static_cast<std::size_t>(w) * 4);
    if (Killed()) return;
    TTextureContextScope scope(ContextOf(store_));
    if (!scope.Ok()) return;
    glBindTexture(GL_TEXTURE_3D, name_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, width_, height_, depth_, GL_BGRA, GL_UNSIGNED_BYTE,
                    shadow_.data());
    if (scope.OnUploadContext()) {
        glBindTexture(GL_TEXTURE_3D, 0);
        fence_.Set();
    }
    LastError = glGetError() == GL_NO_ERROR ? kErrNone : kErrInvalidCall;
}

// ---- vertex lists

T3DVertexListGL::T3DVertexListGL(TDevStore* store, int vertexCount, unsigned flags, int texCoordSets)
    : T3DVertexList(store), count_(vertexCount), flags_(flags), sets_(texCoordSets) {
    stride_ = 12 + ((flags & kVertexDiffuse) ? 4 : 0) + ((flags & kVertexSpecular) ? 4 : 0) +
              ((flags & kVertexNormal) ? 12 : 0) + 8 * texCoordSets;
}

bool T3DVertexListGL::Create() {
    if (count_ <= 0 || sets_ < 0 || sets_ > 8) {
        LastError = kErrInvalidCall;
        return false;
    }
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &vbo_);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count_) * stride_, nullptr, GL_DYNAMIC_DRAW);
    // Layout in Direct3D's order: position, normal, diffuse, specular, texture coordinates.
    std::size_t offset = 0;
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride_, reinterpret_cast<void*>(offset));
    offset += 12;
    if (flags_ & kVertexNormal) {
        glEnableVertexAttribArray(3);
        glVertexAttribPointer(3, 3, GL_FLOAT, GL_FALSE, stride_, reinterpret_cast<void*>(offset));
        offset += 12;
    }
    if (flags_ & kVertexDiffuse) {
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride_,
                              reinterpret_cast<void*>(offset));
        offset += 4;
    }
    if (flags_ & kVertexSpecular) {
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride_,
                              reinterpret_cast<void*>(offset));
        offset += 4;
    }
    for (int i = 0; i < sets_; ++i) {
        glEnableVertexAttribArray(static_cast<GLuint>(4 + i));
        glVertexAttribPointer(static_cast<GLuint>(4 + i), 2, GL_FLOAT, GL_FALSE, stride_,
                              reinterpret_cast<void*>(offset));
        offset += 8;
    }
    glBindVertexArray(0);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        LastError = error == GL_OUT_OF_MEMORY ? kErrOutOfMemory : kErrInvalidCall;
        return false;
    }
    scratch_.resize(static_cast<std::size_t>(count_) * stride_);
    return true;
}

T3DVertexListGL::~T3DVertexListGL() {
    TDeviceLockGuard guard;
    if (UseToRelease(store_)) {
        if (vao_) glDeleteVertexArrays(1, &vao_);
        if (vbo_) glDeleteBuffers(1, &vbo_);
    } else if (TGLContext* context = ContextOf(store_)) {
        context->DeleteLater(TGLContext::TLater::VertexArray, vao_);
        context->DeleteLater(TGLContext::TLater::Buffer, vbo_);
    }
    if (store_) std::erase(store_->VertexLists, static_cast<T3DVertexList*>(this));
}

void T3DVertexListGL::SetRange(int startVertex, int primitiveCount, int primitiveType) {
    start_ = startVertex;
    primitives_ = primitiveCount;
    type_ = primitiveType;
}

bool T3DVertexListGL::Fill(int firstVertex, const TSourceVertex* vertices, int count, int firstSource) {
    TDeviceLockGuard guard;
    if (firstVertex < 0 || count < 0 || firstVertex + count > count_ || !Use(store_)) {
        LastError = kErrInvalidCall;
        return false;
    }
    std::uint8_t* out = scratch_.data();
    for (int i = 0; i < count; ++i) {
        const TSourceVertex& v = vertices[firstSource + i];
        std::memcpy(out, &v.x, 12);
        out += 12;
        if (flags_ & kVertexNormal) {
            const float n[3] = {v.nx, v.ny, v.nz};
            std::memcpy(out, n, 12);
            out += 12;
        }
        if (flags_ & kVertexDiffuse) {
            std::memcpy(out, &v.color, 4);
            out += 4;
        }
        if (flags_ & kVertexSpecular) {
            std::memcpy(out, &v.specular, 4);
            out += 4;
        }
        for (int s = 0; s < sets_; ++s) {
            std::memcpy(out, v.tex[static_cast<std::size_t>(s)].data(), 8);
            out += 8;
        }
    }
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(firstVertex) * stride_,
                    static_cast<GLsizeiptr>(count) * stride_, scratch_.data());
    LastError = glGetError() == GL_NO_ERROR ? kErrNone : kErrInvalidCall;
    return LastError == kErrNone;
}

// ---- shaders

T3DShaderGL::T3DShaderGL(TDevStore* store, bool isVertex)
    : T3DShader(store), vertex_(isVertex), serial_(++shaderSerial) {}

T3DShaderGL::~T3DShaderGL() {
    TDeviceLockGuard guard;
    if (name_ && UseToRelease(store_))
        glDeleteShader(name_);
    else if (TGLContext* context = ContextOf(store_); name_ && context)
        context->DeleteLater(TGLContext::TLater::Shader, name_);
    if (store_) std::erase(store_->Shaders, static_cast<T3DShader*>(this));
}

bool T3DShaderGL::Create(const std::string& code) {
    // Pixel shaders see the vertex stage's outputs, the register file c[32] and write fragColor;
    // they declare their own samplers s0 … s7. Vertex shaders see the vertex layout's attributes
    // and their own register file vc[32].
    static const char* pixelPrelude = "#version 330 core\n"
                                      "in vec4 vColor;\nin vec4 vSpecular;\nin vec2 vTex[8];\n"
                                      "uniform vec4 c[32];\nout vec4 fragColor;\n";
    static const char* vertexPrelude =
        "#version 330 core\n"
        "layout(location = 0) in vec3 aPos;\nlayout(location = 1) in vec4 aDiffuse;\n"
        "layout(location = 4) in vec2 aTex0;\nlayout(location = 5) in vec2 aTex1;\n"
        "uniform vec4 vc[32];\nout vec4 vColor;\nout vec4 vSpecular;\nout vec2 vTex[8];\n";
    name_ = CompileShaderStage(vertex_ ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER,
                               std::string(vertex_ ? vertexPrelude : pixelPrelude) + "#line 1\n" + code);
    LastError = name_ ? kErrNone : kErrInvalidCall;
    return name_ != 0;
}

} // namespace kiv
