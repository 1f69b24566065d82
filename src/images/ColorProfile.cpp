#include "images/ColorProfile.h"

#include "base/Log.h"

#include <lcms2.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace kiv {

namespace {

constexpr char kSrgbDescription[] = "sRGB IEC61966-2.1";

std::mutex& TableLock() {
    static std::mutex lock;
    return lock;
}

struct TColorState {
    std::mutex mutex;
    TRef<TColorProfile> display;
    TColorManagement mode = TColorManagement::Active;
    TTablePictureSource tableSource;
};

TColorState& State() {
    static TColorState state;
    return state;
}

std::vector<std::uint8_t> SaveProfile(cmsHPROFILE profile, const char* description) {
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", description);
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    // Version 2 keeps the description as plain ASCII near the start of the data.
    cmsSetProfileVersion(profile, 2.1);
    cmsUInt32Number size = 0;
    std::vector<std::uint8_t> data;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        data.resize(size);
        if (!cmsSaveProfileToMem(profile, data.data(), &size)) data.clear();
    }
    cmsCloseProfile(profile);
    return data;
}

std::vector<std::uint8_t> MakeRgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries,
                                         double gamma, const char* description) {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (!profile) return {};
    return SaveProfile(profile, description);
}

struct TBuiltIns {
    TRef<TColorProfile> srgb, yuvSrgb, adobe, funky;

    TBuiltIns() {
        cmsSetAdaptationState(0);
        std::vector<std::uint8_t> srgbData = SaveProfile(cmsCreate_sRGBProfile(), kSrgbDescription);
        srgb = MakeRef<TColorProfile>("sRGB", srgbData);
        yuvSrgb = MakeRef<TColorProfile>("YUVsRGB", std::move(srgbData));
        const cmsCIExyY d65{0.3127, 0.3290, 1.0};
        const cmsCIExyYTRIPLE adobePrimaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
        adobe = MakeRef<TColorProfile>(
            "AdobeRGB", MakeRgbProfile(d65, adobePrimaries, 563.0 / 256.0, "Adobe RGB (1998)"));
        const cmsCIExyY d50{0.3457, 0.3585, 1.0};
        const cmsCIExyYTRIPLE rommPrimaries{
            {0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}};
        funky = MakeRef<TColorProfile>("FunkyRGB",
                                       MakeRgbProfile(d50, rommPrimaries, 1.8, "FunkyRGB (ROMM primaries)"));
    }
};

TBuiltIns& BuiltIns() {
    static TBuiltIns builtIns;
    return builtIns;
}

// Little CMS transform, made for each application in the layout of the picture.
class TLcmsTransform : public TColorTransform {
public:
    TLcmsTransform(std::vector<std::uint8_t> source, std::vector<std::uint8_t> target)
        : source_(std::move(source)), target_(std::move(target)) {}

    // True when both profiles open and a transform between them can be made.
    bool Usable() { return Run(nullptr); }

    void Apply(TBitmap& bitmap) override { Run(&bitmap); }

private:
    bool Run(TBitmap* bitmap) {
        const int bytes = bitmap ? BytesPerPixel(bitmap->Format()) : 3;
        if (bytes != 3 && bytes != 4) return false;
        cmsHPROFILE in = cmsOpenProfileFromMem(source_.data(), static_cast<cmsUInt32Number>(source_.size()));
        cmsHPROFILE out = cmsOpenProfileFromMem(target_.data(), static_cast<cmsUInt32Number>(target_.size()));
        cmsHTRANSFORM transform = nullptr;
        if (in && out) {
            const cmsUInt32Number format = bytes == 4 ? TYPE_BGRA_8 : TYPE_BGR_8;
            transform = cmsCreateTransform(in, format, out, format, INTENT_PERCEPTUAL, 0);
        }
        if (transform && bitmap)
            for (int y = 0; y < bitmap->Height(); ++y)
                cmsDoTransform(transform, bitmap->Row(y), bitmap->Row(y),
                               static_cast<cmsUInt32Number>(bitmap->Width()));
        const bool made = transform != nullptr;
        if (transform) cmsDeleteTransform(transform);
        if (in) cmsCloseProfile(in);
        if (out) cmsCloseProfile(out);
        return made;
    }

    std::vector<std::uint8_t> source_;
    std::vector<std::uint8_t> target_;
};

// A transform given by a pre-computed table: colour tables are replaced by it, other pictures are
// looked up in it.
class TTableTransform : public TColorTransform {
public:
    explicit TTableTransform(TRef<TBitmap> table) : table_(std::move(table)) {}

