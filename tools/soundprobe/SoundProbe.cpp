// kivsoundprobe: measurements of the sound output for scripts, not for users.
//
//   kivsoundprobe drift SHOW SECONDS
//       plays the show's sound in real time on the SDL audio device and, every second, compares the
//       play clock with the frames the device has consumed and with the wall clock (with
//       SDL_AUDIODRIVER=disk also the frames written to SDL_DISKAUDIOFILE); then a summary. Exit 1
//       when no sound output can be opened.
//   kivsoundprobe decode FILE...
//       decodes each file to the end through the player's decoder, as a play instance reads it, and
//       prints FILE<TAB>FRAMES<TAB>RATE<TAB>CHANNELS<TAB>SECONDS<TAB>CPU_SECONDS (the wall and
//       processor time of the decoding).
#include "../kivtool/ShowInput.h"

#include "audio/KivMusicPlayer.h"
#include "audio/SoundDevice.h"
#include "audio/SoundSource.h"
#include "package/FileStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kUsage = "usage: kivsoundprobe drift SHOW SECONDS | decode FILE...\n";

double FileFrames(const char* path) {
    std::error_code error;
    const auto size = path ? std::filesystem::file_size(path, error) : 0;
    return error || !path ? -1.0 : static_cast<double>(size / 4);
}

int Drift(const char* showPath, int seconds) {
    const kiv::TRef<kiv::TKivSource> show = kivtool::LoadShowSource(showPath);
    const kiv::TRef<kiv::TSoundDevice> device = kiv::TSoundDevice::Create();
    if (!device->IsUsable()) {
        std::fputs("kivsoundprobe: no sound output can be opened\n", stderr);
        return 1;
    }
    const char* diskFile = std::getenv("SDL_DISKAUDIOFILE");
    auto player = kiv::MakeRef<kiv::TKivMusicPlayer>(show, false, device);
    player->Start();
    player->Seek(-1, 0);
    for (int i = 0; i < 100 && !player->IsReady(); ++i)
        player->WaitForSteps(1, 100);
    kiv::IDeviceClock& clock = device->Clock();
    player->SetRunning(true);

    const auto start = std::chrono::steady_clock::now();
    const double clock0 = clock.NowMs();
    const double frames0 = static_cast<double>(device->Mixer().FramesConsumed());
    const double file0 = FileFrames(diskFile);
    std::printf("second\tclock_ms\tframes_ms\twall_ms\tclock-frames\tclock-wall\tfile-frames\tshow_ms\n");
    double firstGap = 0, lastGap = 0, worstGap = 0, lastWallGap = 0;
    for (int s = 1; s <= seconds; ++s) {
        std::this_thread::sleep_until(start + std::chrono::seconds(s));
        const double wall =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const double played = (static_cast<double>(device->Mixer().FramesConsumed()) - frames0) / 44.1;
        const double clockMs = clock.NowMs() - clock0;
        const double file = FileFrames(diskFile);
        const double fileGap = file < 0 ? 0 : (file - file0) / 44.1 - played;
        const double gap = clockMs - played;
        if (s == 1) firstGap = gap;
        lastGap = gap;
        worstGap = std::max(worstGap, std::abs(gap - firstGap));
        lastWallGap = clockMs - wall;
        std::printf("%d\t%.1f\t%.1f\t%.1f\t%.2f\t%.2f\t%.2f\t%.1f\n", s, clockMs, played, wall, gap,
                    clockMs - wall, fileGap, player->GetTime());
        std::fflush(stdout);
    }
    player->SetRunning(false);
    player->Stop();
    std::printf(
        "drift of the play clock against the frames played over %d s: %.2f ms (largest swing %.2f ms); "
        "against the wall clock: %.2f ms\n",
        seconds, lastGap - firstGap, worstGap, lastWallGap);
    return 0;
}

int Decode(int count, char** files) {
    std::vector<std::int16_t> block(8192 * 2);
    for (int i = 0; i < count; ++i) {
        const auto begun = std::chrono::steady_clock::now();
        const std::clock_t cpuBegun = std::clock();
        auto stream = kiv::MakeRef<kiv::TFileStream>(files[i], kiv::TFileAccess::Read,
                                                     kiv::TFileCreation::OpenExisting, kiv::kShareRead);
        const std::unique_ptr<kiv::TSoundSource> sound = kiv::OpenDecodedSound(stream, files[i]);
        if (!sound) {
            std::fprintf(stderr, "kivsoundprobe: %s cannot be decoded\n", files[i]);
            return 1;
        }
        std::int64_t frames = 0;
        while (const int got = sound->Read(block.data(), 8192))
            frames += got;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
        const double cpu = static_cast<double>(std::clock() - cpuBegun) / CLOCKS_PER_SEC;
        std::printf("%s\t%lld\t%d\t%d\t%.4f\t%.4f\n", files[i], static_cast<long long>(frames), sound->Rate(),
                    sound->Channels(), seconds, cpu);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::strcmp(argv[1], "drift") == 0 && std::atoi(argv[3]) > 0)
            return Drift(argv[2], std::atoi(argv[3]));
        if (argc >= 3 && std::strcmp(argv[1], "decode") == 0) return Decode(argc - 2, argv + 2);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kivsoundprobe: %s\n", error.what());
        return 1;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
