// The slide drawer against bare GL written for the comparison, on the same headless context and in
// the same run (repetitions interleaved, medians of wall-clock time: Mesa rasterises on its own
// threads). Each frame ends with a one-pixel read so that the rasteriser's work is inside the time.
//   - A 1280 × 720 slide of 20 image objects (256 × 256 pictures, partly transparent), drawn
//     through the drawer, against a bare loop drawing the same 20 quads (the corners the objects
//     asked the drawer for) with one buffer update and one draw call each. Target ≤ 1.5.
//   - A blur of half-resolution radius 10 over a 1280 × 720 frame (a full-frame picture drawn as a
//     blurred item), against one full-resolution separable 7-tap pass pair over the same picture.
//     Target ≤ 1.0.
//   - Uploading a 24-megapixel picture as the drawer does (PreloadImage: its tiles, in slices),
//     against one glTexImage2D of the same bytes; both end with glFinish. Target ≤ 1.3. The tile
//     pools are emptied between pictures, so that every picture makes its tiles as the bare code
//     makes its texture (the player reuses pooled tiles). For information, also against the same
//     glTexImage2D with the bytes declared in the driver's storage order (Mesa copies them instead
//     of reordering each texel; the drawer's picture textures are stored that way).
// Then, outside Google Benchmark, frames of the 20-object slide with and without a second thread
// that decodes and uploads 24-megapixel JPEGs continuously: frame-time percentiles and the longest
// time per frame the drawing thread waited on a lock or fence held for the uploads (target ≤ 2 ms).
#include "HeadlessGl.h"
#include "PictureMaker.h"
#include "RatioReporter.h"
#include "RecordingDrawer.h"
#include "images/PictureLoader.h"
#include "render/DeviceLock.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kiv;
using namespace kiv::bench;

constexpr int kWidth = kFrameWidth;
constexpr int kHeight = kFrameHeight;
constexpr int kObjects = 20;
constexpr int kSide = 256;

TRef<TBitmap> Picture(int seed) {
    auto b = MakeRef<TBitmap>(kSide, kSide, TPixelFormat::Bgra32);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            std::uint8_t* p = b->Row(y) + x * 4;
            p[0] = static_cast<std::uint8_t>(x + seed);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x ^ y);
            p[3] = 200;
        }
    return b;
}

std::string SlideText() {
    std::string text = "[Slide]\nobject Container:Root\nGUID=root\n";
    for (int i = 0; i < kObjects; ++i) {
        const double x = 10 + (i * 97) % 80, y = 12 + (i * 53) % 76; // percent of the slide
        text += "object I" + std::to_string(i) + ":Image\nGUID=i" + std::to_string(i) + "\nImageName=p" +
                std::to_string(i) + ".png\nFitMode=None\n" + "object k:KeyPoint\nTime=0\nPosition=" +
                std::to_string(x) + "," + std::to_string(y) + "\nend\nend\n";
    }
    return text + "end\n";
}

struct TSetup {
    TRef<T3DDrawer> drawer = HeadlessGl().drawer;
    TPictureHost host;
    TRef<TIniFile> file = MakeRef<TIniFile>();
    TRef<TKivSlide> slide;
    // The quads the slide's objects asked for: four pixel corners (top-left, top-right,
    // bottom-left, bottom-right) and the picture, per object.
    struct TQuad {
        std::array<TVec3, 4> corners;
        TRef<TBitmap> picture;
    };
    std::vector<TQuad> quads;
    bool antialiased = false;
    TRef<TBitmap> frame = Picture(7); // the blur benchmark's full-frame picture, stretched

    TSetup() {
        std::map<const TImage*, TRef<TBitmap>> bitmaps;
        for (int i = 0; i < kObjects; ++i) {
            TRef<TBitmap> b = Picture(i * 11);
            std::string name = std::to_string(i); // p<i>.png
            name.insert(0, 1, 'p');
            name += ".png";
            auto image = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(name, b));
            host.pictures[image->Name()] = image;
            bitmaps[image.Get()] = b;
        }
        slide = BuildBenchSlide(host, *file, SlideText());
        // What the objects ask the drawer for.
        test::TRecordingDrawer recorder;
        recorder.Draw(*slide);
        for (const test::TDrawCall& call : recorder.calls) {
            if (call.op != "DrawImage") continue;
            TRectF s = call.picture.sourceRect;
            if (s.IsEmpty()) s = {0, 0, kSide, kSide};
            quads.push_back({{call.Map(s.left, s.top), call.Map(s.right, s.top), call.Map(s.left, s.bottom),
                              call.Map(s.right, s.bottom)},
                             bitmaps[call.image]});
            antialiased = antialiased || call.picture.edgeAntialias;
        }
        if (quads.size() != kObjects) {
            std::fprintf(stderr, "the slide drew %zu pictures\n", quads.size());
            std::abort();
        }
    }

    void ReadOnePixel() { HeadlessGl().ReadOnePixel(); }
    // One frame of the slide through the drawer.
    void DrawSlide() { HeadlessGl().DrawFrame(*slide); }
};

