// TObjectFilter: the common base of the attachments a keyframe carries — modifiers (formulas that
// drive one animation slot) and colour filters (that change the colours of an object's content).
// It gives them an identity (`id`), revision tracking (`$rev`), the disabled flag and access to
// their parameters, which are plain keys of their project object.
//
// Filters form singly linked chains; a filter owns the rest of its chain. A chain is applied from
// its far end back to its head. Filters are read on the slide loader thread and applied on the
// engine thread, never by both at once.
#pragma once

#include "base/RefObject.h"
#include "ini/IniFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

enum TFilterKind : int {
    kFilterValue = 1,   // a modifier: computes a scalar
    kFilterChannel = 2, // a colour filter that works per channel (a 256-entry table suffices)
    kFilterVolume = 3,  // a colour filter that mixes channels (needs the 3-D table)
};

enum TFilterParamKind : int { kParamNumber = 1, kParamColor = 3, kParamChoice = 4 };

// How an editing front-end presents one parameter.
struct TFilterParamInfo {
    std::string key;
    std::string caption;
    int kind = kParamNumber;
    double minimum = 0.0;
    double maximum = 0.0;
    double defaultValue = 0.0;
    std::vector<std::string> storedWords; // choices only
    std::vector<std::string> shownWords;
};

class TObjectFilter : public TRefObject {
public:
    const std::string& Id() const noexcept { return id_; }
    // The project object the filter was read from (none before ReadFilter).
    TIniObject* ProjectObject() const noexcept { return object_.Get(); }
    std::int64_t Revision() const noexcept { return revision_; }
    bool NeedsUpdate() const noexcept { return needsUpdate_; }
    bool Disabled() const noexcept { return disabled_; }

    TObjectFilter* Next() const noexcept { return next_.Get(); }
    void SetNext(TRef<TObjectFilter> next) { next_ = std::move(next); }

    // Reads the filter from a project object. A filter that already has an identity accepts only
    // the object with the same `id` and `$rev` (false otherwise, and nothing changes). A filter
    // without identity takes the object's `id` — a missing one is created and written into the
    // document — and its `$rev`. Then `Disable` is read, and when the revision was not applied
    // yet, Update runs; a failed Update leaves NeedsUpdate set.
    bool ReadFilter(TIniObject& object);

    // Applies the filter to `width` × `rows` BGRA pixels. No-op in the base.
    virtual void ApplyToTable(std::uint8_t* pixels, int width, int rows);
    // The filter's scalar result (modifiers); 0 in the base.
    virtual double EvaluateValue();
    // Recomputes the filter's working state from its project object; false on failure.
    virtual bool Update() = 0;
    virtual int Kind() const { return kFilterChannel; }
    virtual int ParamCount() const { return 0; }
    virtual TFilterParamInfo ParamInfo(int index) const;
    // The class caption, followed by the preset's name in brackets when the filter was made from one.
    virtual std::string Caption() const;
    // The stored text of parameter `index` (empty for an index out of range or before ReadFilter).
    virtual std::string GetParamText(int index) const;
    // Writes parameter `index`. A real change removes `Preset`, increases `$rev` and applies the
    // new values at once. Returns false for an index out of range or when nothing changed.
    virtual bool SetParamText(int index, std::string_view text);

protected:
    explicit TObjectFilter(std::string caption) : caption_(std::move(caption)) {}
    // Frees the rest of the chain without recursing, so a chain of any length can go.
    ~TObjectFilter() override;

    // Runs Update and records the revision as applied when it succeeds.
    void ApplyRevision();

private:
    std::string id_;
    TRef<TIniObject> object_;
    TRef<TObjectFilter> next_;
    std::int64_t revision_ = 0;
    std::int64_t appliedRevision_ = 0; // revision last applied + 1; 0 = never
    std::string caption_;
    bool needsUpdate_ = true;
    bool disabled_ = false;
};

// The highest Kind among the chain's filters that are not disabled; 0 for an empty chain or one
// whose filters are all disabled.
int ChainKind(const TObjectFilter* chain) noexcept;

// The chain's filters in the order they are applied: from the far end back to the head.
std::vector<TObjectFilter*> ChainApplyOrder(TObjectFilter* chain);

} // namespace kiv
