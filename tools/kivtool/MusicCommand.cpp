// kivtool music SHOW: the background music's composite description as the player builds it, then
// for each slide with sound a line "slide N LENGTH" and its description; "no music" without
// background music.
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "audio/KivMusicSource.h"
#include "audio/SoundFileCheck.h"
#include "project/ShortestNumber.h"

#include <cstdio>
#include <exception>

namespace kivtool {

namespace {

constexpr const char* kMusicUsage = "music SHOW";

} // namespace

int MusicCommand(const TArgs& args) {
    if (args.size() != 1) return Usage(kMusicUsage);
    std::string out;
    try {
        const kiv::TRef<kiv::TKivSource> show = LoadShowSource(args[0]);
        kiv::TSoundFileCheck check;
        if (show->FileAccessor())
            check = kiv::MakeSoundFileCheck(kiv::TRef<kiv::TFileAccessor>::Share(show->FileAccessor()));
        const kiv::TRef<kiv::TKivMusicSource> music = kiv::MakeRef<kiv::TKivMusicSource>(*show, check);
        if (!music->Enabled() || music->MainPlaylist().Count() == 0) {
            out += "no music\n";
        } else {
            out += music->MainPlaylist().Item(0).file;
        }
        for (std::int32_t i = 0; music->Enabled() && i < music->SlideCount(); ++i) {
            const kiv::TSlideMusicInfo& info = music->SlideInfo(i);
            if (info.comment.empty()) continue;
            out += "slide " + std::to_string(i + 1) + " " + kiv::ShortestText(info.commentLength) + "\n";
            out += info.comment;
        }
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        return Fail("cannot write the output");
    return 0;
}

} // namespace kivtool
