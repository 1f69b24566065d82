// The show project as the player sees it: the project document with the options of [Main], the
// slide list of [Times] turned into a timeline, per-slide queries that steer the engine (does the
// show wait at the end of a slide, does a program start after it), the effect catalog and the pool
// from which each slide's transition is chosen.
//
// Threads: the timeline and options are fixed after construction and may be read from any thread.
// TransitionTime and GetSlideTransition use the catalog (which may add keys to the document in
// memory) and are called by one thread only, the slide producer. The other per-slide queries only
// read the document.
#pragma once

#include "base/RefObject.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"
#include "project/EffectManager.h"
#include "project/EffectPool.h"
#include "project/KivEffect.h"
#include "project/ShowOptions.h"
#include "project/SlideTimeline.h"
#include "project/TransitionRandom.h"

#include <cstdint>
#include <string>

namespace kiv {

// What the show does at the end of a slide (Pers_EndAction).
enum class TEndAction : std::uint8_t { Timer = 0, Pause = 1, Loop = 2 };

struct TKivSourceSetup {
    // The project; required. Held by reference: pass the only reference to hand the document over,
    // a shared one to share it (the document is changed in memory: screen-saver options, missing
    // transition objects).
    TRef<TIniFile> document;
    // The show's file accessor, kept for the Parts that open the show's files; may be none.
    TRef<TFileAccessor> fileAccessor;
    // The program's own file name; the extension ".scr" (any case) selects screen-saver mode.
    std::string programFileName;
    // The generator of the transition choice; none: one reseeded from the clock.
    TRef<TTransitionRandom> random;
};

class TKivSource : public TRefObject {
public:
    // Builds options, catalog, pool and timeline. A missing document is an assertion; a timeline
    // that goes backwards raises EProjectError "Incorrect time", a slide count above kMaxSlideCount
    // EProjectError "Too many slides".
    explicit TKivSource(TKivSourceSetup setup);

    std::int32_t SlideCount() const { return slideCount_; }
    TEndMode EndMode() const { return options_.endMode; }
    // Sync of the last slide: the length of one pass (0 without slides).
    double Period() const { return timeline_.Period(); }
    THiderColor HiderColor() const { return options_.hiderColor; }
    float UnsharpAmount() const { return options_.unsharpAmount; }
    bool IsScreenSaver() const { return screenSaver_; }
    bool PauseWhenInactive() const { return options_.pauseWhenInactive; }
    std::int32_t DesignWidth() const { return options_.designWidth; }
    std::int32_t DesignHeight() const { return options_.designHeight; }

    TIniFile& Document() const { return *document_; }
    TIniSection* MainSection() const { return main_; }
    TIniSection* TimesSection() const { return times_; }
    // The show's file accessor; null when the setup gave none.
    TFileAccessor* FileAccessor() const { return fileAccessor_.Get(); }
    TKIVEffectManager& Catalog() const { return *catalog_; }
    const TEffectPool& TransitionPool() const { return pool_; }
    const TSlideTimeline& Timeline() const { return timeline_; }
    const TSlideInfoList& Slides() const { return timeline_.Slides(); }

    // The record of any slide index and its loop number (see TSlideTimeline::GetSlideTimes).
    std::int32_t GetSlideTimes(std::int32_t index, TSlideInfo& info) const {
        return timeline_.GetSlideTimes(index, info);
    }
    // The slide whose record covers `time` (see TSlideTimeline::FindSlideAt).
    std::int32_t FindSlideAt(double time) const { return timeline_.FindSlideAt(time); }
    static double SlideFreeTime(const TSlideInfo& info) { return TSlideTimeline::FreeTime(info); }

    // The end action of slide `index` (0..count-1, assertion otherwise).
    TEndAction EndActionOf(std::int32_t index) const;
    // True when the show waits at the end of the slide ("pause", "loop"); `loopLength` is the
    // slide's free time for "loop", else 0.
    bool GetEndAction(std::int32_t index, double& loopLength) const;
    // True when a program is to start after slide `index`; `command` is its RunAppFN.
    bool GetRunApp(std::int32_t index, std::string& command) const;

    // The timeline's transition time of slide `index` (0..count; index count is the transition
    // after the last slide): 0 past the last slide when the show does not repeat, never negative.
    double TransitionTime(std::int32_t index);

    // Chooses the transition of slide `index` (reduced modulo the count; the count must not be 0).
    // Returns the descriptor (owned by the caller) or none, with its time in ms and smoothline.
    TRef<TKivEffect> GetSlideTransition(std::int32_t index, double& time, float& smoothline);

    // The identifier of slide `index`: its slideid, else the file name of its Picture without the
    // extension; empty without a section.
    std::string ReadSlideId(std::int32_t index) const;

protected:
    ~TKivSource() override = default;

private:
    TRef<TKIVEffectManager> catalog_;
    TRef<TIniFile> document_;
    TRef<TFileAccessor> fileAccessor_;
    TIniSection* main_ = nullptr;
    TIniSection* times_ = nullptr;
    TShowOptions options_;
    TRef<TTransitionRandom> random_;
    TEffectPool pool_;
    TSlideTimeline timeline_;
    std::int32_t slideCount_ = 0;
    bool screenSaver_ = false;
};

// The identifier a slide takes from its picture file name: the text after the last backslash (a
// trailing backslash ignored) without the part from its last dot on.
std::string SlideIdFromPicture(std::string_view picture);

} // namespace kiv