TSetup& Setup() {
    static TSetup* setup = new TSetup; // lives for the whole program
    return *setup;
}

// ---- bare GL reference code

const char* kVertex = R"(#version 330 core
layout(location = 0) in vec2 aPos;
layout(location = 1) in vec4 aColor;
layout(location = 2) in vec2 aTex;
out vec4 vColor;
out vec2 vTex;
void main() { gl_Position = vec4(aPos, 0.0, 1.0); vColor = aColor; vTex = aTex; })";
const char* kFragment = R"(#version 330 core
in vec4 vColor;
in vec2 vTex;
uniform sampler2D s0;
out vec4 fragColor;
void main() { fragColor = texture(s0, vTex) * vColor; })";
// One 7-tap pass along `step` (texture coordinates), weights w[0] centre … w[3] outermost.
const char* kBlurFragment = R"(#version 330 core
in vec4 vColor;
in vec2 vTex;
uniform sampler2D s0;
uniform vec2 step;
uniform vec4 w;
out vec4 fragColor;
void main() {
    vec4 sum = texture(s0, vTex) * w.x;
    sum += (texture(s0, clamp(vTex + step, 0.0, 1.0)) + texture(s0, clamp(vTex - step, 0.0, 1.0))) * w.y;
    sum += (texture(s0, clamp(vTex + 2.0 * step, 0.0, 1.0)) + texture(s0, clamp(vTex - 2.0 * step, 0.0, 1.0))) * w.z;
    sum += (texture(s0, clamp(vTex + 3.0 * step, 0.0, 1.0)) + texture(s0, clamp(vTex - 3.0 * step, 0.0, 1.0))) * w.w;
    fragColor = sum;
})";

GLuint Program(const char* vertex, const char* fragment) {
    auto compile = [](GLenum type, const char* text) {
        GLuint s = glCreateShader(type);
        glShaderSource(s, 1, &text, nullptr);
        glCompileShader(s);
        return s;
    };
    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, vertex));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, fragment));
    glLinkProgram(program);
    return program;
}

struct TVertex {
    float x, y;
    std::uint32_t color;
    float u, v;
};

// A vertex array of six vertices (two triangles), filled per draw.
struct TBareQuads {
    GLuint vao = 0, vbo = 0;
    TBareQuads() {
        glGenVertexArrays(1, &vao);
        glGenBuffers(1, &vbo);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glBufferData(GL_ARRAY_BUFFER, 6 * sizeof(TVertex), nullptr, GL_DYNAMIC_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(TVertex), nullptr);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(TVertex), reinterpret_cast<void*>(8));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(TVertex), reinterpret_cast<void*>(12));
    }
    ~TBareQuads() {
        glDeleteVertexArrays(1, &vao);
        glDeleteBuffers(1, &vbo);
    }
    // Pixel corners (top-left, top-right, bottom-left, bottom-right) on a target of w × h.
    void Draw(const std::array<TVec3, 4>& c, int w, int h, std::uint32_t color) const {
        auto x = [&](double px) { return static_cast<float>(px * 2 / w - 1); };
        auto y = [&](double py) { return static_cast<float>(1 - py * 2 / h); };
        const TVertex v[6] = {{x(c[0].x), y(c[0].y), color, 0, 0}, {x(c[1].x), y(c[1].y), color, 1, 0},
                              {x(c[2].x), y(c[2].y), color, 0, 1}, {x(c[2].x), y(c[2].y), color, 0, 1},
                              {x(c[1].x), y(c[1].y), color, 1, 0}, {x(c[3].x), y(c[3].y), color, 1, 1}};
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof v, v);
        glDrawArrays(GL_TRIANGLES, 0, 6);
    }
};

GLuint Texture(TBitmap& picture) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, picture.Width(), picture.Height(), 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 picture.Pixels());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

