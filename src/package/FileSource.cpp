#include "package/FileSource.h"

#include <atomic>

namespace kiv {

namespace {

std::atomic<std::uint64_t> nextSerial{1};

} // namespace

TFileSource::TFileSource()
    : serial_(nextSerial.fetch_add(1, std::memory_order_relaxed)),
      providers_(std::make_shared<TPictureProviderList>()) {}

int TFileSource::Rotation(const std::string&) const {
    return 0;
}

TRef<TCallbackHandle> TFileSource::AddPictureProvider(TPictureProviderCode code, void* data) {
    const std::uint64_t id = providers_->Add({code, data});
    return MakeRef<TCallbackHandle>(std::weak_ptr<TPictureProviderList>(providers_), id);
}

} // namespace kiv
