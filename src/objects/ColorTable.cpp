#include "objects/ColorTable.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace kiv {

namespace {

std::uint8_t VolumeLevel(int n) {
    return static_cast<std::uint8_t>(8 * n + n / 4);
}

} // namespace

std::uint64_t TColorTable::NextRevision() noexcept {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

void TColorTable::Touch() noexcept {
    revision_ = NextRevision();
}

TColorTable::TColorTable(const TColorTable& other)
    : kind_(other.kind_), width_(other.width_), rows_(other.rows_), pixels_(other.pixels_) {}

TColorTable::TColorTable(TColorTable&& other) noexcept
    : kind_(other.kind_), width_(other.width_), rows_(other.rows_), pixels_(std::move(other.pixels_)) {
    other.Touch();
}

TColorTable& TColorTable::operator=(const TColorTable& other) {
    if (this == &other) return *this;
    kind_ = other.kind_;
    width_ = other.width_;
    rows_ = other.rows_;
    pixels_ = other.pixels_;
    Touch();
    return *this;
}

TColorTable& TColorTable::operator=(TColorTable&& other) noexcept {
    if (this == &other) return *this;
    kind_ = other.kind_;
    width_ = other.width_;
    rows_ = other.rows_;
    pixels_ = std::move(other.pixels_);
    Touch();
    other.Touch();
    return *this;
}

TColorTable TColorTable::ChannelIdentity(int rows) {
    TColorTable table;
    table.kind_ = kFilterChannel;
    table.width_ = kChannelWidth;
    table.rows_ = std::max(rows, 1);
    table.pixels_.resize(static_cast<std::size_t>(table.width_) * static_cast<std::size_t>(table.rows_) * 4);
    for (int y = 0; y < table.rows_; ++y) {
        for (int i = 0; i < kChannelWidth; ++i) {
            std::uint8_t* p = table.pixels_.data() + (static_cast<std::size_t>(y) * kChannelWidth + i) * 4;
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(i);
            p[3] = 255;
        }
    }
    return table;
}

TColorTable TColorTable::VolumeIdentity() {
    TColorTable table;
    table.kind_ = kFilterVolume;
    table.width_ = kVolumeSide;
    table.rows_ = kVolumeSide * kVolumeSide;
    table.pixels_.resize(static_cast<std::size_t>(table.width_) * static_cast<std::size_t>(table.rows_) * 4);
    std::uint8_t* p = table.pixels_.data();
    for (int i = 0; i < kVolumeSide; ++i) {
        for (int j = 0; j < kVolumeSide; ++j) {
            for (int k = 0; k < kVolumeSide; ++k) {
                p[0] = VolumeLevel(i);
                p[1] = VolumeLevel(j);
                p[2] = VolumeLevel(k);
                p[3] = 255;
                p += 4;
            }
        }
    }
    return table;
}

TColorTable TColorTable::FromProfile(const std::vector<std::uint8_t>& pixels) {
    TColorTable table = VolumeIdentity();
    if (pixels.size() == table.pixels_.size()) table.pixels_ = pixels;
    return table;
}

std::uint32_t TColorTable::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= rows_) return 0;
    const std::uint8_t* p = pixels_.data() + (static_cast<std::size_t>(y) * width_ + x) * 4;
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
}

void TColorTable::ApplyChain(TObjectFilter* chain) {
    if (pixels_.empty() || !chain) return;
    Touch();
    const int rows = kind_ == kFilterChannel ? 1 : rows_;
    for (TObjectFilter* filter : ChainApplyOrder(chain))
        if (!filter->Disabled()) filter->ApplyToTable(pixels_.data(), width_, rows);
    if (kind_ == kFilterChannel) {
        const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
        for (int y = 1; y < rows_; ++y)
            std::memcpy(pixels_.data() + y * rowBytes, pixels_.data(), rowBytes);
    }
}

int GradingKind(const TObjectFilter* from, const TObjectFilter* to, bool hasProfile) noexcept {
    if (hasProfile) return kFilterVolume;
    return std::max(ChainKind(from), ChainKind(to));
}

bool TColorGradeWrapper::Prepare(TObjectFilter* chain, int kind, const TColorTable* profile) {
    if (profile) kind = kFilterVolume;
    std::vector<TLink> links;
    for (const TObjectFilter* filter = chain; filter; filter = filter->Next())
        links.push_back({filter, filter->Id(), filter->Revision(), filter->Disabled()});
    const bool same =
        built_ && table_.Kind() == kind && profile_ == profile && links.size() == links_.size() &&
        std::equal(links.begin(), links.end(), links_.begin(), [](const TLink& a, const TLink& b) {
            return a.filter == b.filter && a.id == b.id && a.revision == b.revision &&
                   a.disabled == b.disabled;
        });
    if (same) return false;
    if (profile) {
        table_ = *profile;
    } else {
        table_ = kind == kFilterVolume ? TColorTable::VolumeIdentity() : TColorTable::ChannelIdentity();
    }
    table_.ApplyChain(chain);
    links_ = std::move(links);
    profile_ = profile;
    built_ = true;
    return true;
}

} // namespace kiv
