// Video objects in the test slides of the object tests.
#pragma once

#include "SlideTestSupport.h"
#include "video/KivVideo.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv::test {

inline std::string VideoObject(const std::string& guid, const std::string& keys) {
    return "object " + guid + ":Video\nGUID=" + guid + "\n" + keys + "end\n";
}

inline const TKivVideo& VideoOf(const TTestSlide& slide, const std::string& guid) {
    const auto* video = dynamic_cast<const TKivVideo*>(slide.Find(guid));
    EXPECT_NE(video, nullptr) << guid << " is not a video";
    return *video;
}

} // namespace kiv::test
