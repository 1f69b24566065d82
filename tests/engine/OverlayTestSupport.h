// A show for the overlay tests written into a temporary folder: the bar skin of NavSkinSupport.h
// under skin\, a 200 × 100 logo, and a project whose [Main] the test chooses. The overlay reads
// them through a file accessor on that folder, with a clock the test sets.
#pragma once

#include "engine/NavSkinSupport.h"
#include "engine/Overlay.h"
#include "images/PngWriter.h"
#include "objects/RecordingDrawer.h"
#include "package/RealFileSource.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kiv::test {

class OverlayFixture : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kiv_overlay_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "skin");
        for (const auto& [name, bitmap] : SkinPictures())
            ASSERT_TRUE(WritePngFile(*bitmap, (dir_ / "skin" / name).string()));
        WriteSkin(SkinText());
        ASSERT_TRUE(WritePngFile(*Solid(200, 100, 0xFF20A040u), (dir_ / "logo.png").string()));
        files_ = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(dir_.string()));
    }
    void TearDown() override {
        overlay_.Reset();
        if (!HasFailure()) std::filesystem::remove_all(dir_);
    }

    void WriteSkin(const std::string& text) {
        std::ofstream(dir_ / "skin" / "nav.ini", std::ios::binary) << text;
    }

    // The panel keys every bar test starts from: the skin's three buttons at the bottom centre, a
    // bar 10 % of the area high, placed in the whole window.
    static std::string PanelKeys() {
        return "opt_fcp=1\nopt_nav_inifile=skin\\nav.ini\nopt_cp=Bottom\nopt_newnavbuttons_count=3\n"
               "opt_newnavbutton1=home\nopt_newnavbutton2=pause\nopt_newnavbutton3=exit\n";
    }

    // An overlay over a project with `mainKeys` in [Main]; slide area and window as given.
    TThirdSlide& Make(const std::string& mainKeys, TShowRect area = {100, 50, 900, 550},
                      int clientWidth = 1000, int clientHeight = 600, TSlideProducer* producer = nullptr) {
        project_ = ParseIni("[Main]\n" + mainKeys);
        TOverlayInputs in;
        in.files = files_;
        in.project = project_.Get();
        in.slideArea = area;
        in.clientWidth = clientWidth;
        in.clientHeight = clientHeight;
        in.referenceWidth = referenceWidth_ ? referenceWidth_ : area.Width();
        in.referenceHeight = referenceHeight_ ? referenceHeight_ : area.Height();
        in.callbacks.isPlaying = [this] { return playing_; };
        in.borderFill = [this](TDeviceDrawer& drawer) {
            if (auto* recorder = dynamic_cast<TRecordingDrawer*>(&drawer)) {
                TDrawCall call;
                call.op = "BorderFill";
                recorder->calls.push_back(call);
            }
            ++borderFills_;
        };
        in.producer = producer;
        in.clock = [this] { return now_; };
        overlay_ = TThirdSlide::Create(std::move(in));
        return *overlay_;
    }

    // The operations of a drawn frame in order ("DrawImage", "BorderFill", …).
    std::vector<std::string> DrawnOps() {
        TRecordingDrawer drawer;
        drawer.Draw(*overlay_);
        std::vector<std::string> ops;
        for (const TDrawCall& call : drawer.calls)
            ops.push_back(call.op);
        return ops;
    }

    std::filesystem::path dir_;
    TRef<TFileAccessor> files_;
    TRef<TIniFile> project_;
    TRef<TThirdSlide> overlay_;
    std::int64_t now_ = 0;
    bool playing_ = true;
    int borderFills_ = 0;
    int referenceWidth_ = 0;
    int referenceHeight_ = 0;
};

} // namespace kiv::test
