// One transition entry of the effect catalog seen through a wrapper: either a pool entry (a child
// object of the show-wide TheEffect of [Main], or one of the built-in entries "default",
// "defowntime", "quick") or a slide reference (a slide's TheEffect object, class text "AnEffect",
// whose `ref` names a pool entry or built-in). The wrapper answers name, type, switch state, family,
// key values (a slide's own values first, then the entry it refers to, then the show-wide object),
// transition time and the variants of custom transitions.
//
// Wrappers are made and cached by their TKIVEffectManager and live on the thread that uses the
// catalog. Lookups change the document in memory only where stated.
#pragma once

#include "base/RefObject.h"
#include "ini/IniFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TKIVEffectManager;

class TEffectProp : public TRefObject {
public:
    // Largest number of variants a custom entry is taken to have; the product of the lengths of its
    // variant keys is capped there so that no text can make the player enumerate billions.
    static constexpr std::int32_t kMaxVariantCount = 4096;

    // `catalog` is not owned and must outlive the wrapper; `object` is shared.
    TEffectProp(TKIVEffectManager& catalog, TIniList& object);

    TIniList& Object() const { return *object_; }
    TKIVEffectManager& Catalog() const { return *catalog_; }

    // A slide reference: an object whose class text is "AnEffect" (any case).
    bool IsReference() const;
    // Lower-cased: the `ref` value of a slide reference, the object name of a pool entry.
    std::string Name() const;
    // A pool entry's class text; for a slide reference the class text of the pool child its name
    // finds, or its `ref` text when no child has that name.
    std::string TypeWord() const;
    // The entry's own item `key`; for a pool entry the key "time" is the show-wide one (in the
    // parent object; built-ins have none). With `create` a missing item is created empty.
    TIniItem* Item(std::string_view key, bool create = false) const;
    // The text of a key with the precedence rules of the catalog; empty when nothing is found.
    std::string Value(std::string_view key) const;
    // The comma-separated parts of the entry's own `key` value, read when the wrapper was made.
    const std::vector<std::string>& KeyList() const { return keyList_; }
    // 0 off, 1 partly on, 2 on (by the keys of KeyList, else by `checked`).
    int Enabled() const;
    // The standard family index (see TKivEffect): 3 for no entry; a pool entry's `stdidx`.
    int StdIndex() const;
    // True when TypeWord is "custom" (any case).
    bool IsCustom() const;

    // --- Variants of a custom transition ---
    std::vector<std::string> VariantKeys() const;
    // Product of the value lengths of the variant keys (capped at kMaxVariantCount); 0 for a
    // non-custom entry.
    std::int32_t VariantCount() const;
    bool VariantEnabled(std::int32_t variant) const;
    // The item "slide_..." that names variant `variant`'s section; nullptr when there is none.
    TIniItem* VariantItem(std::int32_t variant) const;
    // The section "effect_" + the value of VariantItem; created in the document when `create`.
    virtual TIniSection* VariantSection(std::int32_t variant, bool create);
    // The section "effect_" + suffix; a slide reference asks the entry it refers to.
    virtual TIniSection* NamedSection(std::string_view suffix, bool create);
    // A detached copy of the variant's section with the user properties written into its `Root`
    // object and the background keys added; nullptr when the variant has no section. The caller
    // owns the copy.
    TRef<TIniSection> VariantCopy(std::int32_t variant);

    // Transition time in ms. A "defowntime" slide without a `time` of its own gets the show-wide one
    // written into its object.
    virtual std::int32_t Time();
    // Writes the background keys of a custom transition's description into `list`.
    virtual void FillBackground(TIniList& list) const;

    // --- Editing (not used in playback; do nothing while the catalog is locked) ---
    // Copies the other entry's items (and, for two pool entries with `withVariants`, the sections
    // of their variants) and reads the key list again.
    virtual void Assign(TEffectProp& other, bool withVariants);
    // Renames the object and sets its class text; a slide reference applies it to its entry first.
    virtual void SetNameAndType(std::string_view name, std::string_view classText);

protected:
    ~TEffectProp() override = default;

private:
    // The entry a slide reference's name finds (FindEntry); nullptr for a pool entry.
    TEffectProp* Referenced() const;
    void ReadKeyList();

    std::vector<std::string> keyList_;
    mutable int referenceState_ = 0; // 0 not known, 1 slide reference, -1 pool entry
    TKIVEffectManager* catalog_;
    TRef<TIniList> object_;
};

} // namespace kiv
