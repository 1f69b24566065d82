// The effect catalog: the transitions of a show as the project keeps them, the show-wide settings
// object TheEffect of [Main] whose child objects form the pool, and one TheEffect object per slide.
// It enumerates the pool entries (plus the built-ins "default", "defowntime" and "quick"), finds
// entries by name, wraps each slide's choice and answers transition times.
//
// Not locked: used by one thread at a time (the one that builds slides). Returned wrappers stay
// valid until ClearCaches or the catalog's destruction.
#pragma once

#include "base/RefObject.h"
#include "ini/IniFile.h"
#include "project/EffectProp.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kiv {

class TKIVEffectManager : public TRefObject {
public:
    // The built-in entry names, in enumeration order.
    static constexpr std::array<std::string_view, 3> kBuiltInNames = {"default", "defowntime", "quick"};

    // `document` must be present (assertion "There is no IniFile for EffectRuller"); it is held by
    // reference count and not otherwise owned. A width or height of 0 or less is read from
    // opt_scr_width / opt_scr_height of [Main] (1920 / 1080 by default).
    TKIVEffectManager(TIniFile* document, std::int32_t height, std::int32_t width);

    virtual std::int32_t SlideCount() const;
    virtual std::int32_t ScreenWidth() const { return width_; }
    virtual std::int32_t ScreenHeight() const { return height_; }
    virtual TIniFile* IniFile() const { return document_.Get(); }
    // The wrapper of slide `index`'s TheEffect (created with ref=default when missing); nullptr
    // when the slide has no section.
    virtual TRef<TEffectProp> CreateSlideEntry(std::int32_t index);
    // The factory of all wrappers.
    virtual TRef<TEffectProp> CreateEntry(TIniList& object);
    // Notification after an edit; forgets the cached AnyEnabled answer.
    virtual void Changed();
    virtual void ClearCaches();
    // Removes a pool entry's object and wrapper; false when locked or not a pool child.
    virtual bool DeleteEntry(TEffectProp& entry);
    virtual std::string PrefixedCaption(std::int32_t index);
    virtual std::string EntryCaption(std::int32_t index);

    // The show-wide TheEffect of [Main]; both are created (TheEffect with time=2000) when missing.
    TIniObject& Pool();
    // The integer `time` of the pool object, 0 when missing or not a number; and its text.
    std::int32_t DefaultTime();
    std::string DefaultTimeText();

    std::int32_t EntryCount();
    TEffectProp* Entry(std::int32_t index);
    // Position of the pool child with that name (any case), -1 when none.
    std::int32_t IndexOf(std::string_view name);
    // The pool child of that name, else the built-in of that exact name, else nullptr.
    TEffectProp* FindEntry(std::string_view name);
    // The cached wrapper of a slide; nullptr outside 0..SlideCount-1 or without a slide section.
    TEffectProp* SlideEntry(std::int32_t index);
    // Transition time of a slide: DefaultTime for a negative index, else the entry's Time (0 when
    // there is none).
    std::int32_t SlideTime(std::int32_t index);
    // Some entry has Enabled != 0. Remembered until Changed or ClearCaches.
    bool AnyEnabled();

    bool Locked() const { return locked_; }
    void SetLocked(bool locked) { locked_ = locked; }
    bool VirtualEntries() const { return virtualEntries_; }
    void SetVirtualEntries(bool on) { virtualEntries_ = on; }
    const std::string& CaptionPrefix() const { return captionPrefix_; }
    void SetCaptionPrefix(std::string prefix) { captionPrefix_ = std::move(prefix); }

protected:
    ~TKIVEffectManager() override = default;

private:
    TEffectProp* BuiltIn(std::size_t which);
    std::int32_t ChildCount();

    std::vector<TRef<TEffectProp>> poolCache_;
    std::unordered_map<std::int32_t, TRef<TEffectProp>> slideCache_;
    TRef<TIniFile> document_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::array<TRef<TIniObject>, 3> builtInObjects_;
    std::array<TRef<TEffectProp>, 3> builtIns_;
    bool locked_ = false;
    bool virtualEntries_ = true;
    std::string captionPrefix_;
    std::optional<bool> anyEnabled_;
};

} // namespace kiv
