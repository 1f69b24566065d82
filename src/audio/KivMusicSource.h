// What the music player plays for a show: the background music as one composite description in
// the main playlist, and per slide the composite description of its comment and video sounds with
// its length. Built once from the loaded show; read-only afterwards, so any thread may read it.
#pragma once

#include "audio/MusicCompiler.h"
#include "audio/PlayList.h"
#include "base/RefObject.h"
#include "project/KivSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct TSlideMusicInfo {
    TSlideInfo times;         // the slide's timing record
    std::int32_t number = 0;  // 1-based; 0 for the last slide
    std::string comment;      // composite description, or empty
    double commentLength = 0; // ms
};

// Margin by which, in sync mode, repeating music must be shorter than one pass of the show.
inline constexpr double kSyncRepeatMargin = 200;
// Music shorter than this does not repeat: it plays once (a log line says so). Each pass of
// repeating music is a channel of its own, so a tiny pass would make thousands of them.
inline constexpr std::int64_t kMinRepeatMs = 10;

class TKivMusicSource : public TRefObject {
public:
    // Reads the sound of `show`. With `check`, each named file must pass it or its item stays
    // silent. A slide without its section has no sound (a log line says so).
    explicit TKivMusicSource(const TKivSource& show, const TSoundFileCheck& check = {});

    bool Enabled() const { return enabled_; }
    bool SyncMode() const { return syncMode_; }
    bool Repeat() const { return repeat_; }
    // Comments stop at their slide's end (not opt_fullyplaysound).
    bool CutComments() const { return cutComments_; }
    const TPlayList& MainPlaylist() const { return mainPlaylist_; }
    // The composite of the background music (items and envelopes) as compiled.
    const TCompiledSound& MainMusic() const { return mainMusic_; }

    std::int32_t SlideCount() const { return static_cast<std::int32_t>(slides_.size()); }
    // The info of slide `index` (0 .. count - 1).
    const TSlideMusicInfo& SlideInfo(std::int32_t index) const;
    // One pass of the show (the timeline's period), ms.
    double ShowDuration() const { return showDuration_; }

protected:
    ~TKivMusicSource() override = default;

private:
    void BuildSlides(const TKivSource& show, const TSoundFileCheck& check);

    bool enabled_ = true;
    bool syncMode_ = false;
    bool repeat_ = false;
    bool cutComments_ = true;
    double showDuration_ = 0;
    TCompiledSound mainMusic_;
    TPlayList mainPlaylist_;
    std::vector<TSlideMusicInfo> slides_;
};

} // namespace kiv
