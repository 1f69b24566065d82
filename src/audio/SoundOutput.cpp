#include "audio/SoundOutput.h"

#include "audio/SampleRound.h"
#include "base/Log.h"

#include <SDL.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <pthread.h>

namespace kiv {

bool DoubleMono(SwrContext* swr, int inChannels) {
    // FFmpeg's own mono to stereo mix lowers the level by 3 dB; mono is doubled at its own level.
    static const double kBothSides[2] = {1.0, 1.0};
    return inChannels != 1 || swr_set_matrix(swr, kBothSides, 1) >= 0;
}

// --- TOutputBuffer ---

TOutputBuffer::TOutputBuffer(int rate, int channels, TCallbacks callbacks, bool threaded)
    : rate_(rate), channels_(channels), size_(2 * rate), callbacks_(std::move(callbacks)),
      threaded_(threaded), ring_(static_cast<std::size_t>(2 * rate) * channels) {}

TOutputBuffer::~TOutputBuffer() {
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    swr_free(&swr_);
}

bool TOutputBuffer::StopFilling(int limitMs) {
    std::unique_lock<std::mutex> lock(wakeLock_);
    quit_ = true;
    wake_.notify_all();
    if (!thread_.joinable()) return true;
    if (!wake_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return threadEnded_; })) {
        // A thread cannot be killed safely: it is let go, and its owner keeps what it uses.
        TLog::Line("+++++++++++++++++++ Sound fill thread did not stop within " + std::to_string(limitMs) +
                   " ms: left behind");
        thread_.detach();
        return false;
    }
    lock.unlock();
    thread_.join();
    return true;
}

void TOutputBuffer::Start(std::int64_t delayFrames) {
    delay_.store(std::max<std::int64_t>(delayFrames, 0));
    {
        std::lock_guard<std::mutex> fill(fillLock_);
        const int frames = InitialFillSize();
        std::vector<std::int16_t> first(static_cast<std::size_t>(frames) * channels_, 0);
        callbackAt_ = 0;
        if (callbacks_.firstFill) callbacks_.firstFill(first.data(), frames);
        std::lock_guard<std::mutex> ring(ringLock_);
        std::copy(first.begin(), first.end(), ring_.begin());
        written_ = frames;
    }
    started_.store(true);
    if (threaded_)
        thread_ = std::thread([this] {
            ::pthread_setname_np(::pthread_self(), "kivSoundFill");
            ThreadMain();
        });
}

void TOutputBuffer::ThreadMain() {
    std::unique_lock<std::mutex> lock(wakeLock_);
    while (!quit_) {
        wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return quit_ || woken_; });
        if (quit_) break;
        woken_ = false;
        lock.unlock();
        Refill();
        lock.lock();
    }
    threadEnded_ = true;
    wake_.notify_all();
}

void TOutputBuffer::RequestFade() {
    fadeRequested_.store(true);
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        woken_ = true;
    }
    wake_.notify_all();
}

void TOutputBuffer::Refill(bool topUp) {
    std::lock_guard<std::mutex> fill(fillLock_);
    if (!started_.load()) return;
    if (fadeRequested_.exchange(false)) {
        // The fade starts 25 ms after the play cursor and reshapes everything queued after it.
        std::lock_guard<std::mutex> ring(ringLock_);
        const std::int64_t end = written_.load();
        std::int64_t at = std::min(played_.load() + rate_ / 40, end);
        while (at < end && callbacks_.fadeFill) {
            const std::int64_t index = at % size_;
            const int part = static_cast<int>(std::min<std::int64_t>(end - at, size_ - index));
            callbackAt_ = at;
            callbacks_.fadeFill(ring_.data() + index * channels_, part);
            at += part;
        }
    }
    std::int64_t free = 0;
    {
        std::lock_guard<std::mutex> ring(ringLock_);
        free = size_ - (written_ - played_);
    }
    const int frames = static_cast<int>(std::min<std::int64_t>(size_ / 2, free));
    if (frames <= 0 || (!topUp && frames < size_ / 4)) return;
    // One fill of `frames` frames, in place where the ring does not wrap inside them: the mixer reads
    // only the frames before `written_`, and those from there on are this fill's (fillLock_).
    const std::int64_t at = written_.load();
    const std::int64_t index = at % size_;
    const bool inPlace = index + frames <= size_;
    if (!inPlace) block_.resize(static_cast<std::size_t>(frames) * channels_);
    std::int16_t* target = inPlace ? ring_.data() + index * channels_ : block_.data();
    callbackAt_ = at;
    if (callbacks_.fill)
        callbacks_.fill(target, frames); // writes every frame
    else
        std::fill_n(target, static_cast<std::size_t>(frames) * channels_, std::int16_t{0});
    if (!inPlace) {
        const std::size_t first = static_cast<std::size_t>(size_ - index) * channels_;
        std::copy_n(block_.begin(), first, ring_.begin() + static_cast<std::ptrdiff_t>(index * channels_));
        std::copy(block_.begin() + static_cast<std::ptrdiff_t>(first), block_.end(), ring_.begin());
    }
    std::lock_guard<std::mutex> ring(ringLock_);
    written_ = at + frames;
}

