// TKivImage: an image object (types 4 "Image" and 5 "AniImage") — a picture shown inside the
// object's frame: a still picture, a sprite sheet whose cells play as frames, or an animated GIF
// loaded as a frame atlas. It can force an aspect ratio, zoom and pan (the Frame group of its
// keyframes), crop, draw a border and cast a drop shadow; its colours follow the colour filters of
// its keyframes. Texts and buttons build on it.
//
// The shown part of the picture (the content rectangle) is in texels of the full-size picture; the
// object's size is that rectangle plus the border on every side, so one texel is one unit of the
// object. The level handed to the drawer is the smallest copy still larger than 4/3 of the largest
// size the object reaches on screen (the slide's pre-pass).
//
// A picture that cannot be loaded draws as the placeholder picture; absurd values (not a number,
// huge zooms or crops, pictures beyond the drawer's sizes) are clamped, never a crash.
#pragma once

#include "images/ColorProfile.h"
#include "objects/ColorTable.h"
#include "objects/KivObject.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

// Border, crop and aspect of an image, as read (the working copy adds the zoom and pan).
struct TBorderParams {
    bool enableBorder = false;
    bool enableCrop = false;
    bool enableAspect = false;
    float borderWidth = 1.5f;                // percent of the visible height
    std::uint32_t borderColor = 0xFFFFFFFFu; // ARGB
    std::array<float, 4> cropRect{};         // left, top, right, bottom, percent
    float aspect = 0.0f;                     // width ÷ height; 0 the picture's own
    float zoom = 100.0f;                     // Z = 100 ÷ (Frame.S × 0.01)
    float panX = 0.0f;                       // Frame.X
    float panY = 0.0f;                       // Frame.Y
};

// Sprite-sheet animation of an image.
struct TImageAnimationParams {
    bool enable = false;
    int columns = 1;
    int rows = 1;
    int count = 0;
    std::vector<int> durations; // ms, one per frame
    int repCount = 0;           // 0: endless
    double offset = 0.0;        // ms
};

// The content rectangle of a w × h picture under the working border parameters; `borderInset`
// gets the border width in texels (0 without a border).
TRectF ImageContentRect(int width, int height, const TBorderParams& working, float& borderInset);
// The sprite frame shown `x` ms into the animation (x below 0 counts as 0).
int SpriteFrameAt(const TImageAnimationParams& anim, double x);
// The cell rectangle of `frame` on a w × h sheet, in the cell layout of the pattern texture.
TRectF SpriteCellRect(int width, int height, int columns, int rows, int frame);
// The level of a picture whose content rectangle is `content` for an object reaching at most
// `projected` pixels on screen: the smallest copy still larger than 4/3 of that; 0 when unknown.
int PictureLevelFor(TVec2 projected, const TRectF& content);
// The frame durations of an `AnimInterval` list for `count` frames.
std::vector<int> ReadAnimIntervals(std::string_view list, int count);

class TKivImage : public TKivObject {
public:
    TKivImage(TKivObject* parent, int typeCode);

    // The picture under the name built from the keys, asked of the host unless already held; the
    // placeholder picture when the host has none. Marks the content changed when it is new.
    virtual void LoadPicture();
    // The picture draw parameters of the current frame.
    virtual void ProduceContent(TDeviceDrawer& drawer, TPictureDrawParams& params);
    // The opacity the picture is drawn with, percent (the effective opacity).
    virtual float ContentOpacity() const { return EffectiveOpacity(); }
    // The size `ShadowSize` is measured in 1/400 of, in texels of the whole picture; 0 stands for
    // √(width × height) of the picture.
    virtual double ShadowReference() const { return 0.0; }

    // The name asked of the host for the keys read.
    std::string PictureName() const;
    TImage* Picture() const noexcept { return picture_.Get(); }
    TImage* ShadowPicture() const noexcept { return shadow_.Get(); }
    bool IsSprite() const noexcept { return anim_.enable; }
    const TBorderParams& Border() const noexcept { return border_; }
    const TBorderParams& WorkingBorder() const noexcept { return working_; }
    const TImageAnimationParams& Animation() const noexcept { return anim_; }
    TRectF Content() const noexcept { return content_; }
    float BorderInset() const noexcept { return inset_; }
    int Frame() const noexcept { return frame_; }
    int Level() const noexcept { return level_; }
    int UploadedLevel() const noexcept { return uploadedLevel_; }
    bool HasImageIndex() const noexcept { return hasImageIndex_; }
    int ImageIndex() const noexcept { return imageIndex_; }
    const std::string& ImageName() const noexcept { return imageName_; }

