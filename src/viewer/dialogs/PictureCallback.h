// TCallBackClass: the pictures the print dialog can print or save, for the slide that was on
// screen: the slide's main picture (its [slideN] picture, read through the show's files) and the
// picture the engine captured from the screen.
#pragma once

#include "images/Bitmap.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// Kinds of picture the callback gives.
inline constexpr int kMainPictureBitmap = 0; // the slide's main picture, decoded
inline constexpr int kCapturedPicture = 1;   // the captured picture
inline constexpr int kMainPictureFile = 2;   // the main picture's file, for saving

struct TPrintPicture {
    int slideIndex = -1;
    std::string name;                // the main picture's name (kinds 0 and 2; ".bmp" for a converted file)
    std::vector<std::uint8_t> bytes; // kind 2
    TRef<TBitmap> bitmap;            // kinds 0 and 1
};

class TCallBackClass : public TRefObject {
public:
    // `slideIndex` is -1 when no slide is known; `captured` may be null.
    TCallBackClass(TRef<TFileAccessor> accessor, TRef<TIniFile> project, int slideIndex,
                   TRef<TBitmap> captured);

    int SlideIndex() const { return slideIndex_; }

    // Fills `out` with the picture of that kind; false when there is none (no slide known, no
    // picture named, a file that is missing or does not decode). Kind 2: a JPEG file (".jpg",
    // ".jpeg", ".jpe", ".jfif", any case) comes unchanged; any other picture is decoded and given
    // as a bitmap file, its name's extension changed to ".bmp".
    bool Picture(int kind, TPrintPicture& out) const;

protected:
    ~TCallBackClass() override = default;

private:
    TRef<TBitmap> DecodeMain(const std::string& name) const;

    TRef<TFileAccessor> accessor_;
    TRef<TIniFile> project_;
    int slideIndex_;
    TRef<TBitmap> captured_;
};

} // namespace kiv
