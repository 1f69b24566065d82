// Shows for the slide cache and slide loader tests: n slides of one picture each, every slide
// `slideMs` long with a dissolve of `transitionMs`, pictures made in memory by a picture provider
// that counts what it made and can hold chosen pictures back (a slow decoder) until released.
#pragma once

#include "images/BitmapStore.h"
#include "images/Image.h"
#include "package/FileAccessor.h"
#include "project/KivSource.h"
#include "support/IniText.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

namespace kiv::test {

// A file source without files: every picture comes from the provider.
class TNoFiles final : public TFileSource {
public:
    TRef<TStream> Open(const std::string&) override { return nullptr; }

protected:
    ~TNoFiles() override = default;
};

// Makes a small picture for any name "pic<N>.png"; names in `held` wait in the provider until
// Release (the decoder delay), and `entered` tells a waiting test that one is being held.
class TPictureMaker {
public:
    ~TPictureMaker() { ReleaseAll(); }

    void Hold(const std::string& name) {
        std::lock_guard guard(lock_);
        held_.insert(name);
    }
    void ReleaseAll() {
        {
            std::lock_guard guard(lock_);
            held_.clear();
        }
        changed_.notify_all();
    }
    // Waits until a held picture is being asked for; false after `timeoutMs`.
    bool WaitUntilHolding(int timeoutMs) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return holding_ > 0; });
    }
    int Made() {
        std::lock_guard guard(lock_);
        return made_;
    }

    static TRef<TRefObject> Provide(void* data, const std::string& name) {
        auto* self = static_cast<TPictureMaker*>(data);
        if (name.rfind("pic", 0) != 0) return nullptr;
        {
            std::unique_lock guard(self->lock_);
            if (self->held_.count(name) != 0) {
                ++self->holding_;
                self->changed_.notify_all();
                self->changed_.wait(guard, [&] { return self->held_.count(name) == 0; });
                --self->holding_;
            }
            ++self->made_;
        }
        auto bitmap = MakeRef<TBitmap>(64, 36, TPixelFormat::Bgra32);
        bitmap->Fill32(0xFF336699u);
        return MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(name, bitmap));
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::set<std::string> held_;
    int holding_ = 0;
    int made_ = 0;
};

struct TShowSpec {
    int slides = 5;
    int slideMs = 4000;
    int transitionMs = 1000;
    bool repeat = false;
    std::string mainExtra; // more lines of [Main]
};

inline TShowSpec Spec(int slides, bool repeat = false, int slideMs = 4000, int transitionMs = 1000,
                      std::string mainExtra = {}) {
    TShowSpec spec;
    spec.slides = slides;
    spec.repeat = repeat;
    spec.slideMs = slideMs;
    spec.transitionMs = transitionMs;
    spec.mainExtra = std::move(mainExtra);
    return spec;
}

inline std::string ShowText(const TShowSpec& spec) {
    std::string text = "[Main]\nopt_scr_width=1920\nopt_scr_height=1080\nopt_repeat=" +
                       std::string(spec.repeat ? "repeat" : "stop") + "\n" + spec.mainExtra;
    text += "[Times]\nopt_slidescount=" + std::to_string(spec.slides) + "\n";
    for (int k = 1; k <= spec.slides; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * spec.slideMs) + "\n";
    for (int k = 1; k <= spec.slides; ++k) {
        text += "[Slide" + std::to_string(k) + "]\n";
        text += "object Container:Root\nGUID=root\nobject img:Image\nGUID=img\nImageName=pic" + std::to_string(k) +
                ".png\nend\nend\n";
        text += "object TheEffect:AnEffect\n  ref=dissolve\n  time=" + std::to_string(spec.transitionMs) +
                "\nend\n";
    }
    return text;
}

// A show over the picture maker; the maker must outlive the show's slides.
struct TTestShow {
    TRef<TKivSource> source;
    TRef<TCallbackHandle> provider;

    TTestShow(const TShowSpec& spec, TPictureMaker& maker) {
        auto files = MakeRef<TNoFiles>();
        provider = files->AddPictureProvider(&TPictureMaker::Provide, &maker);
        TKivSourceSetup setup;
        setup.document = ParseIni(ShowText(spec));
        setup.fileAccessor = MakeRef<TFileAccessor>(files);
        setup.programFileName = "kivviewer";
        setup.random = MakeRef<TTransitionRandom>(1);
        source = MakeRef<TKivSource>(std::move(setup));
    }
};

} // namespace kiv::test
