// TKivObjectHost: what slide objects need of the environment of their slide — the camera, the
// display's colour conversion, whether an object without a placement of its own takes part, and
// where to report changes. The slide host of the slide producer implements it; tests use their own.
//
// Threads: the loader thread and the engine thread call it, never at once for one slide.
#pragma once

#include "images/Image.h"
#include "objects/Geometry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

class TButtonProducer;
class TKivObject;

class TKivObjectHost {
public:
    virtual ~TKivObjectHost() = default;

    // The viewer's eye in world space (screen pixels, negative z in front of the screen).
    virtual TVec3 CameraPosition() const = 0;
    // An ARGB colour of the project converted to the display's colour profile (unchanged when
    // colour management is off).
    virtual std::uint32_t ManageColor(std::uint32_t argb) const { return argb; }
    // True when an object whose own placement is not valid still takes part in hit tests, placed
    // in the plane of its slide.
    virtual bool AcceptsObject(const TKivObject& /*object*/) const { return false; }
    // An object's drawing changed since it was last drawn.
    virtual void ObjectChanged(TKivObject& /*object*/) {}
    // The picture of the show called `name` (a file or a derived picture such as "Mask: " or
    // "Shadow: " names), shared by name; none when the host has no pictures. A file that cannot be
    // loaded gives the placeholder picture.
    virtual TRef<TImage> LoadPicture(const std::string& /*name*/) { return nullptr; }
    // A picture derived from others (a drop shadow, a reduced background), shared by `name` with
    // every object of the show that asks for the same name while one of them holds it; `make`
    // builds it when nobody does. None when it cannot be made. The base builds it every time.
    virtual TRef<TImage> DerivedPicture(const std::string& /*name*/,
                                        const std::function<TRef<TImage>()>& make) {
        return make ? make() : nullptr;
    }
    // The bytes of the show's file `name` (text macros read pictures' metadata); empty when the
    // file cannot be opened.
    virtual std::vector<std::uint8_t> ReadFile(const std::string& /*name*/) { return {}; }
    // The folder of the button themes (PathToButtons of the show, ending in a backslash).
    virtual std::string ButtonsPath() const { return {}; }
    // The producer of the theme `name`, shared by every button of that theme and living as long as
    // the host; none when the host keeps none (each button then has its own).
    virtual TButtonProducer* ButtonProducer(const std::string& /*name*/) { return nullptr; }
    // The number of slides of the show (text macros); 0 when unknown.
    virtual int SlideCount() const { return 0; }
};

} // namespace kiv