struct TTarget {
    GLuint texture = 0, fbo = 0;
    TTarget(int w, int h) {
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    }
    ~TTarget() {
        glDeleteFramebuffers(1, &fbo);
        glDeleteTextures(1, &texture);
    }
};

// Our renderer's calls leave its context current on this thread; the bare code uses it too.
bool BindDrawerContext(benchmark::State& state) {
    TSetup& s = Setup();
    s.DrawSlide();
    if (!s.drawer->IsReady()) {
        state.SkipWithError("no renderer");
        return false;
    }
    return true;
}

// ---- the slide of 20 image objects

void BM_Slide20_Drawer(benchmark::State& state) {
    TSetup& s = Setup();
    for (auto _ : state)
        s.DrawSlide();
    state.SetLabel(s.antialiased ? "edges anti-aliased" : "plain edges");
}

void BM_Slide20_BareGL(benchmark::State& state) {
    if (!BindDrawerContext(state)) return;
    TSetup& s = Setup();
    const GLuint program = Program(kVertex, kFragment);
    TTarget target(kWidth, kHeight);
    std::vector<GLuint> textures;
    for (const auto& quad : s.quads)
        textures.push_back(Texture(*quad.picture));
    TBareQuads quads;
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "s0"), 0);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glViewport(0, 0, kWidth, kHeight);
    std::uint32_t pixel = 0;
    for (auto _ : state) {
        glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glActiveTexture(GL_TEXTURE0);
        for (std::size_t i = 0; i < s.quads.size(); ++i) {
            glBindTexture(GL_TEXTURE_2D, textures[i]);
            quads.Draw(s.quads[i].corners, kWidth, kHeight, 0xFFFFFFFF);
        }
        glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
        benchmark::DoNotOptimize(pixel);
    }
    glDeleteProgram(program);
    glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
    s.drawer->ResetStates();
}

// ---- blur of half-resolution radius 10

// The frame of the picture stretched over 1280 × 720, drawn as an item with `blur` (0: sharp).
void PictureFrame(benchmark::State& state, float blur) {
    TSetup& s = Setup();
    auto picture = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("frame", s.frame));
    TPictureDrawParams params;
    params.edgeAntialias = false;
    TFnItem item(
        [&](TDeviceDrawer& d) {
            const double k = static_cast<double>(kWidth) / kSide, l = static_cast<double>(kHeight) / kSide;
            d.DrawImage(*picture, {0, 0, 0}, params, {k, 0, 0}, {0, l, 0}, {0, 0});
        },
        blur);
    TFnItem root(
        [&](TDeviceDrawer& d) {
            s.drawer->Clear(0xFF000000, false);
            d.Draw(item);
        },
        0);
    for (auto _ : state) {
        s.drawer->Draw(root);
        s.ReadOnePixel();
    }
}

void BM_Blur10_Drawer(benchmark::State& state) {
    PictureFrame(state, 20000); // radius = blur / 1000 pixels; at half resolution G = 10
}

// For information: the same frame with the picture drawn sharp, what the drawer's blur does at full
// resolution before its half-resolution passes (the bare pass pair reads the picture directly).
void BM_Blur10_DrawerPictureOnly(benchmark::State& state) {
    PictureFrame(state, 0);
}

void BM_Blur10_BarePassPair(benchmark::State& state) {
    if (!BindDrawerContext(state)) return;
    TSetup& s = Setup();
    const GLuint program = Program(kVertex, kBlurFragment);
    TTarget across(kWidth, kHeight), out(kWidth, kHeight);
    const GLuint source = Texture(*s.frame);
    TBareQuads quads;
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "s0"), 0);
    const GLint step = glGetUniformLocation(program, "step");
    glUniform4f(glGetUniformLocation(program, "w"), 0.294544f, 0.17865f, 0.108356f, 0.065722f);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glViewport(0, 0, kWidth, kHeight);
    const std::array<TVec3, 4> whole{TVec3{0, 0, 0}, TVec3{kWidth, 0, 0}, TVec3{0, kHeight, 0},
                                     TVec3{kWidth, kHeight, 0}};
    std::uint32_t pixel = 0;
    glActiveTexture(GL_TEXTURE0);
    for (auto _ : state) {
        glBindFramebuffer(GL_FRAMEBUFFER, across.fbo);
        glBindTexture(GL_TEXTURE_2D, source);
        glUniform2f(step, 1.0f / kWidth, 0);
        quads.Draw(whole, kWidth, kHeight, 0xFFFFFFFF);
        glBindFramebuffer(GL_FRAMEBUFFER, out.fbo);
        glBindTexture(GL_TEXTURE_2D, across.texture);
        glUniform2f(step, 0, 1.0f / kHeight);
        quads.Draw(whole, kWidth, kHeight, 0xFFFFFFFF);
        glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
        benchmark::DoNotOptimize(pixel);
    }
    glDeleteProgram(program);
    glDeleteTextures(1, &source);
    s.drawer->ResetStates();
}