double TOutputBuffer::Position() const {
    return static_cast<double>(played_.load()) * 1000.0 / rate_;
}

std::int64_t TOutputBuffer::FramesAhead() const {
    return written_.load() - played_.load();
}

std::int32_t TOutputBuffer::VolumeToMb(float volume) {
    if (!(volume > 0)) return -10000;
    const double mb = std::round(600.0 * std::log2(static_cast<double>(volume)));
    return static_cast<std::int32_t>(std::clamp(mb, -10000.0, 0.0));
}

double TOutputBuffer::MbToGain(std::int32_t mb) {
    return std::pow(10.0, mb / 2000.0);
}

void TOutputBuffer::SetVolume(float volume) {
    volume_.store(volume);
    volumeMb_.store(VolumeToMb(volume));
}

int TOutputBuffer::TakeFrames(std::int16_t* out, int frames) {
    std::lock_guard<std::mutex> ring(ringLock_);
    const int count = static_cast<int>(std::min<std::int64_t>(frames, written_ - played_));
    int done = 0;
    while (done < count) {
        const std::int64_t index = played_.load() % size_;
        const int part = static_cast<int>(std::min<std::int64_t>(count - done, size_ - index));
        std::memcpy(out + static_cast<std::size_t>(done) * channels_, ring_.data() + index * channels_,
                    sizeof(std::int16_t) * part * channels_);
        done += part;
        played_.fetch_add(part);
    }
    return count;
}

void TOutputBuffer::MixInto(std::int32_t* mix, int frames) {
    if (!started_.load()) return;
    if (const std::int64_t delay = delay_.load(); delay > 0) {
        const int skipped = static_cast<int>(std::min<std::int64_t>(delay, frames));
        delay_.store(delay - skipped);
        mix += static_cast<std::size_t>(skipped) * 2;
        frames -= skipped;
        if (frames == 0) return;
    }
    const std::int32_t mb = volumeMb_.load();
    if (rate_ == 44100 && channels_ == 2) {
        // Added straight from the ring.
        std::lock_guard<std::mutex> ring(ringLock_);
        const int count = static_cast<int>(std::min<std::int64_t>(frames, written_ - played_));
        for (int done = 0; done < count;) {
            const std::int64_t index = played_.load() % size_;
            const int part = static_cast<int>(std::min<std::int64_t>(count - done, size_ - index));
            AddScaled(ring_.data() + index * 2, static_cast<std::size_t>(part) * 2, mb,
                      mix + static_cast<std::size_t>(done) * 2);
            done += part;
            played_.fetch_add(part);
        }
        return;
    }
    out_.resize(static_cast<std::size_t>(frames) * 2); // only the `got` frames read are mixed
    int got = 0;
    if (!swr_) {
        AVChannelLayout inLayout;
        AVChannelLayout outLayout;
        av_channel_layout_default(&inLayout, channels_);
        av_channel_layout_default(&outLayout, 2);
        if (swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, 44100, &inLayout, AV_SAMPLE_FMT_S16,
                                rate_, 0, nullptr) < 0 ||
            !DoubleMono(swr_, channels_) || swr_init(swr_) < 0)
            swr_free(&swr_);
        if (!swr_) return;
    }
    in_.resize(static_cast<std::size_t>(4096) * channels_);
    while (got < frames) {
        auto* target = reinterpret_cast<std::uint8_t*>(out_.data() + static_cast<std::size_t>(got) * 2);
        const auto* source = reinterpret_cast<const std::uint8_t*>(in_.data());
        const int buffered = swr_convert(swr_, &target, frames - got, &source, 0);
        if (buffered > 0) got += buffered;
        if (got >= frames) break;
        const std::int64_t need = (static_cast<std::int64_t>(frames - got) * rate_ + 44099) / 44100 + 2;
        const int taken = TakeFrames(in_.data(), static_cast<int>(std::min<std::int64_t>(need, 4096)));
        if (taken <= 0) break;
        target = reinterpret_cast<std::uint8_t*>(out_.data() + static_cast<std::size_t>(got) * 2);
        const int made = swr_convert(swr_, &target, frames - got, &source, taken);
        if (made > 0) got += made;
    }
    AddScaled(out_.data(), static_cast<std::size_t>(got) * 2, mb, mix);
}

void TOutputBuffer::AddScaled(const std::int16_t* samples, std::size_t count, std::int32_t mb, std::int32_t* mix) {
    if (mb == 0) {
        for (std::size_t i = 0; i < count; ++i)
            mix[i] += samples[i];
    } else if (mb > -10000) {
        const double gain = MbToGain(mb);
        for (std::size_t i = 0; i < count; ++i)
            mix[i] += static_cast<std::int32_t>(RoundHalfAway(samples[i] * gain));
    }
}

