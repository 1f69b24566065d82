#include "package/PackageWriter.h"

#include "base/Assert.h"
#include "base/CaseFold.h"
#include "package/StringStream.h"

#include <algorithm>
#include <zlib.h>

namespace kiv {

namespace {

constexpr std::int32_t kBlock = 1 << 20;

[[noreturn]] void RaiseDeflate(const z_stream& stream, int result) {
    throw EZLibError(stream.msg ? stream.msg : zError(result));
}

// Feeds blocks to a raw deflater and hands every piece of output to `sink`.
class TRawDeflater {
public:
    explicit TRawDeflater(int level) : output_(kBlock) {
        const int result = deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        if (result != Z_OK) RaiseDeflate(stream_, result);
    }
    ~TRawDeflater() { deflateEnd(&stream_); }
    TRawDeflater(const TRawDeflater&) = delete;
    TRawDeflater& operator=(const TRawDeflater&) = delete;

    template <class Sink>
    void Feed(const std::uint8_t* bytes, std::size_t count, bool last, Sink&& sink) {
        stream_.next_in = const_cast<Bytef*>(bytes);
        stream_.avail_in = static_cast<uInt>(count);
        const int flush = last ? Z_FINISH : Z_NO_FLUSH;
        for (;;) {
            stream_.next_out = output_.data();
            stream_.avail_out = static_cast<uInt>(output_.size());
            const int result = deflate(&stream_, flush);
            if (result == Z_STREAM_ERROR) RaiseDeflate(stream_, result);
            sink(output_.data(), output_.size() - stream_.avail_out);
            if (last ? result == Z_STREAM_END : stream_.avail_in == 0 && stream_.avail_out > 0) break;
        }
    }

private:
    z_stream stream_{};
    std::vector<std::uint8_t> output_;
};

void WriteInt64LE(TStream& target, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    target.WriteUInt32LE(static_cast<std::uint32_t>(bits));
    target.WriteUInt32LE(static_cast<std::uint32_t>(bits >> 32));
}

std::string WithoutControls(std::string_view text) {
    std::string clean;
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 32) clean += c;
    return clean;
}

} // namespace

std::string DeflateRaw(std::string_view bytes, int level) {
    std::string packed;
    TRawDeflater deflater(level);
    deflater.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), true,
                  [&](const std::uint8_t* out, std::size_t n) { packed.append(reinterpret_cast<const char*>(out), n); });
    return packed;
}

TKivPackWriter::TKivPackWriter(TStream& target) : target_(target), base_(target.GetPosition()) {}

std::string TKivPackWriter::CheckedSection(std::string_view name) const {
    const std::string section = EscapeEntryName(name);
    if (section.empty() || section.front() == ' ' || section.back() == ' ')
        throw EPackageNameError(std::string("Entry name cannot be stored: \"").append(name).append("\""));
    const std::string folded = FoldUtf8(section);
    if (SameTextFolded(section, kProtectionSection) ||
        std::find(foldedSections_.begin(), foldedSections_.end(), folded) != foldedSections_.end())
        throw EPackageNameError(std::string("Duplicate entry name: \"").append(name).append("\""));
    return section;
}

void TKivPackWriter::AddEntry(std::string_view name, std::string_view bytes, TEntryStorage storage) {
    auto source = MakeRef<TStringStream>(std::string(bytes));
    AddEntry(name, *source, storage);
}

void TKivPackWriter::AddEntry(std::string_view name, TStream& source, TEntryStorage storage) {
    KIV_ASSERT(!finished_, "TKivPackWriter: entry after Finish");
    std::string section = CheckedSection(name);
    const std::int64_t offset = target_.GetPosition();
    std::int64_t size = 0;
    switch (storage) {
    case TEntryStorage::Stored: size = WriteStored(source); break;
    case TEntryStorage::Deflated: size = WriteDeflated(source); break;
    case TEntryStorage::Scrambled: size = WriteScrambled(source); break;
    }
    foldedSections_.push_back(FoldUtf8(section));
    entries_.push_back(TEntry{std::move(section), offset, size, storage});
}

std::int64_t TKivPackWriter::WriteStored(TStream& source) {
    std::vector<std::uint8_t> block(kBlock);
    std::int64_t size = 0;
    while (const std::int32_t got = source.Read(block.data(), kBlock)) {
        if (got < 0) break;
        target_.WriteBuffer(block.data(), got);
        size += got;
    }
    return size;
}

std::int64_t TKivPackWriter::WriteScrambled(TStream& source) {
    std::vector<std::uint8_t> block(kBlock);
    std::int64_t size = 0;
    while (const std::int32_t got = source.Read(block.data(), kBlock)) {
        if (got < 0) break;
        for (std::int32_t i = 0; i < got; ++i)
            block[static_cast<std::size_t>(i)] ^= static_cast<std::uint8_t>(kPackageKey[static_cast<std::size_t>((size + i) % 32)]);
        target_.WriteBuffer(block.data(), got);
        size += got;
    }
    return size;
}

std::int64_t TKivPackWriter::WriteDeflated(TStream& source) {
    std::vector<std::uint8_t> block(kBlock);
    std::int64_t size = 0;
    TRawDeflater deflater(level_);
    auto sink = [&](const std::uint8_t* out, std::size_t n) {
        target_.WriteBuffer(out, static_cast<std::int32_t>(n));
        size += static_cast<std::int64_t>(n);
    };
    for (;;) {
        const std::int32_t got = source.Read(block.data(), kBlock);
        if (got <= 0) break;
        deflater.Feed(block.data(), static_cast<std::size_t>(got), false, sink);
    }
    deflater.Feed(nullptr, 0, true, sink);
    return size;
}

void TKivPackWriter::Finish(TPackageForm form) {
    KIV_ASSERT(!finished_, "TKivPackWriter: Finish twice");
    finished_ = true;
    const std::int64_t directoryOffset = target_.GetPosition();
    // Appended piece by piece: GCC 12 warns falsely on "literal" + std::string temporaries.
    std::string text = "\xEF\xBB\xBF";
    auto line = [&text](std::string_view key, std::string_view value) {
        text.append(key).append(value).append("\r\n");
    };
    for (const TEntry& entry : entries_) {
        text.append("[").append(entry.section).append("]\r\n");
        line("_ps=", std::to_string(entry.offset));
        line("_sz=", std::to_string(entry.size));
        line("_pm=", std::to_string(static_cast<int>(entry.storage)));
    }
    text.append("[").append(kProtectionSection).append("]\r\n");
    line("strucpos=", std::to_string(directoryOffset));
    line("allowmodify=", allowModify_ ? "1" : "0");
    line("kivversion=", WithoutControls(version_));
    const std::string packed = DeflateRaw(text);
    target_.WriteBuffer(packed.data(), static_cast<std::int32_t>(packed.size()));
    const std::int64_t base = form == TPackageForm::Own ? 0 : base_;
    WriteInt64LE(target_, directoryOffset - base);
    target_.WriteBuffer(kPackageEndMarker.data(), static_cast<std::int32_t>(kPackageEndMarker.size()));
    if (form == TPackageForm::Appended) WriteInt64LE(target_, target_.GetPosition() - base);
}

} // namespace kiv
