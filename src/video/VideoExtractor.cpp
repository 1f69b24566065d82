#include "video/VideoExtractor.h"

#include "base/Assert.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>

namespace kiv {

namespace {

std::atomic<std::int64_t> waitCount{0};
std::atomic<std::int64_t> waitNs{0};

} // namespace

TKivVideoExtractor::TKivVideoExtractor(std::unique_ptr<TFrameSource> source, bool loop, int poolSize)
    : source_(std::move(source)), loop_(loop) {
    KIV_ASSERT(source_ != nullptr, "video extractor without a source");
    params_ = source_->Params();
    for (int i = 0; i < std::max(poolSize, 2); ++i)
        pool_.push_back({MakeRef<TYUVImage>(params_.width, params_.height, !params_.yuv), -2});
    Start();
}

TKivVideoExtractor::~TKivVideoExtractor() {
    Stop();
}

void TKivVideoExtractor::Terminate() {
    {
        std::lock_guard guard(lock_);
        TThread::Terminate();
    }
    changed_.notify_all();
}

void TKivVideoExtractor::Stop() {
    Terminate();
    WaitFor();
}

int TKivVideoExtractor::Holding(std::int64_t n) const {
    for (std::size_t i = 0; i < pool_.size(); ++i)
        if (pool_[i].frame == n && n >= 0) return static_cast<int>(i);
    return -1;
}

void TKivVideoExtractor::Execute() {
    ::pthread_setname_np(::pthread_self(), "kivVideoFrames");
    std::unique_lock lock(lock_);
    for (;;) {
        changed_.wait(lock, [&] { return Terminated() || (requested_ >= 0 && !pool_.empty()); });
        if (Terminated()) break;
        if (Holding(requested_) >= 0) {
            requested_ = -2;
            changed_.notify_all();
            continue;
        }
        // The image whose frame is farthest from the request (an empty one first) is decoded again.
        const std::int64_t n = requested_;
        auto farthest = std::max_element(pool_.begin(), pool_.end(), [&](const TSlot& a, const TSlot& b) {
            const auto da = a.frame < 0 ? INT64_MAX : std::llabs(a.frame - n);
            const auto db = b.frame < 0 ? INT64_MAX : std::llabs(b.frame - n);
            return da < db;
        });
        TSlot slot = *farthest;
        pool_.erase(farthest);
        lock.unlock();
        bool ok = false;
        try {
            ok = source_->GetFrame(n, *slot.image);
        } catch (const std::exception&) {
            ok = false;
        }
        lock.lock();
        ++decodes_;
        if (!ok) ++failures_;
        slot.frame = ok ? n : -2;
        pool_.push_back(slot);
        // A failed frame is not asked again until the next request: the worker never spins on it.
        if (requested_ == n) requested_ = -2;
        changed_.notify_all();
    }
    ended_ = true;
    changed_.notify_all();
    lock.unlock();
    source_.reset();
}

bool TKivVideoExtractor::Request(double t, bool wait) {
    std::unique_lock lock(lock_);
    if (ended_ || Terminated()) return false;
    for (TSlot& slot : pool_)
        if (slot.image->Dirty()) slot.frame = -2;
    const std::int64_t n = FrameFor(t);
    if (n < 0 || Holding(n) >= 0) return true;
    requested_ = n;
    changed_.notify_all();
    // Without an image in the pool the worker cannot serve: never wait then.
    if (wait && !pool_.empty()) {
        const auto from = std::chrono::steady_clock::now();
        changed_.wait(lock, [&] { return requested_ != n || ended_ || Terminated(); });
        waitCount.fetch_add(1, std::memory_order_relaxed);
        waitNs.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - from)
                             .count(),
                         std::memory_order_relaxed);
    }
    return !ended_ && !Terminated();
}

TKivVideoExtractor::TTaken TKivVideoExtractor::Take(double t) {
    std::lock_guard guard(lock_);
    TTaken taken;
    const std::int64_t n = FrameFor(t);
    auto closest = pool_.end();
    for (auto it = pool_.begin(); it != pool_.end(); ++it)
        if (it->frame >= 0 &&
            (closest == pool_.end() || std::llabs(it->frame - n) < std::llabs(closest->frame - n)))
            closest = it;
    if (closest == pool_.end()) return taken;
    taken.image = closest->image;
    taken.frame = closest->frame;
    taken.exact = closest->frame == n;
    taken_.push_back(*closest);
    pool_.erase(closest);
    // The next frame in advance.
    std::int64_t next = params_.fps > 0 ? FrameFor(t + 1000.0 / params_.fps) : n + 1;
    if (next == n) next = FrameFor((static_cast<double>(n) + 1.0) * 1000.0 / std::max(params_.fps, 1e-9));
    if (next >= 0 && next != taken.frame && Holding(next) < 0) {
        requested_ = next;
        changed_.notify_all();
    }
    return taken;
}

void TKivVideoExtractor::PutBack(const TRef<TYUVImage>& image, bool redecode) {
    if (!image) return;
    std::lock_guard guard(lock_);
    auto it = std::find_if(taken_.begin(), taken_.end(), [&](const TSlot& s) { return s.image == image; });
    if (it == taken_.end()) return;
    TSlot slot = *it;
    taken_.erase(it);
    if (redecode) slot.frame = -2;
    pool_.push_back(slot);
    changed_.notify_all();
}

std::int64_t TKivVideoExtractor::Decodes() const {
    std::lock_guard guard(lock_);
    return decodes_;
}

TKivVideoExtractor::TWaitTotals TKivVideoExtractor::WaitTotals() {
    return {waitCount.load(std::memory_order_relaxed),
            static_cast<double>(waitNs.load(std::memory_order_relaxed)) / 1e6};
}

std::int64_t TKivVideoExtractor::Failures() const {
    std::lock_guard guard(lock_);
    return failures_;
}

} // namespace kiv
