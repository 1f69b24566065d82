// TKivVideoExtractor: a frame source on its own worker thread ("kivVideoFrames") with a small pool
// of decoded images. The video object asks for the frame a show time needs (Request) and takes the
// closest decoded one (Take); the worker decodes the frame asked for into the image whose frame is
// farthest from it, outside the lock, and each Take asks for the next frame in advance, so playing
// needs no decoding on the engine thread. A frame asked for again is served from the pool.
//
// Threads: Request, Take and Release come from the engine thread; the pool and the request are
// guarded by the extractor's monitor. Stop (or the last release) ends and joins the worker.
#pragma once

#include "base/Thread.h"
#include "video/FrameSource.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace kiv {

class TKivVideoExtractor final : public TThread {
public:
    static constexpr int kDefaultPoolSize = 3;

    // Takes the source (it must exist) and starts the worker.
    TKivVideoExtractor(std::unique_ptr<TFrameSource> source, bool loop, int poolSize = kDefaultPoolSize);

    struct TTaken {
        TRef<TYUVImage> image; // none when the pool has no decoded frame
        std::int64_t frame = -2;
        bool exact = false; // the frame is the one the time asked for
    };

    const TVideoParams& Params() const noexcept { return params_; }
    bool Loop() const noexcept { return loop_; }
    std::int64_t FrameFor(double t) const { return FrameForTime(params_, t, loop_); }

    // Asks for the frame of time `t` unless an image holds it; with `wait`, blocks until the worker
    // served the request (or failed it, or the extractor ended). False when it ended.
    bool Request(double t, bool wait);
    // The image whose frame is closest to the frame of `t`, out of the pool until PutBack; then
    // asks for the next frame in advance.
    TTaken Take(double t);
    // Puts a taken image back; `redecode` marks its frame to be decoded again.
    void PutBack(const TRef<TYUVImage>& image, bool redecode = false);

    // Frames the source was asked to decode, and how many of those failed.
    std::int64_t Decodes() const;
    std::int64_t Failures() const;

    // Time callers spent blocked in Request waiting for a frame, summed over every extractor of
    // the process (the headless render reports it as the share spent waiting for the decoder).
    struct TWaitTotals {
        std::int64_t waits = 0;
        double ms = 0.0;
    };
    static TWaitTotals WaitTotals();

    void Terminate() override;
    // Terminates and waits for the worker.
    void Stop();

protected:
    ~TKivVideoExtractor() override;
    void Execute() override;

private:
    struct TSlot {
        TRef<TYUVImage> image;
        std::int64_t frame = -2; // −2 empty
    };
    // The pool index holding frame n, or −1 (under the lock).
    int Holding(std::int64_t n) const;

    std::unique_ptr<TFrameSource> source_;
    TVideoParams params_;
    bool loop_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<TSlot> pool_;
    std::vector<TSlot> taken_;
    std::int64_t requested_ = -2; // −2 none
    std::int64_t decodes_ = 0;
    std::int64_t failures_ = 0;
    bool ended_ = false;
};

} // namespace kiv
