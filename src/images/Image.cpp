#include "images/Image.h"

namespace kiv {

TImage::TImage(TRef<TBitmapStore> store)
    : store_(std::move(store)), name_(store_->Name()), width_(store_->Width()), height_(store_->Height()),
      format_(store_->Format()) {}

TRef<TImage> TImage::Clone() const {
    return MakeRef<TImage>(store_);
}

TAttachmentList& TImage::Attachments() {
    std::call_once(attachmentsMade_, [this] { attachments_ = std::make_unique<TAttachmentList>(); });
    return *attachments_;
}

} // namespace kiv
