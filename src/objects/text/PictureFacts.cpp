#include "objects/text/PictureFacts.h"

#include "base/Log.h"

#include <exiv2/exiv2.hpp>

#include <exception>
#include <mutex>

namespace kiv {

namespace {

// The IPTC datasets of record 2 that macros name.
constexpr int kIptcDatasets[] = {5, 40, 80, 85, 90, 92, 95, 101, 103, 105, 110, 115, 116, 120, 122};

std::string ExifText(const Exiv2::ExifData& exif, const char* key) {
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    if (found == exif.end()) return {};
    if (const auto* comment = dynamic_cast<const Exiv2::CommentValue*>(&found->value()))
        return comment->comment();
    return found->toString();
}

} // namespace

std::string TrimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool ReadPictureFacts(const std::uint8_t* data, std::size_t size, TPictureFacts& facts) {
    facts = TPictureFacts{};
    if (!data || size == 0) return false;
    static std::once_flag quiet;
    std::call_once(quiet, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
        if (!image.get()) return false;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        facts.exifComment = ExifText(exif, "Exif.Photo.UserComment");
        facts.exifDescription = ExifText(exif, "Exif.Image.ImageDescription");
        facts.exifDateTime = ExifText(exif, "Exif.Image.DateTime");
        const Exiv2::IptcData& iptc = image->iptcData();
        for (int dataset : kIptcDatasets) {
            const auto found =
                iptc.findId(static_cast<std::uint16_t>(dataset), Exiv2::IptcDataSets::application2);
            if (found != iptc.end()) facts.iptc[dataset] = found->toString();
        }
        return true;
    } catch (const std::exception& failure) {
        TLog::Line(std::string("Picture metadata cannot be read: ") + failure.what());
    }
    facts = TPictureFacts{};
    return false;
}

} // namespace kiv
