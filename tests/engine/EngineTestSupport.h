// A hand-made show for the engine tests and a headless engine stepped by a virtual clock.
//
// The show: three slides of solid colours (red, green, blue), slide k from (k−1)·2000 to k·2000 ms
// with an incoming dissolve of 500 ms (slide 1's from the lead-in); optional extra [Main] lines and
// per-slide end actions.
#pragma once

#include "engine/DrawController.h"
#include "engine/HeadlessRender.h"
#include "engine/KivEngine.h"
#include "engine/RootItem.h"
#include "framework/Application.h"
#include "images/Bitmap.h"
#include "objects/DrawContainer.h"
#include "render/Drawer.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::test {

constexpr std::uint32_t kSlideColors[3] = {0xFF0000u, 0x00FF00u, 0x0000FFu};
constexpr double kSlideMs = 2000;
constexpr double kTransitionMs = 500;
constexpr int kFrameWidth = 64;
constexpr int kFrameHeight = 36;

struct TTestShowSpec {
    std::string repeat = "stop"; // opt_repeat
    std::string mainExtra;       // more [Main] lines
    std::array<std::string, 3> endActions{"timer", "timer", "timer"};
    // The slides' sync times (opt_synchpos1 … 3), ms.
    std::array<int, 3> syncs{2000, 4000, 6000};
    // The first slide's transition effect ("" for none).
    std::string effect = "dissolve";
    // More lines of each slide's section.
    std::array<std::string, 3> slideExtra{};
    // Objects of the first slide (children of its root).
    std::string firstSlideObjects;
    // Whole sections after the slides (dialogs).
    std::string extraSections;
};

inline std::string EngineShowText(const TTestShowSpec& spec = {}) {
    std::string text =
        "[Main]\nopt_scr_width=1280\nopt_scr_height=720\nopt_scr_full=0\nopt_repeat=" + spec.repeat +
        "\nopt_pausewheninactive=0\nopt_scr_hidercolor=0\n" + spec.mainExtra +
        "object TheEffect:AnEffect\n  time=500\n  object dissolve:dissolve\n    caption=dissolve\n"
        "    stdidx=2\n    checked=1\n  end\nend\n";
    text += "[Times]\nopt_slidescount=3\n";
    for (int k = 1; k <= 3; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" +
                std::to_string(spec.syncs[static_cast<std::size_t>(k - 1)]) + "\n";
    for (int k = 1; k <= 3; ++k) {
        const std::uint32_t c = kSlideColors[k - 1];
        // Colours are 0x00BBGGRR in the project.
        const std::uint32_t bgr = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        text += "[Slide" + std::to_string(k) + "]\nbstyle=1\nbcolor=" + std::to_string(bgr) +
                "\nPers_EndAction=" + spec.endActions[static_cast<std::size_t>(k - 1)] + "\n" +
                spec.slideExtra[static_cast<std::size_t>(k - 1)];
        text += "object TheEffect:AnEffect\n  ref=" + (k == 1 ? spec.effect : std::string("dissolve")) +
                "\n  time=500\nend\n";
        text += "object Container:Root\n  GUID=root" + std::to_string(k) + "\n" +
                (k == 1 ? spec.firstSlideObjects : std::string()) + "end\n";
    }
    return text + spec.extraSections;
}

// Expects `got` (0xRRGGBB) to be (1 − f) × from + f × to per channel, within 2.
inline void ExpectMix(std::uint32_t got, std::uint32_t from, std::uint32_t to, double f) {
    for (const int shift : {16, 8, 0}) {
        const double a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
        EXPECT_NEAR(static_cast<double>((got >> shift) & 0xFF), (1 - f) * a + f * b, 2.0)
            << "channel " << shift << " of " << std::hex << got << " at f = " << f;
    }
}

inline THeadlessOptions RigOptions(double fps = 100) {
    THeadlessOptions options;
    options.width = kFrameWidth;
    options.height = kFrameHeight;
    options.fps = fps;
    options.actionsEnabled = true;
    return options;
}

// The engine on a headless device, stepped by the virtual clock; notifications are gathered.
class TEngineRig {
public:
    explicit TEngineRig(const TTestShowSpec& spec = {}, THeadlessOptions options = RigOptions()) {
        player_ = std::make_unique<THeadlessPlayer>(nullptr, ParseIni(EngineShowText(spec)), options);
        Engine().OnPosition = [this](TCustomKivEngine&, int time, bool ended, int duration) {
            positions.push_back({time, ended, duration});
        };
        Engine().OnFirstFrame = [this](TCustomKivEngine&) { ++firstFrames; };
        Engine().OnEvent = [this](TCustomKivEngine&, TKivEventData& event) {
            if (event.code == kNotifyGeometry) ++geometries;
            if (event.code == kNotifyAction) actions.push_back(event.ints);
        };
    }

    TKivEngine& Engine() { return player_->Engine(); }
    THeadlessPlayer& Player() { return *player_; }

    // One pass of the loop, then the notifications it made are delivered.
    void Step() {
        Engine().StepOnce();
        Deliver();
    }
    void Deliver() {
        if (auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance())) app->ProcessPending();
    }
    // Moves the virtual clock and makes one pass.
    void Advance(double ms) {
        Engine().AdvanceClock(ms);
        Step();
    }
    // The timeline index of the slide shown in root layer `layer` (−2 when none).
    int LayerSlide(int layer) {
        const TRootItem& root = Engine().Root();
        if (layer >= root.LayerCount() || !root.Layer(layer)) return -2;
        for (int i = 0; i < Engine().SlideCount(); ++i)
            if (Engine().Slide(i)->Slide() == root.Layer(layer)) return Engine().Slide(i)->Index();
        return -2;
    }
    // The grabbed frame's colour in the middle (0xRRGGBB).
    std::uint32_t CentreColor() {
        T3DDrawer* drawer = Engine().DrawController().Drawer();
        if (!drawer) return 0xDEAD;
        TRef<TBitmap> frame = drawer->GrabImage();
        if (!frame) return 0xDEAD;
        const std::uint8_t* p = frame->Row(frame->Height() / 2) + 4 * (frame->Width() / 2);
        return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
    }
    void Post(int code, TRefObject* data) { Engine().Queue().Post(code, data); }
    void Seek(double timeMs) {
        Post(kEngineOpen,
             new TOpenParams(false, Engine().NextRequestId(), nullptr, nullptr, static_cast<int>(timeMs)));
    }
    void SetPaused(bool paused) { Post(kEngineMode, new TModeData(paused)); }
    int EndedReports() const {
        int n = 0;
        for (const auto& p : positions)
            n += p.ended ? 1 : 0;
        return n;
    }

    struct TPosition {
        int time;
        bool ended;
        int duration;
    };
    std::vector<TPosition> positions;
    std::vector<std::vector<int>> actions;
    int firstFrames = 0;
    int geometries = 0;

private:
    std::unique_ptr<THeadlessPlayer> player_;
};

} // namespace kiv::test
