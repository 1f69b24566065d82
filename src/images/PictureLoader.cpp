#include "images/PictureLoader.h"

#include "base/CaseFold.h"
#include "images/BmpReader.h"
#include "images/GfxImage.h"
#include "images/GifReader.h"
#include "images/JpegStore.h"
#include "images/PngStore.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace kiv {

namespace {

struct TLoaderEntry {
    TPictureLoader loader;
    std::vector<std::string> extensions; // normalised
};

std::string NormaliseExtension(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && static_cast<unsigned char>(text[start]) < 33)
        ++start;
    text.remove_prefix(start);
    if (!text.empty() && text.front() == '*') text.remove_prefix(1);
    std::string result(text);
    if (result.empty() || result.front() != '.') result.insert(result.begin(), '.');
    return result;
}

class TLoaderRegistry {
public:
    TLoaderRegistry() {
        Add(LoadGfxPicture, {".zkgfx", ".bmp", ".dib", ".png", ".gif|framesatlas"});
        Add(LoadBmpPicture, {".bmp", ".dib"});
        Add(LoadJpegPicture, {".jpg", ".jpeg", ".jpe", ".jfif"});
        Add(LoadGifFirstFrame, {".gif"});
        Add(LoadGifFirstFrame, {".gif_first_frame"});
        Add(LoadGifFrameAtlas, {".gif|framesatlas"});
        Add(LoadPngPicture, {".png"});
    }

    void Add(TPictureLoader loader, const std::vector<std::string>& extensions) {
        TLoaderEntry entry{loader, {}};
        for (const std::string& extension : extensions)
            entry.extensions.push_back(NormaliseExtension(extension));
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }

    std::vector<TLoaderEntry> Snapshot() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::vector<TLoaderEntry> entries_;
};

TLoaderRegistry& Registry() {
    static TLoaderRegistry registry;
    return registry;
}

bool StartsWithPngSignature(TStream& stream) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint8_t head[8];
    const std::int64_t start = stream.GetPosition();
    const std::int32_t got = stream.Read(head, 8);
    stream.SetPosition(start);
    return got == 8 && std::memcmp(head, kSignature, 8) == 0;
}

} // namespace

void RegisterLoader(TPictureLoader loader, const std::vector<std::string>& extensions) {
    Registry().Add(loader, extensions);
}

std::string PictureExtension(std::string_view name) {
    const std::size_t slash = name.find_last_of("\\/");
    const std::size_t from = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < from) return {};
    return std::string(name.substr(dot));
}

TRef<TImage> DecodePicture(TStream& stream, std::string_view name, TRotationQuery query, void* context) {
    std::string extension = PictureExtension(name);
    if (SameTextFolded(extension, ".bmp") && StartsWithPngSignature(stream)) extension = ".png";
    const std::string nameText(name);
    for (const TLoaderEntry& entry : Registry().Snapshot()) {
        if (!extension.empty()) {
            bool listed = false;
            for (const std::string& candidate : entry.extensions)
                if (SameTextFolded(candidate, extension)) {
                    listed = true;
                    break;
                }
            if (!listed) continue;
        }
        if (TRef<TBitmapStore> store = entry.loader(stream, nameText, query, context))
            return MakeRef<TImage>(std::move(store));
    }
    return nullptr;
}

TRef<TImage> DecodePictureByName(TStream& stream, std::string_view name) {
    return DecodePicture(stream, name, nullptr, nullptr);
}

std::vector<std::uint8_t> ReadRest(TStream& stream, std::int64_t limit) {
    constexpr std::int32_t kBlock = 1 << 20;
    std::vector<std::uint8_t> data;
    std::size_t used = 0;
    const std::int64_t size = stream.GetSize();
    if (size >= 0) {
        // Known size: read straight into place.
        const std::int64_t rest = size - stream.GetPosition();
        if (rest > limit) throw EImageError("Picture file too large");
        if (rest <= 0) return data;
        data.resize(static_cast<std::size_t>(rest));
        while (used < data.size()) {
            const auto want = static_cast<std::int32_t>(std::min<std::size_t>(kBlock, data.size() - used));
            const std::int32_t got = stream.Read(data.data() + used, want);
            if (got <= 0) break;
            used += static_cast<std::size_t>(got);
        }
        data.resize(used);
        return data;
    }
    for (;;) {
        if (data.size() < used + kBlock) data.resize(std::max(data.size() * 2, used + kBlock));
        const std::int32_t got = stream.Read(data.data() + used, kBlock);
        if (got <= 0) break;
        used += static_cast<std::size_t>(got);
        if (static_cast<std::int64_t>(used) > limit) throw EImageError("Picture file too large");
    }
    data.resize(used);
    return data;
}

} // namespace kiv