    void Apply(TBitmap& bitmap) override {
        const int bytes = BytesPerPixel(bitmap.Format());
        if (bytes != 3 && bytes != 4) return;
        const bool isTable = bitmap.Width() == 32 && bitmap.Height() == 1024;
        for (int y = 0; y < bitmap.Height(); ++y) {
            std::uint8_t* row = bitmap.Row(y);
            for (int x = 0; x < bitmap.Width(); ++x, row += bytes) {
                if (isTable) {
                    std::memcpy(row, table_->Row(y) + 4 * x, 3);
                    continue;
                }
                const std::uint32_t argb = 0xFF000000u | (row[2] << 16) | (row[1] << 8) | row[0];
                const std::uint32_t mapped = LookupColor(*table_, argb);
                row[0] = static_cast<std::uint8_t>(mapped);
                row[1] = static_cast<std::uint8_t>(mapped >> 8);
                row[2] = static_cast<std::uint8_t>(mapped >> 16);
            }
        }
    }

private:
    TRef<TBitmap> table_; // 32 × 1024, 32-bit
};

// The table picture holds differences from the identity table, modulo 256.
TRef<TBitmap> TableFromDifferences(const TBitmap& differences) {
    if (differences.Width() != 32 || differences.Height() != 1024 ||
        differences.Format() != TPixelFormat::Bgr24)
        return nullptr;
    TRef<TBitmap> table = MakeIdentityTable();
    for (int y = 0; y < 1024; ++y) {
        const std::uint8_t* in = differences.Row(y);
        std::uint8_t* out = table->Row(y);
        for (int x = 0; x < 32; ++x)
            for (int c = 0; c < 3; ++c)
                out[4 * x + c] = static_cast<std::uint8_t>(out[4 * x + c] + in[3 * x + c]);
    }
    return table;
}

int LatticeIndex(int value) {
    int n = std::min(value / 8, 30);
    while (n > 0 && LatticeValue(n) > value)
        --n;
    return n;
}

} // namespace

TColorProfile::TColorProfile(std::string name, std::vector<std::uint8_t> data)
    : name_(std::move(name)), data_(std::move(data)) {}

TRef<TBitmap> TColorProfile::ColorTable() {
    std::lock_guard lock(TableLock());
    if (!tableMade_) {
        tableMade_ = true;
        TRef<TColorProfile> srgb = BuiltInProfile("sRGB");
        if (TRef<TColorTransform> transform = CreateColorTransform(*srgb, *this)) {
            table_ = MakeIdentityTable();
            transform->Apply(*table_);
        }
    }
    return table_;
}

TRef<TColorProfile> BuiltInProfile(std::string_view name) {
    TBuiltIns& builtIns = BuiltIns();
    if (name == "sRGB") return builtIns.srgb;
    if (name == "YUVsRGB") return builtIns.yuvSrgb;
    if (name == "AdobeRGB") return builtIns.adobe;
    if (name == "FunkyRGB") return builtIns.funky;
    return nullptr;
}

TRef<TColorProfile> ProfileFromData(std::vector<std::uint8_t> data, const std::string& name) {
    if (data.empty()) return nullptr;
    const std::string_view head(reinterpret_cast<const char*>(data.data()),
                                std::min<std::size_t>(data.size(), 512));
    if (head.find(kSrgbDescription) != std::string_view::npos) return BuiltInProfile("sRGB");
    return MakeRef<TColorProfile>(name, std::move(data));
}

void SetDisplayProfile(TRef<TColorProfile> profile) {
    std::lock_guard lock(State().mutex);
    State().display = std::move(profile);
}

TRef<TColorProfile> DisplayProfile() {
    {
        std::lock_guard lock(State().mutex);
        if (State().display) return State().display;
    }
    return BuiltInProfile("sRGB");
}

TRef<TColorProfile> ProfileForScreen(const void* data, std::size_t size) {
    if (data && size > 0) {
        cmsHPROFILE profile = cmsOpenProfileFromMem(data, static_cast<cmsUInt32Number>(size));
        if (profile) {
            cmsCloseProfile(profile);
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            return ProfileFromData(std::vector<std::uint8_t>(bytes, bytes + size), "Display");
        }
        TLog::Line("The screen's colour profile cannot be read; using sRGB");
    }
    return BuiltInProfile("sRGB");
}

