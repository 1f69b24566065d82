#include "audio/KivMusicSource.h"

#include "base/Assert.h"
#include "base/Log.h"

#include <cmath>

namespace kiv {

namespace {

const TIniObject* FindSoundObject(const TIniList* list, std::string_view kind) {
    if (!list) return nullptr;
    for (int i = 0; i < list->ObjectCount(); ++i)
        if (IsSoundObject(*list->Object(i), kind)) return list->Object(i);
    return nullptr;
}

std::int64_t WholeMs(double value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<std::int64_t>(std::clamp(value, -9e15, 9e15));
}

} // namespace

TKivMusicSource::TKivMusicSource(const TKivSource& show, const TSoundFileCheck& check) {
    const TIniFile& document = show.Document();
    showDuration_ = show.Period();
    syncMode_ = document.ReadBool("Main", "opt_syncmode", false);
    cutComments_ = !document.ReadBool("Main", "opt_fullyplaysound", false);
    const TIniObject* music = FindSoundObject(show.MainSection(), "Music");
    if (music && music->GetBool("music_disable", false)) {
        enabled_ = false;
        return;
    }
    mainMusic_ = CompileMusic(music, document, check);
    repeat_ = mainMusic_.repeat;
    if (mainMusic_.duration > 0 && !mainMusic_.text.empty())
        mainPlaylist_.Add(mainMusic_.text, static_cast<double>(mainMusic_.duration));
    BuildSlides(show, check);
    // Music that repeats in sync mode but is not clearly shorter than a pass restarts with the
    // show anyway; repeating it within the pass would only play a stray beginning.
    if (syncMode_ && repeat_ && static_cast<double>(mainMusic_.duration) + kSyncRepeatMargin > showDuration_)
        repeat_ = false;
    if (repeat_ && mainMusic_.duration < kMinRepeatMs) {
        TLog::Line("Music of " + std::to_string(mainMusic_.duration) + " ms is too short to repeat (" +
                   std::to_string(kMinRepeatMs) + " ms at least): it plays once");
        repeat_ = false;
    }
    mainPlaylist_.SetRepeat(repeat_);
}

const TSlideMusicInfo& TKivMusicSource::SlideInfo(std::int32_t index) const {
    KIV_ASSERT(index >= 0 && index < SlideCount(), "Slide music index out of range");
    return slides_[static_cast<std::size_t>(index)];
}

void TKivMusicSource::BuildSlides(const TKivSource& show, const TSoundFileCheck& check) {
    const TIniFile& document = show.Document();
    const std::int32_t count = show.SlideCount();
    const TSlideInfoList& times = show.Slides();
    // Which slides have a comment with a file (for comments that play on over later slides).
    std::vector<bool> hasComment(static_cast<std::size_t>(count), false);
    std::vector<const TIniSection*> sections(static_cast<std::size_t>(count), nullptr);
    for (std::int32_t i = 0; i < count; ++i) {
        sections[i] = document.FindSection("Slide" + std::to_string(i + 1));
        hasComment[i] = HasSoundFile(FindSoundObject(FindSoundObject(sections[i], "Music"), "TSoundComment"));
    }
    slides_.resize(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        TSlideMusicInfo& info = slides_[static_cast<std::size_t>(i)];
        info.times = times[static_cast<std::size_t>(i)];
        info.number = i + 1 == count ? 0 : i + 1;
        const TIniSection* section = sections[static_cast<std::size_t>(i)];
        if (!section) {
            TLog::Line("Slide not Found: Slide" + std::to_string(i + 1) + " has no sound");
            continue;
        }
        const TIniObject* music = FindSoundObject(section, "Music");
        const std::int64_t slideStart = WholeMs(info.times.start);
        const std::int64_t span = WholeMs(info.times.end - info.times.start);
        const std::vector<TVideoSound> videos = SlideVideoSounds(document, *section, slideStart, span);
        if (!music && videos.empty()) continue;
        double limitEnd = info.times.end;
        if (!cutComments_) {
            // The end of the slide just before the next slide with its own comment (the last
            // slide when none follows).
            std::int32_t last = count - 1;
            for (std::int32_t k = i + 1; k < count; ++k) {
                if (hasComment[static_cast<std::size_t>(k)]) {
                    last = k - 1;
                    break;
                }
            }
            limitEnd = times[static_cast<std::size_t>(last)].end;
        }
        const std::int64_t limit = WholeMs(limitEnd - info.times.start);
        const TCompiledSound sound =
            CompileComment(FindSoundObject(music, "TSoundComment"), videos, limit, check);
        if (sound.duration < 0) {
            TLog::Line("Incorrect music time: Slide" + std::to_string(i + 1));
            continue;
        }
        if (sound.duration > 0 && !sound.text.empty()) {
            info.comment = sound.text;
            info.commentLength = static_cast<double>(sound.duration);
        }
    }
}

} // namespace kiv