    // TKivObject
    TVec2 ContentSize() const override { return imageSize_; }
    void Layout(bool recursive) override;
    void PreloadBegin(TDeviceDrawer& drawer) override;
    void ReleaseDevice(TDeviceDrawer& drawer) override;

protected:
    ~TKivImage() override;
    void SetDefaults() override;
    void ReadKeys(const TIniObject& object) override;
    bool IsKnownKey(std::string_view key) const override;
    void Produce(TDeviceDrawer& drawer) override;
    TRectF ContentRect() const override { return content_; }

    // The shadow picture for the current level, made again when its parameters change.
    void PrepareShadow();
    // Draws the shadow of a rectangle of `size` object units whose picture texels start at `from`
    // (object units) and run at `unitsPerTexel`.
    void DrawShadow(TDeviceDrawer& drawer, TVec2 from, TVec2 unitsPerTexel);
    // The colour grading fields of the current keyframes.
    void FillGrading(TPictureDrawParams& params);
    // Sampling set by a subclass after the keys (a button takes its theme's filtering).
    void SetSampling(int filtering, double mipLodBias) noexcept {
        filtering_ = filtering;
        mipLodBias_ = mipLodBias;
    }
    // The picture's profile conversion, made again when the picture or the display's profile changed.
    const TColorTable* ProfileTable();

    TRef<TImage> picture_;
    std::string loadedName_; // the name picture_ was asked under
    bool loadTried_ = false;

private:
    int typeCode_;
    TBorderParams border_;
    TBorderParams working_;
    TImageAnimationParams anim_;
    bool antialiased_ = true;
    int filtering_ = 2;
    std::string imageName_;
    double mipLodBias_ = 0.0;
    int replaceWithEffectBuffer_ = 0;
    bool hasImageIndex_ = false;
    int imageIndex_ = 0;
    bool restoreAlpha_ = false;

    TRectF content_;
    float inset_ = 0.0f;
    TVec2 imageSize_;
    int frame_ = 0;
    int level_ = 0;
    int uploadedLevel_ = -1;

    TRef<TImage> shadow_;
    std::string shadowKey_;
    int shadowLevel_ = 0;
    int shadowMargin_ = 0;

    TColorGradeWrapper gradeFrom_;
    TColorGradeWrapper gradeTo_;
    // The conversion of the picture's own colour profile to the display's, and what it was made for.
    std::shared_ptr<const TColorTable> profileTable_;
    const TBitmapStore* profileStore_ = nullptr;
    TRef<TColorProfile> profileOutput_;
    TColorManagement profileMode_ = TColorManagement::Off;
};

// A drop-shadow picture of `source` at `level`: white with the picture's coverage as alpha, spread
// by `spread` texels and blurred by `sizePercent` 1/400 of the picture's reference size (√(w × h),
// halved for each level), with a margin of `margin` texels all round. Levels too large for a
// shadow are reduced further; `level` and `margin` tell what was used. With `shown` (texels of the
// full-size picture) only that part casts the shadow: a picture zoomed or panned inside its object
// shadows what is visible, softly edged, not the parts cut away.
TRef<TImage> MakeShadowPicture(TImage& source, int& level, double sizePercent, int spread, int& margin,
                               const TRectF* shown = nullptr);
// The level (at least `level`) and the margin MakeShadowPicture uses for a width × height picture.
int ShadowMargin(std::int64_t width, std::int64_t height, int& level, double sizePercent, int spread);
// The name a shadow is shared by: "Shadow: " + size:spread:level:shown part (empty, or the four
// edges separated by commas):source picture name.
std::string ShadowPictureName(double sizePercent, int spread, int level, const TRectF* shown,
                              const std::string& source);

// The 3-D colour table converting `picture`'s colours from the colour profile it carries to the
// display's (colour management on); none when no conversion is needed or possible.
std::shared_ptr<const TColorTable> PictureProfileTable(const TImage& picture);

// Draws the shadow picture `shadow` (made with `margin`) of `object` with the object's shadow keys:
// `shown` are the shadow texels (without the margin) of the part shown, the first of them lands on
// the object point `from`, and one shadow texel spans `unit` object units.
void DrawShadowPicture(TDeviceDrawer& drawer, const TKivObject& object, TImage& shadow, TRectF shown,
                       int margin, TVec2 from, TVec2 unit);

} // namespace kiv