void SetColorManagement(TColorManagement mode) {
    std::lock_guard lock(State().mutex);
    State().mode = mode;
}

TColorManagement ColorManagement() {
    std::lock_guard lock(State().mutex);
    return State().mode;
}

void SetTablePictureSource(TTablePictureSource source) {
    std::lock_guard lock(State().mutex);
    State().tableSource = std::move(source);
}

TRef<TColorTransform> CreateColorTransform(const TColorProfile& source, const TColorProfile& target) {
    TTablePictureSource tableSource;
    TColorManagement mode;
    {
        std::lock_guard lock(State().mutex);
        tableSource = State().tableSource;
        mode = State().mode;
    }
    if (mode != TColorManagement::Active && tableSource) {
        if (TRef<TBitmap> differences = tableSource("ColorSpaceExe_" + target.Name() + "].ZKGFX"))
            if (TRef<TBitmap> table = TableFromDifferences(*differences))
                return MakeRef<TTableTransform>(table);
    }
    BuiltIns(); // sets the adaptation state once
    auto transform = MakeRef<TLcmsTransform>(source.Data(), target.Data());
    if (!transform->Usable()) return nullptr;
    return transform;
}

TRef<TBitmap> MakeIdentityTable() {
    auto table = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgra32, false);
    for (int i = 0; i < 32; ++i)
        for (int j = 0; j < 32; ++j) {
            std::uint8_t* row = table->Row(32 * i + j);
            for (int k = 0; k < 32; ++k) {
                row[4 * k] = static_cast<std::uint8_t>(LatticeValue(i));
                row[4 * k + 1] = static_cast<std::uint8_t>(LatticeValue(j));
                row[4 * k + 2] = static_cast<std::uint8_t>(LatticeValue(k));
                row[4 * k + 3] = 255;
            }
        }
    return table;
}

std::uint32_t LookupColor(const TBitmap& table, std::uint32_t argb) {
    if (table.Width() != 32 || table.Height() != 1024 || BytesPerPixel(table.Format()) < 3) return argb;
    const int bytes = BytesPerPixel(table.Format());
    const int value[3] = {static_cast<int>(argb & 255), static_cast<int>((argb >> 8) & 255),
                          static_cast<int>((argb >> 16) & 255)}; // blue, green, red
    int index[3];
    std::uint64_t weight[3][2];
    for (int c = 0; c < 3; ++c) {
        index[c] = LatticeIndex(value[c]);
        const int low = LatticeValue(index[c]), span = LatticeValue(index[c] + 1) - low;
        const std::uint64_t fraction = (static_cast<std::uint64_t>(value[c] - low) * 65536 + span / 2) / span;
        weight[c][0] = 65536 - fraction;
        weight[c][1] = fraction;
    }
    std::uint64_t sum[3] = {0, 0, 0};
    for (int db = 0; db < 2; ++db)
        for (int dg = 0; dg < 2; ++dg) {
            const std::uint8_t* row = table.Row(32 * (index[0] + db) + index[1] + dg);
            for (int dr = 0; dr < 2; ++dr) {
                const std::uint64_t w = weight[0][db] * weight[1][dg] * weight[2][dr];
                if (!w) continue;
                const std::uint8_t* p = row + bytes * (index[2] + dr);
                for (int c = 0; c < 3; ++c)
                    sum[c] += p[c] * w;
            }
        }
    std::uint32_t result = argb & 0xFF000000u;
    for (int c = 0; c < 3; ++c) {
        const std::uint64_t v = std::min<std::uint64_t>((sum[c] + (std::uint64_t{1} << 47)) >> 48, 255);
        result |= static_cast<std::uint32_t>(v) << (8 * c);
    }
    return result;
}

std::uint32_t ConvertColorToDisplay(std::uint32_t argb) {
    if (ColorManagement() == TColorManagement::Off) return argb;
    TRef<TBitmap> table = DisplayProfile()->ColorTable();
    return table ? LookupColor(*table, argb) : argb;
}

TRef<TBitmap> ProfileConversionTable(const TColorProfile* picture, const TColorProfile* output) {
    if (!picture || !output || ColorManagement() == TColorManagement::Off) return nullptr;
    if (picture == output || picture->Data() == output->Data()) return nullptr;
    TRef<TColorTransform> transform = CreateColorTransform(*picture, *output);
    if (!transform) return nullptr;
    TRef<TBitmap> table = MakeIdentityTable();
    transform->Apply(*table);
    return table;
}

} // namespace kiv
