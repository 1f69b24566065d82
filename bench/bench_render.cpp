// One 1280 × 720 frame of 50 blended, textured quads (256 × 256, half transparent), drawn through
// the screen's triangle batch and our GL renderer, against a bare GL loop that makes the same
// draws (one buffer update and one draw call per quad, the same blend state and texture) into a
// framebuffer object of the same size on the same context. Each frame ends with a one-pixel read,
// so the rasteriser's work is inside the time. Wall-clock time: Mesa rasterises on its own
// threads. The bare loop is reference code and talks to GL directly.
#include "HeadlessGl.h"
#include "RatioReporter.h"
#include "images/Bitmap.h"
#include "render/Screen.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace kiv;

constexpr int kWidth = bench::kFrameWidth;
constexpr int kHeight = bench::kFrameHeight;
constexpr int kQuads = 50;
constexpr int kSide = 256;

class TPicture final : public TCustomTexture {
public:
    TPicture(T3DScreen* screen, TRef<TBitmap> picture)
        : TCustomTexture(screen, kTexColor), picture_(picture) {
        SetSize(picture->Width(), picture->Height());
    }

protected:
    void FillTopLevel(TBitmap& level) override {
        for (int y = 0; y < picture_->Height(); ++y)
            std::memcpy(level.Row(y), picture_->Row(y), picture_->RowBytes());
    }

private:
    TRef<TBitmap> picture_;
};

TRef<TBitmap> Picture() {
    auto b = MakeRef<TBitmap>(kSide, kSide, TPixelFormat::Bgra32);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            std::uint8_t* p = b->Row(y) + x * 4;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x ^ y);
            p[3] = 200;
        }
    return b;
}

double QuadX(int i) {
    return (i * 97) % (kWidth - kSide);
}
double QuadY(int i) {
    return (i * 53) % (kHeight - kSide);
}

struct TSetup : kiv::bench::THeadlessDevice {
    TRef<T3DScreen> screen;
    TRef<TPicture> picture;
    TRef<TBitmap> pixel;

    TSetup() {
        screen = MakeRef<T3DScreen>();
        screen->SetDevice(device.Get());
        picture = MakeRef<TPicture>(screen.Get(), Picture());
        pixel = MakeRef<TBitmap>(1, 1, TPixelFormat::Bgra32);
    }
};

TSetup& Setup() {
    static TSetup* setup = new TSetup; // lives for the whole program
    return *setup;
}

void BM_OurRenderer(benchmark::State& state) {
    TSetup& s = Setup();
    const std::array<std::uint32_t, 3> c{0xC0FFFFFF, 0xC0FFFFFF, 0xC0FFFFFF};
    const double w = kSide;
    for (auto _ : state) {
        if (!s.screen->BeginScene()) {
            state.SkipWithError("no renderer");
            return;
        }
        s.screen->Clear(0xFF000000);
        auto& batch = s.screen->Batch();
        for (int i = 0; i < kQuads; ++i) {
            const double x = QuadX(i), y = QuadY(i);
            batch.Begin({s.picture.Get()}, 1);
            batch.AddTriangle({TPoint3{x, y, 0}, TPoint3{x + w, y, 0}, TPoint3{x, y + w, 0}}, c,
                              {{{{0, 0}, {w, 0}, {0, w}}}});
            batch.AddTriangle({TPoint3{x, y + w, 0}, TPoint3{x + w, y, 0}, TPoint3{x + w, y + w, 0}}, c,
                              {{{{0, w}, {w, 0}, {w, w}}}});
        }
        s.screen->EndScene(false);
        T3DSurface* back = nullptr;
        s.screen->Renderer()->GetBackBuffer(back);
        auto one = back->Lock({0, 0, 1, 1}, true);
        benchmark::DoNotOptimize(one->Row(0)[0]);
        back->Unlock(one.Get());
    }
}

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

GLuint Compile(GLenum type, const char* text) {
    GLuint s = glCreateShader(type);
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    return s;
}

void BM_BareGL(benchmark::State& state) {
    TSetup& s = Setup();
    // Our renderer's calls leave its context current on this thread; the bare loop uses it too.
    if (!s.screen->BeginScene()) {
        state.SkipWithError("no renderer");
        return;
    }
    s.screen->EndScene(false);
    GLuint program = glCreateProgram();
    glAttachShader(program, Compile(GL_VERTEX_SHADER, kVertex));
    glAttachShader(program, Compile(GL_FRAGMENT_SHADER, kFragment));
    glLinkProgram(program);
    GLuint fbo = 0, target = 0, texture = 0, vao = 0, vbo = 0;
    glGenTextures(1, &target);
    glBindTexture(GL_TEXTURE_2D, target);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
    auto picture = Picture();
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kSide, kSide, 0, GL_BGRA, GL_UNSIGNED_BYTE, picture->Pixels());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    struct TVertex {
        float x, y;
        std::uint32_t color;
        float u, v;
    };
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
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "s0"), 0);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glViewport(0, 0, kWidth, kHeight);
    std::uint32_t pixel = 0;
    for (auto _ : state) {
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        for (int i = 0; i < kQuads; ++i) {
            const float x0 = static_cast<float>(QuadX(i) * 2 / kWidth - 1);
            const float x1 = static_cast<float>((QuadX(i) + kSide) * 2 / kWidth - 1);
            const float y0 = static_cast<float>(1 - QuadY(i) * 2 / kHeight);
            const float y1 = static_cast<float>(1 - (QuadY(i) + kSide) * 2 / kHeight);
            const std::uint32_t c = 0xC0FFFFFF;
            const TVertex v[6] = {{x0, y0, c, 0, 0}, {x1, y0, c, 1, 0}, {x0, y1, c, 0, 1},
                                  {x0, y1, c, 0, 1}, {x1, y0, c, 1, 0}, {x1, y1, c, 1, 1}};
            glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof v, v);
            glDrawArrays(GL_TRIANGLES, 0, 6);
        }
        glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
        benchmark::DoNotOptimize(pixel);
    }
    glDeleteProgram(program);
    glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(1, &target);
    glDeleteTextures(1, &texture);
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &vbo);
}

// The machine is shared: repetitions of the two benchmarks are interleaved (see main) and the
// ratio is taken between their medians.
BENCHMARK(BM_OurRenderer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_BareGL)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

// Median wall-clock time per benchmark, then the ratio.
} // namespace

int main(int argc, char** argv) {
    using namespace kiv::bench;
    return RunWithSummary(
        argc, argv,
        [](const TRatioReporter& report) {
            report.PrintRatio("renderer/bare GL", "BM_OurRenderer", "BM_BareGL", 1.2);
        },
        TRatioClock::kWallMedian, {"--benchmark_repetitions=9", "--benchmark_enable_random_interleaving=true"});
}
