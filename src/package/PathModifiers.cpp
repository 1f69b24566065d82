#include "package/PathModifiers.h"

#include "base/CaseFold.h"
#include "package/FolderMacros.h"
#include "package/FolderPath.h"
#include "package/ProgramFolder.h"
#include "package/WindowsPath.h"

#include <algorithm>
#include <mutex>

namespace kiv {

namespace {

class TModifierList {
public:
    TModifierList() { entries_ = Register(StartupPathModifiers()); }

    void Replace(std::vector<TPathModifier> entries) {
        std::lock_guard lock(mutex_);
        entries_ = std::move(entries);
    }
    std::vector<TPathModifier> Snapshot() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

    static std::vector<TPathModifier> Register(const std::vector<TPathModifier>& modifiers) {
        std::vector<TPathModifier> registered;
        // The list grows by doubling from 8, as the list it stands for did.
        registered.reserve(std::max<std::size_t>(8, modifiers.size()));
        const std::string program = ProgramFolder();
        for (const TPathModifier& modifier : modifiers) {
            const std::string expanded = ExpandFolderMacro(WithoutTrailingSeparator(modifier.replacement));
            registered.push_back(
                {FoldUtf8(modifier.key), MakeFolderPath(program, expanded), modifier.isDefault});
        }
        return registered;
    }

private:
    std::mutex mutex_;
    std::vector<TPathModifier> entries_;
};

TModifierList& List() {
    static TModifierList list;
    return list;
}

} // namespace

std::vector<TPathModifier> StartupPathModifiers() {
    return {
        {"%styles%", "All\\Themes", false},
        {"%styles%", "%LOCALAPPDATA%\\Zorvik\\Styles", true},
        {"%effects%", "All\\Effects", false},
        {"%effects%", "%LOCALAPPDATA%\\Zorvik\\Effects", true},
    };
}

void SetPathModifiers(const std::vector<TPathModifier>& modifiers) {
    List().Replace(TModifierList::Register(modifiers));
}

void ResetPathModifiers() {
    SetPathModifiers(StartupPathModifiers());
}

std::vector<TPathModifier> RegisteredPathModifiers() {
    return List().Snapshot();
}

std::string ApplyPathModifiers(std::string_view name) {
    std::string result(name);
    if (result.find('%') == std::string::npos) return result;
    const std::vector<TPathModifier> entries = List().Snapshot();
    std::size_t scan = 0;
    while (scan < result.size()) {
        const std::size_t open = result.find('%', scan);
        if (open == std::string::npos) break;
        const std::size_t close = result.find('%', open + 1);
        if (close == std::string::npos) break;
        const std::string token = FoldUtf8(std::string_view(result).substr(open, close + 1 - open));
        const std::string original = result;
        std::size_t replacedLength = std::string::npos;
        for (const TPathModifier& entry : entries) {
            if (entry.key != token) continue;
            std::string candidate = original.substr(0, open) + entry.replacement + original.substr(close + 1);
            if (DiskFileExists(candidate)) {
                result = std::move(candidate);
                replacedLength = entry.replacement.size();
                break;
            }
            if (entry.isDefault) {
                result = std::move(candidate);
                replacedLength = entry.replacement.size();
            }
        }
        // A token that matched nothing gives its closing sign to the next token ("100%\%a%").
        scan = replacedLength == std::string::npos ? close : open + replacedLength;
    }
    return result;
}

} // namespace kiv
