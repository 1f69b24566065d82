// The drawer's device copies over a looping show: the demo, with a colour filter on every picture's
// keyframes (so that each slide grades its pictures through colour tables of its own), played
// headlessly pass after pass. Every few seconds of show time it prints the drawer's colour-table
// textures and the screen's device resources; both must stay flat from the second pass on, as the
// slides that made them come and go. Run by scripts/grading-soak.sh; not a test.
//
//   grading_soak [--seconds SHOW_SECONDS] [--every SHOW_SECONDS] [--size WxH]
#include "engine/DrawController.h"
#include "engine/HeadlessRender.h"
#include "package/RealFileSource.h"
#include "render/Drawer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace kiv;

// The demo's project with a colourising filter in every keyframe block of its pictures.
std::string GradedDemo() {
    std::ifstream in(std::string(KIV_DEMO_DIR) + "/Project.kiv", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string out, line;
    std::istringstream lines(text.str());
    int n = 0;
    while (std::getline(lines, line)) {
        out += line + "\n";
        if (line.find(":KeyPoint") != std::string::npos) {
            // Each keyframe its own colour, so that every table differs.
            out += "object Colorization:Filter\nAmount=" + std::to_string(30 + n % 60) + "\nColor=" +
                   std::to_string((n * 2654435761u) & 0xFFFFFF) + "\nend\n";
            ++n;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 600, every = 15;
    int width = 640, height = 360;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--every"))
            every = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--size") && !ParseFrameSize(argv[i + 1], width, height))
            return 2;
    }
    auto files = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(KIV_DEMO_DIR));
    auto ini = MakeRef<TIniFile>();
    ini->LoadFromText(GradedDemo());
    THeadlessOptions options;
    options.width = width;
    options.height = height;
    options.fps = 10;
    options.toMs = seconds * 1000;
    options.overlay = false;
    THeadlessPlayer player(files, ini, options);
    const int frames = player.FrameCount();
    std::printf("show time s\tgrading textures\tscreen resources\n");
    double next = 0;
    for (int k = 0; k < frames; ++k) {
        if (!player.RenderFrame(k)) {
            std::printf("frame %d was not drawn\n", k);
            return 1;
        }
        const double t = player.FrameTime(k) / 1000;
        if (t + 1e-9 < next) continue;
        next += every;
        T3DDrawer* drawer = player.Engine().DrawController().Drawer();
        if (!drawer) return 1;
        std::printf("%.1f\t%zu\t%zu\n", t, drawer->GradingTextureCount(), drawer->Screen()->Resources().size());
        std::fflush(stdout);
    }
    return 0;
}
