// Builds slides of 1600 × 900 square units centred on a 1600 × 900 screen from project text.
#pragma once

#include "ObjectsTestSupport.h"
#include "RecordingDrawer.h"
#include "objects/KivBox.h"
#include "objects/KivSlide.h"
#include "objects/ViewPort.h"

#include <map>
#include <string>

namespace kiv::test {

struct TTestSlide {
    TRef<TIniFile> file;
    TTestHost host;
    TRef<TKivSlide> slide;

    TKivObject* Find(const std::string& guid) const { return Find(*slide, guid); }
    static TKivObject* Find(TKivObject& object, const std::string& guid) {
        if (object.Guid() == guid) return &object;
        for (int i = 0; i < object.ChildCount(); ++i)
            if (TKivObject* found = Find(*object.Child(i), guid)) return found;
        return nullptr;
    }
    void Advance(double t) { slide->Advance(true, t); }
};

// `objects` is the text of the root's children; the slide runs from `start` to `start` + 10 s.
template <class TSlideClass = TKivSlide>
TTestSlide MakeSlide(const std::string& objects, double start = 0.0, double width = 1600.0,
                     double height = 900.0, const std::map<std::string, TRef<TImage>>& pictures = {},
                     const std::map<std::string, std::vector<std::uint8_t>>& files = {}) {
    TTestSlide test;
    test.host.pictures = pictures;
    test.host.files = files;
    test.file = MakeRef<TIniFile>();
    test.file->LoadFromText("[Slide]\nobject Container:Root\nGUID=root\n" + objects + "end\n");
    test.slide = MakeRef<TSlideClass>(&test.host, 0);
    test.slide->SetSize(width, height);
    test.slide->SetCentre({width / 2, height / 2});
    test.host.camera = {width / 2, height / 2, -height};
    TSlideInfo times;
    times.start = start;
    times.sync = start + 9000;
    times.nextTransition = 1000;
    times.end = start + 10000;
    test.slide->SetTimes(times, 0);
    TIniList* section = test.file->FindSection("Slide");
    EXPECT_NE(section, nullptr);
    TKeyframeTiming timing;
    timing.build = timing.actual = DurationsOf(times);
    test.slide->Build(TKivSlide::RootObject(*section), timing);
    test.slide->Advance(true, start);
    return test;
}

// A box object with a GUID, a size and extra key lines.
inline std::string Box(const std::string& guid, const std::string& keys, const std::string& inner = {},
                       const std::string& cls = "Box") {
    return "object " + guid + ":" + cls + "\nGUID=" + guid + "\n" + keys + inner + "end\n";
}

inline std::string Key(const std::string& keys, int time = 0) {
    return "object k:KeyPoint\nTime=" + std::to_string(time) + "\n" + keys + "end\n";
}

} // namespace kiv::test