// ---- uploading a 24-megapixel picture

TRef<TBitmap> Photo24() {
    static TRef<TBitmap> photo = test::MakeGradient(6000, 4000, false, true);
    return photo;
}

void BM_Upload24MP_Drawer(benchmark::State& state) {
    if (!BindDrawerContext(state)) return;
    TSetup& s = Setup();
    TRef<TBitmap> photo = Photo24();
    TPictureDrawParams params;
    for (auto _ : state) {
        auto image = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("photo", photo));
        s.drawer->PreloadImage(*image, params);
        glFinish();
        state.PauseTiming();
        s.drawer->ReleaseImage(*image);
        s.drawer->TileManager()->FreeIdleTiles(); // every picture makes its tiles anew
        glFinish();
        state.ResumeTiming();
    }
}

// The same with mip-maps, as pictures are preloaded when anisotropic filtering is on (the
// program's default): every level is reduced on the processor and uploaded.
void BM_Upload24MP_DrawerMipmapped(benchmark::State& state) {
    T3DEngineGL::SetAnisotropyEnabled(true);
    BM_Upload24MP_Drawer(state);
    T3DEngineGL::SetAnisotropyEnabled(false);
}

// One glTexImage2D of the picture's bytes, passed as they are (blue, green, red, alpha) or, for the
// second reference, declared in the driver's own storage order so that it copies them without
// reordering (the colours would need the swizzle the drawer's textures set).
void BareTexImage(benchmark::State& state, GLenum format) {
    if (!BindDrawerContext(state)) return;
    TRef<TBitmap> photo = Photo24();
    for (auto _ : state) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, photo->Width(), photo->Height(), 0, format, GL_UNSIGNED_BYTE,
                     photo->Pixels());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glFinish();
        state.PauseTiming();
        glBindTexture(GL_TEXTURE_2D, 0);
        glDeleteTextures(1, &texture);
        glFinish();
        state.ResumeTiming();
    }
}

void BM_Upload24MP_BareTexImage(benchmark::State& state) {
    BareTexImage(state, GL_BGRA);
}

void BM_Upload24MP_BareTexImageStorageOrder(benchmark::State& state) {
    BareTexImage(state, GL_RGBA);
}

// The blur and upload benchmarks count the processor time of every thread (Mesa's rasteriser
// threads included) in their CPU column, which a loaded machine disturbs less than the wall clock.
void ProcessTimed(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(0.5);
}

BENCHMARK(BM_Slide20_Drawer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_Slide20_BareGL)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_Blur10_Drawer)->Apply(ProcessTimed);
BENCHMARK(BM_Blur10_DrawerPictureOnly)->Apply(ProcessTimed);
BENCHMARK(BM_Blur10_BarePassPair)->Apply(ProcessTimed);
BENCHMARK(BM_Upload24MP_Drawer)->Apply(ProcessTimed);
BENCHMARK(BM_Upload24MP_DrawerMipmapped)->Apply(ProcessTimed);
BENCHMARK(BM_Upload24MP_BareTexImage)->Apply(ProcessTimed);
BENCHMARK(BM_Upload24MP_BareTexImageStorageOrder)->Apply(ProcessTimed);

// Median wall-clock time per benchmark, then the ratios.
// ---- frames while another thread decodes and uploads 24-megapixel JPEGs

struct TFrameFigures {
    std::vector<double> frameMs;
    std::vector<double> waitMs;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t i = std::min(values.size() - 1, static_cast<std::size_t>(p / 100.0 * values.size()));
    return values[i];
}

TFrameFigures DrawFrames(int frames) {
    TSetup& s = Setup();
    TFrameFigures figures;
    for (int i = 0; i < frames; ++i) {
        ThreadLockWaitNanos() = 0;
        const auto start = std::chrono::steady_clock::now();
        s.DrawSlide();
        const auto end = std::chrono::steady_clock::now();
        figures.frameMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        figures.waitMs.push_back(static_cast<double>(ThreadLockWaitNanos()) / 1e6);
    }
    return figures;
}

