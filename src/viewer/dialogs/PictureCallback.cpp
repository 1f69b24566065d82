#include "viewer/dialogs/PictureCallback.h"

#include "base/CaseFold.h"
#include "base/Log.h"
#include "images/BmpWriter.h"
#include "images/Image.h"
#include "images/PictureLoader.h"
#include "project/ShowNames.h"

namespace kiv {

namespace {

bool IsJpegName(const std::string& name) {
    const std::string extension = FileExtension(name);
    for (const char* jpeg : {".jpg", ".jpeg", ".jpe", ".jfif"})
        if (SameTextFolded(extension, jpeg)) return true;
    return false;
}

} // namespace

TCallBackClass::TCallBackClass(TRef<TFileAccessor> accessor, TRef<TIniFile> project, int slideIndex,
                               TRef<TBitmap> captured)
    : accessor_(std::move(accessor)), project_(std::move(project)), slideIndex_(slideIndex),
      captured_(std::move(captured)) {}

TRef<TBitmap> TCallBackClass::DecodeMain(const std::string& name) const {
    TRef<TStream> stream = accessor_ ? accessor_->Open(name) : nullptr;
    if (!stream) return nullptr;
    TRef<TImage> picture = DecodePictureByName(*stream, name);
    if (!picture) return nullptr;
    return picture->Store().GetMipLevel(0, TPixelFormat::Bgra32, TBitmapClass::Owned);
}

bool TCallBackClass::Picture(int kind, TPrintPicture& out) const {
    out = TPrintPicture{};
    std::string name;
    if (slideIndex_ >= 0) {
        out.slideIndex = slideIndex_;
        if (project_) name = project_->ReadString("slide" + std::to_string(slideIndex_ + 1), "picture", "");
        out.name = name;
    }
    try {
        switch (kind) {
        case kMainPictureBitmap:
            if (name.empty()) return false;
            out.bitmap = DecodeMain(name);
            return out.bitmap != nullptr;
        case kCapturedPicture:
            out.bitmap = captured_;
            return captured_ != nullptr;
        case kMainPictureFile: {
            if (name.empty() || !accessor_) return false;
            if (IsJpegName(name)) {
                TRef<TStream> stream = accessor_->Open(name);
                if (!stream) return false;
                out.bytes = ReadRest(*stream, kMaxPictureFileBytes);
                return true;
            }
            TRef<TBitmap> bitmap = DecodeMain(name);
            if (!bitmap) return false;
            out.bytes = EncodeBmp(*bitmap);
            out.name = ChangeFileExtension(name, ".bmp");
            return true;
        }
        default:
            return false;
        }
    } catch (const std::exception& error) {
        TLog::Line("Print: picture " + name + " not available: " + error.what());
        out.bytes.clear();
        out.bitmap = nullptr;
        return false;
    }
}

} // namespace kiv
