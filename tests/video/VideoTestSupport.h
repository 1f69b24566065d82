// Video objects in the test slides of the object tests.
#pragma once

#include "SlideTestSupport.h"
#include "video/KivVideo.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv::test {

// The text of a video object; video objects are registered with it.
inline std::string VideoObject(const std::string& guid, const std::string& keys) {
    RegisterVideoObjects();
    return "object " + guid + ":Video\nGUID=" + guid + "\n" + keys + "end\n";
}

inline const TKivVideo* VideoOf(const TTestSlide& slide, const std::string& guid) {
    return dynamic_cast<const TKivVideo*>(slide.Find(guid));
}

} // namespace kiv::test
