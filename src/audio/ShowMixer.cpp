#include "audio/ShowMixer.h"

#include "base/Log.h"
#include "base/ReplacingFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kiv {

namespace {

// Device frame n of the offline device sounds at n / 44.1 ms of its clock, which starts at 0.
std::int64_t DeviceFrame(double ms) {
    return static_cast<std::int64_t>(std::llround(std::clamp(ms, -1e15, 1e15) * TShowMixer::kRate / 1000.0));
}

// The failure with the system's reason: a full disk and a process out of file descriptors read
// differently.
std::string CannotWrite(const std::string& path, int error) {
    return path + ": cannot be written (" + std::strerror(error) + ")";
}

} // namespace

TShowMixer::TShowMixer(TRef<TKivSource> show, double fromMs)
    : from_(std::isfinite(fromMs) ? std::max(fromMs, 0.0) : 0.0), clock_(MakeRef<TVirtualClock>(0)) {
    TSoundDevice::TOptions options;
    options.openOutput = false;
    options.threaded = false;
    options.now = [clock = clock_] { return clock->NowMs(); };
    options.placeLateStarts = true;
    device_ = TSoundDevice::Create(std::move(options));
    // As the engine opens a show and starts it at FROM: a standing player, moved there, started once
    // the sounds due there are loaded (a headless seek loads them before it returns).
    player_ = TKivMusicPlayer::CreateHeadless(std::move(show), false, clock_, device_);
    player_->Start();
    player_->SetRunning(false);
    player_->Seek(-1, from_);
    if (!player_->IsReady())
        TLog::Line("Offline mix: the sound at " + std::to_string(from_) + " is not ready");
    player_->SetRunning(true);
    block_.resize(static_cast<std::size_t>(DeviceFrame(TKivMusicPlayer::kHeadlessStepMs) + 1) * kChannels);
}

TShowMixer::~TShowMixer() {
    player_->Stop();
}

std::int64_t TShowMixer::FrameAt(double ms) const {
    return DeviceFrame(ms - from_);
}

void TShowMixer::MixTo(double untilMs, const TSink& sink) {
    const std::int64_t target = FrameAt(untilMs);
    while (mixed_ < target) {
        // Pulled only up to the clock's reading: a sound the next step starts, however late that
        // step finds it due, still lies ahead of what has been mixed and starts on its own frame.
        const std::int64_t stepEnd = DeviceFrame(clock_->NowMs());
        if (mixed_ >= stepEnd) {
            player_->AdvanceClock(TKivMusicPlayer::kHeadlessStepMs);
            continue;
        }
        const int frames = static_cast<int>(std::min(stepEnd, target) - mixed_);
        device_->Pull(block_.data(), frames);
        sink(block_.data(), frames);
        mixed_ += frames;
    }
}

std::string MixToWavFile(TShowMixer& mixer, double untilMs, const std::string& path) {
    const std::int64_t frames = std::max<std::int64_t>(mixer.FrameAt(untilMs) - mixer.FramesMixed(), 0);
    const auto bytes = static_cast<std::uint64_t>(frames) * TShowMixer::kChannels * 2;
    if (bytes > 0xFFFFFFFFull - 36) return "the sound from FROM to TO is too long for a WAV file";
    std::string header;
    const auto u32 = [&header](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const auto u16 = [&header](std::uint16_t v) {
        header.push_back(static_cast<char>(v & 0xFF));
        header.push_back(static_cast<char>(v >> 8));
    };
    constexpr std::uint16_t kBlock = TShowMixer::kChannels * 2;
    header += "RIFF";
    u32(static_cast<std::uint32_t>(36 + bytes));
    header += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(TShowMixer::kChannels);
    u32(TShowMixer::kRate);
    u32(TShowMixer::kRate * kBlock);
    u16(kBlock);
    u16(16);
    header += "data";
    u32(static_cast<std::uint32_t>(bytes));
    // Written beside the output and renamed over it: a link at the name is replaced, not followed.
    TReplacingFile output(path);
    std::FILE* file = output.File();
    if (!file) return output.Error();
    bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    mixer.MixTo(untilMs, [&](const std::int16_t* samples, int count) {
        // The file is little-endian, as the samples are in memory here.
        const auto n = static_cast<std::size_t>(count) * TShowMixer::kChannels;
        written = written && std::fwrite(samples, sizeof(std::int16_t), n, file) == n;
    });
    if (!written || std::fflush(file) != 0) return CannotWrite(path, errno);
    if (!output.Commit()) return output.Error();
    return {};
}

} // namespace kiv
