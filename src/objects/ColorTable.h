// Colour look-up tables that colour filter chains are baked into, and the per-keyframe holder that
// rebuilds a keyframe's table only when its chain or the table kind changes.
//
// A table is a bitmap of BGRA pixels. A per-channel table (kind 2) is 256 pixels wide; its first
// row is the identity ramp (i, i, i, 255) and further rows copy the first. A 3-D table (kind 3) has
// 32 × 32 rows of 32 pixels: row 32 i + j, pixel k holds blue L(i), green L(j), red L(k) with
// L(n) = 8 n + n div 4.
#pragma once

#include "objects/ObjectFilter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class TColorTable {
public:
    static constexpr int kChannelWidth = 256;
    static constexpr int kVolumeSide = 32;

    TColorTable() = default;
    // A copy is another table: same content, an identity and a revision of its own.
    TColorTable(const TColorTable& other);
    TColorTable(TColorTable&& other) noexcept;
    TColorTable& operator=(const TColorTable& other);
    TColorTable& operator=(TColorTable&& other) noexcept;
    ~TColorTable() = default;
    // Per-channel identity with `rows` rows (at least 1).
    static TColorTable ChannelIdentity(int rows = 1);
    // 3-D identity (32 wide, 1024 rows).
    static TColorTable VolumeIdentity();
    // A 3-D table that starts from a picture's colour-profile conversion (32 × 1024 BGRA pixels).
    // Any other size gives the identity.
    static TColorTable FromProfile(const std::vector<std::uint8_t>& pixels);

    // kFilterChannel or kFilterVolume; 0 for an empty table.
    int Kind() const noexcept { return kind_; }
    int Width() const noexcept { return width_; }
    int Rows() const noexcept { return rows_; }
    const std::vector<std::uint8_t>& Pixels() const noexcept { return pixels_; }
    // Writable texels; the content counts as changed.
    std::uint8_t* Data() noexcept {
        Touch();
        return pixels_.data();
    }
    // Pixel (x, y) as 0xAARRGGBB.
    std::uint32_t Pixel(int x, int y) const;

    // Runs the chain over the table (from its far end back to its head, skipping disabled filters):
    // a per-channel table over its first row, which is then copied to the other rows; a 3-D table
    // over every row.
    void ApplyChain(TObjectFilter* chain);

    // For copies that a drawing device keeps of the table: the table's life (expires when the
    // table is destroyed; its address names the table while anyone watches it) and the revision
    // of its content, which changes whenever the content may have changed.
    std::weak_ptr<const void> Life() const { return life_; }
    const void* Identity() const noexcept { return life_.get(); }
    std::uint64_t Revision() const noexcept { return revision_; }

private:
    void Touch() noexcept;

    std::shared_ptr<const int> life_ = std::make_shared<const int>(0);
    std::uint64_t revision_ = NextRevision();
    static std::uint64_t NextRevision() noexcept;
    int kind_ = 0;
    int width_ = 0;
    int rows_ = 0;
    std::vector<std::uint8_t> pixels_;
};

// The grading kind of an object between two keyframes: 3 with a profile table, else the larger
// ChainKind of the two chains (0 when neither has one). Below 2 the content is not graded.
int GradingKind(const TObjectFilter* from, const TObjectFilter* to, bool hasProfile) noexcept;

// Remembers one keyframe's filter chain (identities and revisions) and its baked table.
class TColorGradeWrapper {
public:
    // Rebuilds the table when the chain's content, the kind or the profile changed: start from the
    // profile (when given, always 3-D) or the identity of `kind`, then apply the chain. Returns
    // true when the table was rebuilt. `profile` may be null.
    bool Prepare(TObjectFilter* chain, int kind, const TColorTable* profile);
    const TColorTable& Table() const noexcept { return table_; }

private:
    struct TLink {
        const TObjectFilter* filter;
        std::string id;
        std::int64_t revision;
        bool disabled;
    };
    std::vector<TLink> links_;
    const TColorTable* profile_ = nullptr;
    TColorTable table_;
    bool built_ = false;
};

} // namespace kiv
