// Sound figures, each against a reference measured in the same run:
// - A long MP3 (10 minutes of a sweep at 44.1 kHz stereo, 192 kbit/s, made once by the ffmpeg program
//   into $TMPDIR; an hour takes the encoder too long on a shared machine) decoded through our source
//   against libmpg123 decoding the same bytes alone, fed from memory (target ≤ 1.1).
// - The demo's sound mixed offline as the player mixes it (TShowMixer, one pass of the show) against
//   decoding alone, through our source in the device format, the sounds that pass plays: the music
//   file (63 s, as long as the show) and the sound of the video clip on slide 11 (4 s) (target ≤ 1.5).
//   Both sides deliver the same stretch of sound, so the ratio is the cost of mixing and output.
#include "RatioReporter.h"

#include "audio/ShowMixer.h"
#include "audio/SoundSource.h"
#include "package/MemoryStream.h"
#include "project/ShowOpen.h"

#include <mpg123.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string& LongMp3() {
    static const std::string bytes = [] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string path = std::string(tmp ? tmp : "/tmp") + "/kiv_bench_sweep_10min.mp3";
        std::string data = ReadFile(path);
        if (data.empty()) {
            const std::string command =
                "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                "'aevalsrc=0.5*sin(2*PI*(200*t+0.5*t*t))|0.5*sin(2*PI*(300*t)):d=600:s=44100' "
                "-c:a libmp3lame -b:a 192k " +
                path;
            if (std::system(command.c_str()) == 0) data = ReadFile(path);
        }
        return data;
    }();
    return bytes;
}

kiv::TRef<kiv::TStream> Memory(const std::string& bytes) {
    auto stream = kiv::MakeRef<kiv::TMemoryStream>();
    stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream->SetPosition(0);
    return stream;
}

std::int64_t DecodeAll(kiv::TSoundSource& sound) {
    std::vector<std::int16_t> block(4096 * 2);
    std::int64_t frames = 0;
    while (const int got = sound.Read(block.data(), 4096))
        frames += got;
    return frames;
}

void BM_LongMp3_OurSource(benchmark::State& state) {
    const std::string& bytes = LongMp3();
    if (bytes.empty()) return state.SkipWithError("the ffmpeg program could not make the MP3");
    for (auto _ : state) {
        auto sound = kiv::OpenDecodedSound(Memory(bytes), "long.mp3");
        if (!sound) return state.SkipWithError("not decodable");
        benchmark::DoNotOptimize(DecodeAll(*sound));
    }
}

void BM_LongMp3_BareMpg123(benchmark::State& state) {
    const std::string& bytes = LongMp3();
    if (bytes.empty()) return state.SkipWithError("the ffmpeg program could not make the MP3");
    mpg123_init();
    std::vector<unsigned char> out(4096 * 4);
    for (auto _ : state) {
        mpg123_handle* handle = mpg123_new(nullptr, nullptr);
        mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_open_feed(handle);
        mpg123_feed(handle, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        std::int64_t frames = 0;
        for (;;) {
            std::size_t done = 0;
            const int result = mpg123_read(handle, out.data(), out.size(), &done);
            frames += static_cast<std::int64_t>(done / 4);
            if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
        }
        benchmark::DoNotOptimize(frames);
        mpg123_delete(handle);
    }
}

kiv::TRef<kiv::TKivSource> Demo() {
    kiv::TOpenShowRequest request;
    request.name = KIV_DEMO_DIR "/Project.kiv";
    request.asPackage = false;
    request.checkPassword = false;
    const kiv::TOpenShowResult opened = kiv::OpenShow(request, kiv::TCommandLine());
    if (!opened.ok || !opened.show) return nullptr;
    kiv::TKivSourceSetup setup;
    setup.document = opened.show->ProjectRef();
    setup.fileAccessor = opened.show->AccessorRef();
    setup.programFileName = "bench";
    setup.random = kiv::MakeRef<kiv::TTransitionRandom>(1);
    return kiv::MakeRef<kiv::TKivSource>(std::move(setup));
}

void BM_DemoSound_Mixed(benchmark::State& state) {
    std::int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming(); // reading the project is not mixing
        kiv::TRef<kiv::TKivSource> show = Demo();
        state.ResumeTiming();
        if (!show) return state.SkipWithError("no demo project");
        kiv::TShowMixer mixer(show, 0);
        mixer.MixTo(show->Period(), [&](const std::int16_t*, int count) { frames += count; });
    }
    state.counters["frames"] = static_cast<double>(frames) / static_cast<double>(state.iterations());
}

void BM_DemoSound_DecodedAlone(benchmark::State& state) {
    const std::string music = ReadFile(KIV_DEMO_DIR "/music/theme.mp3");
    const std::string clip = ReadFile(KIV_DEMO_DIR "/video/clip.mp4");
    if (music.empty() || clip.empty()) return state.SkipWithError("no demo music or clip");
    std::int64_t frames = 0;
    for (auto _ : state) {
        for (const auto& [bytes, name] : {std::pair{&music, "theme.mp3"}, std::pair{&clip, "clip.mp4"}}) {
            auto sound = kiv::OpenDecodedSound(Memory(*bytes), name, true);
            if (!sound) return state.SkipWithError("not decodable");
            frames += DecodeAll(*sound);
        }
    }
    state.counters["frames"] = static_cast<double>(frames) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_LongMp3_OurSource)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LongMp3_BareMpg123)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DemoSound_Mixed)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DemoSound_DecodedAlone)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    using namespace kiv::bench;
    LongMp3(); // made before any timing
    return RunWithSummary(
        argc, argv,
        [](const TRatioReporter& report) {
            report.PrintRatio("10-minute MP3, our source/libmpg123 alone", "BM_LongMp3_OurSource/iterations:1",
                              "BM_LongMp3_BareMpg123/iterations:1", 1.1);
            report.PrintRatio("the demo's sound, offline mix/decoding its sounds alone", "BM_DemoSound_Mixed/iterations:2",
                              "BM_DemoSound_DecodedAlone/iterations:2", 1.5);
        },
        // Processor time: every benchmark runs on the calling thread alone (the mixer has no threads).
        TRatioClock::kCpu);
}
