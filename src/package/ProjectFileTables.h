// The two file tables a project may carry for its show's file access:
//   FileMap        a file name -> the names to open instead (the first one is used);
//   RotationState  a picture name -> its orientation (1 none, 3 half a turn, 6 a quarter turn
//                  clockwise, 8 a quarter turn counter-clockwise).
// Names are looked up without regard to case. Writers put both tables as lines beginning with ";"
// (the INI reader keeps such lines whole); of a key line only the value is parsed.
//
// A table is filled once, when the show opens, and then only read (from any thread).
#pragma once

#include "ini/IniFile.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kiv {

// One target name of a FileMap entry.
struct TMappingStr {
    std::string name;
};

class TFileMap {
public:
    static constexpr std::size_t kBuckets = 251;

    // A FileMap line: an optional leading ";", then SOURCE=TARGET split at the first "=" outside
    // double quotes; both sides trimmed of spaces and control characters, and a side that both
    // begins and ends with a double quote loses them. None unless both sides are non-empty and the
    // "=" stands before the last character.
    static std::optional<std::pair<std::string, std::string>> ParseLine(std::string_view line);

    // Adds every valid line of `section`; true when at least one line counted.
    bool Fill(const TIniList& section);
    void Add(std::string_view source, std::string_view target);

    bool Empty() const { return map_.empty(); }
    // The first target of `name`, or null.
    const std::string* Target(std::string_view name) const;
    const std::vector<TMappingStr>* Targets(std::string_view name) const;

private:
    std::unordered_map<std::string, std::vector<TMappingStr>> map_;
};

class TRotationState {
public:
    static constexpr std::size_t kBuckets = 251;

    // A RotationState line: ";" and a double quote, the name up to the first double quote followed
    // by "=", then the orientation 1, 3, 6 or 8 in decimal. None for any other line.
    static std::optional<std::pair<std::string, int>> ParseLine(std::string_view line);

    bool Fill(const TIniList& section);

    bool Empty() const { return map_.empty(); }
    // The orientation of `name`, or none.
    std::optional<int> Orientation(std::string_view name) const;

private:
    std::unordered_map<std::string, int> map_;
};

// The text a table line is parsed from: the whole line of a text item, the value of a key item.
inline std::string_view TableLineText(const TIniItem& item) {
    return item.Value();
}

} // namespace kiv
