// The GL objects behind the device resources: 2-D textures (with their level surfaces and, for
// render-target kinds, a framebuffer object), volume textures, vertex lists (one vertex array
// object each) and shaders. All are made by T3DRendererGL and live in the store's context; a
// killed resource never touches GL again (its objects went with the context).
#pragma once

#include "images/Bitmap.h"
#include "render/Shader.h"
#include "render/Surface.h"
#include "render/Texture.h"
#include "render/VertexList.h"

#include <cstdint>
#include <vector>

namespace kiv {

class T3DRendererGL;
class T3DTextureGL;

// The fence after texture work done on an upload context (another thread's context sharing the
// device context's textures): the drawing context waits on it before it first samples the
// texture, then drops it. Used under the device lock with a context current.
class TUploadFence {
public:
    // A new fence after the commands issued so far (replacing an older one), flushed so that it
    // signals without the uploading thread doing anything more.
    void Set();
    // On the drawing context: the GPU waits for the fence before later commands; then it goes.
    // The calling thread's lock-wait time grows by the time this took.
    void Wait();
    // Deletes the fence (a context of the share group is current).
    void Drop();
    // The context went: the fence went with it.
    void Forget() { sync_ = nullptr; }
    bool Pending() const { return sync_ != nullptr; }

private:
    void* sync_ = nullptr;
};

// A level of a 2-D texture, or a renderer's back buffer (then `texture` is none and the renderer
// owns the GL objects).
class T3DSurfaceGL final : public T3DSurface {
public:
    T3DSurfaceGL(TDevStore* store, T3DTextureGL* texture, int level, unsigned glTexture, int width,
                 int height, TPixelFormat format, bool renderTarget);
    bool CopyTo(TBitmap& target) override;
    TPoint GetSize() override { return {width_, height_}; }
    TPixelFormat GetPixelFormat() override { return format_; }
    TRef<TBitmap> Lock(const TRect& rect, bool readOnly) override;
    void Unlock(TBitmap* bitmap) override;
    // Texture levels: straight to the device; the level's CPU copy is read back when next asked.
    bool Write(const TRect& rect, const TBitmap& source, int sourceX, int sourceY) override;
    bool IsRenderTarget() const override { return renderTarget_; }

    // The framebuffer object reading from or drawing into this surface (made on first use).
    unsigned Framebuffer();
    // The texture that owns the surface, none for a back buffer.
    T3DTextureGL* Texture() const { return texture_; }
    void ForgetTexture() { texture_ = nullptr; }
    void SetFramebuffer(unsigned fbo) {
        fbo_ = fbo;
        ownsFbo_ = false;
    }

protected:
    ~T3DSurfaceGL() override;

private:
    T3DTextureGL* texture_;
    int level_;
    unsigned glTexture_;
    int width_;
    int height_;
    TPixelFormat format_;
    bool renderTarget_;
    unsigned fbo_ = 0;
    bool ownsFbo_ = true;
    TRect lockRect_;
    bool lockReadOnly_ = false;
    bool locked_ = false;
};

class T3DTextureGL final : public T3DTexture {
public:
    T3DTextureGL(TDevStore* store, int kind, int width, int height, int levels);
    // Makes the GL texture; false (LastError set) when it cannot be made.
    bool Create();

    int LevelCount() override { return levels_; }
    T3DSurface* GetSurface(int level) override;
    void Preload() override {}
    void Kill() override;

    unsigned Name() const { return name_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::int64_t Bytes() const;
    // The CPU copy of a level that Lock hands out (managed kinds), made on first use; read back
    // from the device when the level was written straight (Write).
    TBitmap& Shadow(int level);
    // The level was written straight to the device: its CPU copy is out of date and goes.
    void DropShadow(int level);
    // Set after work on an upload context; waited for by the drawing context.
    TUploadFence& Fence() { return fence_; }

protected:
    ~T3DTextureGL() override;

private:
    int width_;
    int height_;
    int levels_;
    unsigned name_ = 0;
    bool counted_ = false;
    std::vector<TRef<T3DSurfaceGL>> surfaces_;
    std::vector<TRef<TBitmap>> shadows_;
    std::vector<bool> written_; // levels written straight to the device since their copy went
    TUploadFence fence_;
};

class TVolumeTextureGL final : public TVolumeTexture {
public:
    TVolumeTextureGL(TDevStore* store, int width, int height, int depth);
    bool Create();
    int LevelCount() override { return 1; }
    TRef<TBitmap> LockLevel(int level, const TBox& box) override;
    void UnlockLevel(int level, TBitmap* bitmap) override;
    unsigned Name() const { return name_; }
    TUploadFence& Fence() { return fence_; }
    void Kill() override;

protected:
    ~TVolumeTextureGL() override;

private:
    int width_, height_, depth_;
    unsigned name_ = 0;
    std::vector<std::uint8_t> shadow_;
    TBox lockBox_;
    bool locked_ = false;
    TUploadFence fence_;
};

class T3DVertexListGL final : public T3DVertexList {
public:
    T3DVertexListGL(TDevStore* store, int vertexCount, unsigned flags, int texCoordSets);
    bool Create();
    void SetRange(int startVertex, int primitiveCount, int primitiveType) override;
    bool Fill(int firstVertex, const TSourceVertex* vertices, int count, int firstSource) override;
    int VertexCount() const override { return count_; }

    unsigned VertexArray() const { return vao_; }
    bool HasDiffuse() const { return flags_ & kVertexDiffuse; }
    int Start() const { return start_; }
    int PrimitiveCount() const { return primitives_; }
    int PrimitiveType() const { return type_; }
    int Stride() const { return stride_; }

protected:
    ~T3DVertexListGL() override;

private:
    int count_;
    unsigned flags_;
    int sets_;
    int stride_;
    unsigned vao_ = 0;
    unsigned vbo_ = 0;
    int start_ = 0;
    int primitives_ = 0;
    int type_ = kPrimTriangles;
    std::vector<std::uint8_t> scratch_;
};

class T3DShaderGL final : public T3DShader {
public:
    T3DShaderGL(TDevStore* store, bool isVertex);
    // Compiles the code behind the stage's prelude; false with the compiler's log in the log.
    bool Create(const std::string& code);
    bool IsVertex() const override { return vertex_; }
    unsigned Name() const { return name_; }
    // A number no other shader of the process had, for program caches.
    std::uint64_t Serial() const { return serial_; }

protected:
    ~T3DShaderGL() override;

private:
    bool vertex_;
    unsigned name_ = 0;
    std::uint64_t serial_;
};

// The process-wide budget of texture memory that tests set to make creation fail with "out of
// video memory" (a software rasteriser never does). Negative: no budget.
void SetTextureBudgetForTesting(std::int64_t bytes);
std::int64_t TextureBytesInUse();

// Compiles one shader stage; 0 on failure (the log gets the compiler's message).
unsigned CompileShaderStage(unsigned type, const std::string& source);
// Links a program; 0 on failure.
unsigned LinkProgram(unsigned vertex, unsigned fragment);

} // namespace kiv
