// TBitmapStore: one decoded picture shared by every user of it, handing out the picture at any
// level of its size pyramid (level 0 full size, level n reduced by 2^n) in the pixel format a
// caller asks for. Levels are made on first request and kept, with their conversions, until the
// store goes. TSysBitmapStore adds the size, format and turn of a decoded file and builds levels
// that the format cannot make directly by halving the level above. TWrapperBitmapStore serves one
// bitmap decoded up front.
//
// All public operations may be called from any thread; GetMipLevel runs under the store's lock, so
// a level is decoded once even when two threads ask for it at the same time.
#pragma once

#include "base/RefObject.h"
#include "base/Sync.h"
#include "images/Attachments.h"
#include "images/Bitmap.h"
#include "images/ColorProfile.h"

#include <functional>
#include <string>
#include <vector>

namespace kiv {

// The orientation of a picture by its name (1, 3, 6 or 8; anything else: leave it as it is).
using TRotationQuery = int (*)(const std::string& name, void* context);

// Frame layout of a GIF frame atlas, attached to the atlas's store.
class TTilesTag : public TRefObject {
public:
    int frameWidth = 0;
    int frameHeight = 0;
    int frameCount = 0;
    int frameCount2 = 0; // the frame count again
    int one = 1;
    int delaySum = 0;     // milliseconds
    int averageDelay = 0; // delaySum / frameCount
    std::string delays;   // each frame's delay in milliseconds, comma-separated
    int loopCount = 0;    // the file's loop count (0: for ever)
};

class TBitmapStore : public TRefObject {
public:
    // Converts a bitmap to a format and class; null when it cannot.
    using TConvertHook = std::function<TRef<TBitmap>(const TBitmap&, TPixelFormat, TBitmapClass)>;

    // The picture at `level` in `format` (None: whatever the level was made in) and of class
    // `wanted`. Never null: a level that cannot be produced is a programming error (assertion).
    TRef<TBitmap> GetMipLevel(int level, TPixelFormat format = TPixelFormat::None,
                              TBitmapClass wanted = TBitmapClass::Any);

    const std::string& Name() const { return name_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    TPixelFormat Format() const { return format_; }

    // The colour profile the picture carries (null: none).
    TRef<TColorProfile> Profile() const;
    void SetProfile(TRef<TColorProfile> profile);
    // Replaces the conversion used between formats (default: ConvertBitmap). Set before sharing.
    void SetConvertHook(TConvertHook hook) { convertHook_ = std::move(hook); }

    TAttachmentList& Attachments() { return attachments_; }
    TRef<TTilesTag> TilesTag() const { return attachments_.Find<TTilesTag>(); }

    // The class name used in assertion texts.
    virtual const char* ClassName() const = 0;

protected:
    TBitmapStore(std::string name, int width, int height, TPixelFormat format);

    // Makes the level when nothing is cached for it yet; `format` and `wanted` are hints.
    virtual TRef<TBitmap> LoadLevel(int level, TPixelFormat format, TBitmapClass wanted) = 0;
    // `bitmap` when it is of `format` (None: any) and of class `wanted`, else null.
    virtual TBitmap* Matches(TBitmap* bitmap, TBitmapClass wanted, TPixelFormat format);
    // The format's own decoding of `level`, preferably in `format`; null when the format cannot
    // make that level directly.
    virtual TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat format) = 0;

    void SetSize(int width, int height) {
        width_ = width;
        height_ = height;
    }

    TSafeCriticalSection lock_;

private:
    std::vector<std::vector<TRef<TBitmap>>> levels_;
    TAttachmentList attachments_;
    std::string name_;
    int width_;
    int height_;
    TPixelFormat format_;
    TRef<TColorProfile> profile_;
    TConvertHook convertHook_;
};

class TSysBitmapStore : public TBitmapStore {
public:
    const char* ClassName() const override { return "TSysBitmapStore"; }
    int Orientation() const { return orientation_; }

protected:
    // `width` and `height` are the decoded picture's; the store's size is the turned one.
    TSysBitmapStore(std::string name, int width, int height, TPixelFormat format, TRotationQuery query,
                    void* context);

    TRef<TBitmap> LoadLevel(int level, TPixelFormat format, TBitmapClass wanted) override;

private:
    int orientation_ = 1;
};

// Serves one bitmap decoded when the picture was loaded; levels above 0 are reduced.
class TWrapperBitmapStore : public TSysBitmapStore {
public:
    TWrapperBitmapStore(std::string name, TRef<TBitmap> bitmap, TRotationQuery query = nullptr,
                        void* context = nullptr);
    const char* ClassName() const override { return "TWrapperBitmapStore"; }

protected:
    TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat format) override;

private:
    TRef<TBitmap> bitmap_;
};

} // namespace kiv
