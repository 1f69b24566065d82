// A drawer that records what a slide's objects ask it to draw, and a host with a fixed camera, for
// the object model tests.
#pragma once

#include "objects/DeviceDrawer.h"
#include "objects/KivObject.h"
#include "objects/ObjectHost.h"

#include <map>
#include <string>
#include <vector>

namespace kiv::test {

struct TDrawCall {
    std::string op;                     // "DrawBox", "DrawMasked", "DrawImage", "DrawBorder", "FillRectangle"
    const TDrawItem* item = nullptr;    // DrawMasked: the mask
    const TDrawItem* content = nullptr; // DrawMasked: the content
    std::string guid;                   // the object being drawn when the call came
    TVec3 origin;
    TVec2 anchor;
    TVec3 axisX;
    TVec3 axisY;
    TBoxParams box;
    float opacity = 0.0f;
    TImage* image = nullptr;    // DrawImage
    TPictureDrawParams picture; // DrawImage
    TVec2 size;                 // DrawBorder
    std::uint32_t color = 0;    // DrawBorder
    float widthX = 0.0f;        // DrawBorder
    float widthY = 0.0f;
    TVec2 offset; // the drawer's offset when the call came

    // Where a box point lands: origin + (s − anchor) × axes.
    TVec3 Map(double x, double y) const { return origin + axisX * (x - anchor.x) + axisY * (y - anchor.y); }
};

class TRecordingDrawer final : public TDeviceDrawer {
public:
    bool ready = true;
    bool capturing = false;
    std::vector<TDrawCall> calls;
    std::vector<std::string> drawn; // GUIDs of the objects handed to Draw, in order
    int preloads = 0;
    int releases = 0;

    bool IsReady() const override { return ready; }
    bool IsCapturingSlides() const override { return capturing; }
    bool Draw(TDrawItem& item) override {
        const auto* object = dynamic_cast<const TKivObject*>(&item);
        const std::string previous = current_;
        if (object) {
            current_ = object->Guid();
            drawn.push_back(current_);
        }
        item.Draw(*this);
        current_ = previous;
        return true;
    }
    void DrawImage(TImage& image, TVec3 origin, const TPictureDrawParams& params, TVec3 axisX, TVec3 axisY,
                   TVec2 anchor) override {
        TDrawCall call = Call("DrawImage");
        call.image = &image;
        call.picture = params;
        call.origin = origin;
        call.anchor = anchor;
        call.axisX = axisX;
        call.axisY = axisY;
        call.opacity = params.opacity;
        calls.push_back(call);
    }
    void DrawBox(TVec3 origin, TVec2 anchor, const TBoxParams& params, TVec3 axisX, TVec3 axisY) override {
        TDrawCall call = Call("DrawBox");
        call.origin = origin;
        call.anchor = anchor;
        call.axisX = axisX;
        call.axisY = axisY;
        call.box = params;
        call.opacity = params.opacity;
        calls.push_back(call);
    }
    void DrawBorder(TVec3 origin, TVec2 anchor, TVec3 axisX, TVec3 axisY, TVec2 size, std::uint32_t color,
                    float widthX, float widthY, float opacity, bool) override {
        TDrawCall call = Call("DrawBorder");
        call.size = size;
        call.color = color;
        call.widthX = widthX;
        call.widthY = widthY;
        call.origin = origin;
        call.anchor = anchor;
        call.axisX = axisX;
        call.axisY = axisY;
        call.opacity = opacity;
        calls.push_back(call);
    }
    void DrawMasked(TDrawItem& mask, TDrawItem& content, float opacity, TImage*) override {
        TDrawCall call = Call("DrawMasked");
        call.item = &mask;
        call.content = &content;
        call.opacity = opacity;
        calls.push_back(call);
    }
    void FillRectangle(TVec3, TVec3, std::uint32_t) override { calls.push_back(Call("FillRectangle")); }
    TLayerTarget* BeginLayerTarget() override {
        calls.push_back(Call("BeginLayerTarget"));
        return nullptr;
    }
    void EndLayerTarget() override { calls.push_back(Call("EndLayerTarget")); }
    void DrawLayerTarget(TLayerTarget*, int alpha) override {
        TDrawCall call = Call("DrawLayerTarget");
        call.opacity = static_cast<float>(alpha);
        calls.push_back(call);
    }
    void PreloadImage(TImage&, const TPictureDrawParams& params) override {
        ++preloads;
        preloadLevels.push_back(params.level);
    }
    void ReleaseImage(TImage&) override { ++releases; }
    std::vector<int> preloadLevels;

    // The calls made while the object with that GUID was drawn.
    std::vector<TDrawCall> CallsOf(const std::string& guid, const std::string& op = {}) const {
        std::vector<TDrawCall> found;
        for (const TDrawCall& call : calls)
            if (call.guid == guid && (op.empty() || call.op == op)) found.push_back(call);
        return found;
    }

private:
    TDrawCall Call(const char* op) const {
        TDrawCall call;
        call.op = op;
        call.guid = current_;
        call.offset = Offset();
        return call;
    }

    std::string current_;
};

// The camera of a screen of `height` pixels centred on `centre`, as the slide producer places it.
class TTestHost final : public TKivObjectHost {
public:
    TVec3 camera{800, 450, -900};
    bool accepts = false;
    int changes = 0;
    int slideCount = 0;

    std::map<std::string, TRef<TImage>> pictures; // LoadPicture answers from here
    std::vector<std::string> asked;               // the names LoadPicture was asked for

    TVec3 CameraPosition() const override { return camera; }
    bool AcceptsObject(const TKivObject&) const override { return accepts; }
    void ObjectChanged(TKivObject&) override { ++changes; }
    int SlideCount() const override { return slideCount; }
    std::string buttonsPath;
    std::string ButtonsPath() const override { return buttonsPath; }
    std::map<std::string, std::vector<std::uint8_t>> files; // ReadFile answers from here
    std::vector<std::uint8_t> ReadFile(const std::string& name) override {
        const auto found = files.find(name);
        return found == files.end() ? std::vector<std::uint8_t>{} : found->second;
    }
    TRef<TImage> LoadPicture(const std::string& name) override {
        asked.push_back(name);
        const auto found = pictures.find(name);
        return found == pictures.end() ? TRef<TImage>{} : found->second;
    }
};

} // namespace kiv::test
