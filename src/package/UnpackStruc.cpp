#include "package/UnpackStruc.h"

#include "base/CaseFold.h"
#include "package/PackageFormat.h"

namespace kiv {

bool TUnpackStruc::SectionEntry(const TIniSection& section, TPackageEntry& entry) const {
    entry.offset = section.GetInt64("_ps", -1);
    entry.size = section.GetInt64("_sz", -1);
    entry.storage = section.GetInt32("_pm", 0);
    return entry.offset != -1 && entry.size != -1;
}

bool TUnpackStruc::Lookup(std::string_view name, std::int64_t shift, TPackageEntry& entry) const {
    if (name.empty()) return false; // the empty section name is the document's root
    const TIniSection* section = directory_->FindSection(EscapeEntryName(name));
    if (!section || !SectionEntry(*section, entry)) return false;
    if (__builtin_add_overflow(entry.offset, shift, &entry.offset)) entry.offset = INT64_MAX;
    return true;
}

std::vector<std::string> TUnpackStruc::EntrySections() const {
    std::vector<std::string> names;
    for (int i = 0; i < directory_->SectionCount(); ++i) {
        const TIniSection* section = directory_->Section(i);
        TPackageEntry entry;
        if (section->Name().empty() || SameTextFolded(section->Name(), kProtectionSection)) continue;
        if (SectionEntry(*section, entry)) names.push_back(section->Name());
    }
    return names;
}

} // namespace kiv