// --- TSoundMixer ---

void TSoundMixer::Add(TOutputBuffer& buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(buffers_.begin(), buffers_.end(), &buffer) == buffers_.end()) buffers_.push_back(&buffer);
}

void TSoundMixer::Remove(TOutputBuffer& buffer) {
    std::lock_guard<std::mutex> guard(lock_);
    buffers_.erase(std::remove(buffers_.begin(), buffers_.end(), &buffer), buffers_.end());
}

void TSoundMixer::RefillAll(bool topUp) {
    std::vector<TOutputBuffer*> buffers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        buffers = buffers_;
    }
    for (TOutputBuffer* buffer : buffers)
        buffer->Refill(topUp);
}

bool TOutputBuffer::CopyInto(std::int16_t* out, int frames) {
    if (!started_.load() || delay_.load() > 0 || volumeMb_.load() != 0 || rate_ != 44100 || channels_ != 2)
        return false;
    const int got = TakeFrames(out, frames);
    std::fill(out + static_cast<std::size_t>(got) * 2, out + static_cast<std::size_t>(frames) * 2, 0);
    return true;
}

void TSoundMixer::Mix(std::int16_t* out, int frames) {
    std::lock_guard<std::mutex> guard(lock_);
    if (buffers_.size() == 1 && buffers_.front()->CopyInto(out, frames)) { // a sum of one needs no clamping
        consumed_.fetch_add(frames);
        return;
    }
    const std::size_t samples = static_cast<std::size_t>(frames) * 2;
    mix_.assign(samples, 0);
    for (TOutputBuffer* buffer : buffers_)
        buffer->MixInto(mix_.data(), frames);
    ClampTo16(mix_.data(), out, samples);
    consumed_.fetch_add(frames);
}

// --- TPlayClock ---

TPlayClock::TPlayClock(TNow now, TCursor cursor) : now_(std::move(now)), cursor_(std::move(cursor)) {}

TPlayClock::~TPlayClock() {
    StopPolling();
}

void TPlayClock::Play(bool pollThread) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (playing_) return;
        playing_ = true;
        waitingForCursor_ = true;
        polls_ = 0;
        lastCursor_ = -1;
        origin_ = now_();
    }
    Poll();
    if (!pollThread) return;
    thread_ = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), "kivPlayClock");
        std::unique_lock<std::mutex> lock(wakeLock_);
        while (!quit_) {
            wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return quit_; });
            if (quit_) break;
            lock.unlock();
            Poll();
            lock.lock();
        }
    });
}

void TPlayClock::StopPolling() {
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool TPlayClock::IsRunning() const {
    std::lock_guard<std::mutex> guard(lock_);
    return playing_;
}

double TPlayClock::CursorTime() const {
    if (lastCursor_ < 0) return 0;
    return (now_() - readingTime_) + static_cast<double>(lastCursor_) * 1000.0 / 44100.0;
}

void TPlayClock::Poll() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!playing_) return;
    ++polls_;
    if (waitingForCursor_) {
        const std::int64_t cursor = cursor_();
        if (cursor <= 0) return; // the device has not played yet
        lastCursor_ = cursor;
        readingTime_ = now_();
        waitingForCursor_ = false;
        origin_ = readingTime_;
        cursorOffset_ = CursorTime();
    } else if (polls_ % 10 == 0) {
        lastCursor_ = cursor_();
        readingTime_ = now_();
    }
    const double cursorTime = CursorTime() - cursorOffset_;
    const double timerTime = now_() - origin_;
    if (cursorTime > timerTime)
        origin_ -= 1;
    else if (cursorTime < timerTime)
        origin_ += 1;
}

double TPlayClock::NowMs() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!playing_ || waitingForCursor_) return 0;
    return now_() - origin_;
}

// --- TSdlAudioOutput ---

TSdlAudioOutput::TSdlAudioOutput(TSoundMixer& mixer) : mixer_(mixer) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        TLog::Line(std::string("Sound output cannot be opened: ") + SDL_GetError());
        return;
    }
    initialised_ = true;
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = &TSdlAudioOutput::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        TLog::Line(std::string("Sound output cannot be opened: ") + SDL_GetError());
        return;
    }
    SDL_PauseAudioDevice(device_, 0);
}

TSdlAudioOutput::~TSdlAudioOutput() {
    if (device_ != 0) SDL_CloseAudioDevice(device_);
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void TSdlAudioOutput::Callback(void* user, std::uint8_t* stream, int length) {
    auto* self = static_cast<TSdlAudioOutput*>(user);
    self->mixer_.Mix(reinterpret_cast<std::int16_t*>(stream), length / 4);
}

} // namespace kiv
