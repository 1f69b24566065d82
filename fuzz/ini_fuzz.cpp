// The INI text format on arbitrary bytes: decode and parse, save, parse the saved text and save
// again (both saves must be equal), the escaped form, and every lookup and getter on what was read.
#include "base/CaseFold.h"
#include "ini/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void ExerciseList(const kiv::TIniList& list) {
    static constexpr std::string_view kWords[] = {"stop", "repeat", "close"};
    int checked = 0;
    for (const kiv::TRef<kiv::TIniItem>& item : list.Items()) {
        kiv::GetInt32(item.Get(), 0);
        kiv::GetInt64(item.Get(), 0);
        kiv::GetReal(item.Get(), 0);
        kiv::GetBool(item.Get(), false);
        kiv::GetChoice(item.Get(), kWords, true, -1);
        kiv::GetEscapedText(item.Get());
        const int parts = kiv::GetListCount(item.Get(), ',');
        for (int part = 0; part < parts && part < 8; ++part) {
            kiv::GetListInt32(item.Get(), ',', part, 0);
            kiv::GetListReal(item.Get(), ',', part, 0);
        }
        if (item->IsKey() && ++checked < 256) {
            // The key found by name folds alike and stands no earlier than this one.
            const kiv::TIniItem* found = list.FindItem(item->Name());
            Check(found && found->IsKey() && found->Index() >= item->Index());
            Check(kiv::SameTextFolded(found->Name(), item->Name()));
        }
    }
    for (int i = 0; i < list.ObjectCount(); ++i) {
        const kiv::TIniObject* object = list.Object(i);
        Check(object->Parent() == &list && object->ObjectIndex() == i);
        Check(list.FindObject(object->Name()) != nullptr);
        ExerciseList(*object);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto file = kiv::MakeRef<kiv::TIniFile>();
    Check(file->LoadFromBytes(bytes));
    file->CheckConsistency();
    ExerciseList(*file);
    for (int i = 0; i < file->SectionCount(); ++i) {
        const kiv::TIniSection* section = file->Section(i);
        Check(file->FindSection(section->Name()) == section);
        ExerciseList(*section);
    }

    // Saved with a byte-order mark, read and saved again: the same bytes.
    const std::string first = file->SaveToBytes(true);
    auto again = kiv::MakeRef<kiv::TIniFile>();
    Check(again->LoadFromBytes(first));
    again->CheckConsistency();
    Check(again->SaveToBytes(true) == first);

    // The escaped form of a document reads back to the same document.
    auto unescaped = kiv::MakeRef<kiv::TIniFile>();
    Check(unescaped->LoadFromEscaped(file->SaveToEscaped()));
    Check(unescaped->SaveToBytes(true) == first);

    // Paths and setters on a copy keep the tree consistent.
    kiv::TRef<kiv::TIniItem> copy = file->Clone();
    auto& edited = static_cast<kiv::TIniFile&>(*copy);
    const std::string_view path = bytes.substr(0, std::min<std::size_t>(bytes.size(), 64));
    if (path.find_first_of("\r\n") == std::string_view::npos) edited.Path(path);
    edited.WriteInteger("Main", "opt_count", 3);
    edited.CheckConsistency();
    return 0;
}
