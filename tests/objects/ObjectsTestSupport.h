// Builds property trees from project text for the object tests.
#pragma once

#include "ini/IniFile.h"
#include "objects/ObjectProps.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kiv::test {

// A parsed document and the first object of its root, kept alive together.
struct TParsedObject {
    TRef<TIniFile> file;
    TIniObject* object = nullptr;
};

inline TParsedObject ParseObject(std::string_view text) {
    TParsedObject parsed;
    parsed.file = MakeRef<TIniFile>();
    parsed.file->LoadFromText(text);
    parsed.object = parsed.file->FirstObject();
    return parsed;
}

// A node built from the text (one root object) with the given durations.
struct TBuiltNode {
    TParsedObject parsed;
    TRef<TKivObjectProps> node;
};

inline TBuiltNode BuildNode(std::string_view text, double total = 10000.0, double incoming = 0.0,
                            double next = 0.0) {
    TBuiltNode built;
    built.parsed = ParseObject(text);
    built.node = MakeRef<TKivObjectProps>();
    if (built.parsed.object) built.node->Build(*built.parsed.object, MakeDurations(total, incoming, next));
    return built;
}

inline float ValueAt(TKivObjectProps& node, double t, int property) {
    node.Evaluate(t, false);
    return node.Value(property);
}

} // namespace kiv::test
