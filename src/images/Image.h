// TImage: a picture as its users hold it, over a shared bitmap store. Copies (Clone) share the
// store, so a picture is decoded once however many users it has. The picture's name, size and
// pixel format are copied from the store.
#pragma once

#include "base/RefObject.h"
#include "images/Attachments.h"
#include "images/BitmapStore.h"

#include <memory>
#include <mutex>
#include <string>

namespace kiv {

class TImage : public TRefObject {
public:
    explicit TImage(TRef<TBitmapStore> store);

    // A new picture on the same store.
    virtual TRef<TImage> Clone() const;

    TBitmapStore& Store() const { return *store_; }
    const TRef<TBitmapStore>& StoreRef() const { return store_; }
    const std::string& Name() const { return name_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    TPixelFormat Format() const { return format_; }

    // The picture's own attachments (the drawer's textures), created on first use. Thread-safe.
    TAttachmentList& Attachments();

private:
    TRef<TBitmapStore> store_;
    std::string name_;
    int width_;
    int height_;
    TPixelFormat format_;
    std::once_flag attachmentsMade_;
    std::unique_ptr<TAttachmentList> attachments_;
};

} // namespace kiv