void Print(const char* label, const TFrameFigures& f) {
    const auto over = std::count_if(f.waitMs.begin(), f.waitMs.end(), [](double ms) { return ms > 2.0; });
    std::printf("%s: frames %zu, frame ms p50 %.2f p95 %.2f p99 %.2f max %.2f; waited for uploads per frame: "
                "p50 %.3f ms, p95 %.3f ms, p99 %.3f ms, max %.3f ms, frames over 2 ms: %d\n",
                label, f.frameMs.size(), Percentile(f.frameMs, 50), Percentile(f.frameMs, 95),
                Percentile(f.frameMs, 99), Percentile(f.frameMs, 100), Percentile(f.waitMs, 50),
                Percentile(f.waitMs, 95), Percentile(f.waitMs, 99), Percentile(f.waitMs, 100),
                static_cast<int>(over));
}

void FramesWithLoader(int frames) {
    TSetup& s = Setup();
    const test::TBytes jpeg = test::EncodeJpeg(*Photo24(), 90);
    s.DrawSlide(); // the context is current here, the textures made
    const TFrameFigures alone = DrawFrames(frames);
    std::atomic<bool> stop{false};
    std::atomic<int> uploaded{0};
    ResetUploadSliceStats();
    std::thread loader([&] {
        ::pthread_setname_np(::pthread_self(), "kiv-bench-load");
        TPictureDrawParams params;
        TRef<TImage> previous;
        while (!stop) {
            test::TBytesStream stream(jpeg);
            TRef<TImage> image = DecodePictureByName(stream, "photo.jpg");
            if (!image) break;
            s.drawer->PreloadImage(*image, params);
            if (previous) s.drawer->ReleaseImage(*previous);
            previous = image;
            ++uploaded;
        }
        if (previous) s.drawer->ReleaseImage(*previous);
    });
    const TFrameFigures loaded = DrawFrames(frames);
    stop = true;
    loader.join();
    Print("frames alone", alone);
    Print("frames while 24 MP JPEGs decode and upload", loaded);
    const TUploadSliceStats slices = UploadSliceStats();
    std::printf("pictures uploaded meanwhile %d; upload slices %lld, longest slice %.3f ms, mean %.3f ms "
                "(target: waits <= 2 ms per frame); longest slice writing texels %.3f ms, of it the "
                "loader's own processor time %.3f ms\n",
                uploaded.load(), static_cast<long long>(slices.slices), slices.longestNanos / 1e6,
                slices.slices ? slices.totalNanos / 1e6 / static_cast<double>(slices.slices) : 0.0,
                slices.longestWriteNanos / 1e6, slices.longestWriteCpuNanos / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    using namespace kiv::bench;
    const int status = RunWithSummary(
        argc, argv,
        [](const TRatioReporter& report) {
            report.PrintRatio("slide of 20 image objects, drawer/bare GL", "BM_Slide20_Drawer", "BM_Slide20_BareGL",
                              1.5);
            report.PrintRatio("blur G = 10, drawer/one full-resolution pass pair", "BM_Blur10_Drawer",
                              "BM_Blur10_BarePassPair", 1.0);
            report.PrintRatio("for information: the same frame without blur/one full-resolution pass pair",
                              "BM_Blur10_DrawerPictureOnly", "BM_Blur10_BarePassPair");
            report.PrintRatio("24 MP upload, drawer tiles/one glTexImage2D", "BM_Upload24MP_Drawer",
                              "BM_Upload24MP_BareTexImage", 1.3);
            report.PrintRatio("24 MP upload with mip-maps, drawer tiles/one glTexImage2D (no mip-maps)",
                              "BM_Upload24MP_DrawerMipmapped", "BM_Upload24MP_BareTexImage", 1.3);
            // For information: the same against a bare upload the driver copies without reordering.
            report.PrintRatio("24 MP upload, drawer tiles/one glTexImage2D in storage order",
                              "BM_Upload24MP_Drawer", "BM_Upload24MP_BareTexImageStorageOrder");
            report.PrintRatio("24 MP upload with mip-maps, drawer tiles/one glTexImage2D in storage order",
                              "BM_Upload24MP_DrawerMipmapped", "BM_Upload24MP_BareTexImageStorageOrder");
        },
        TRatioClock::kWallMedian,
        {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true"});
    const char* frames = std::getenv("KIV_BENCH_FRAMES");
    FramesWithLoader(frames ? std::max(10, std::atoi(frames)) : 300);
    return status;
}
