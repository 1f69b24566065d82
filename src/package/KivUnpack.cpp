#include "package/KivUnpack.h"

#include "base/CaseFold.h"
#include "base/NumberText.h"
#include "ini/TextDecoding.h"
#include "package/CryptStream.h"
#include "package/FileStream.h"
#include "package/Inflator.h"
#include "package/IniStream.h"
#include "package/LoadCallback.h"
#include "package/MemoryStream.h"
#include "package/PackageFormat.h"
#include "package/PartialStream.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

constexpr const char* kNotFound = "Slideshow File not Found";
constexpr const char* kModified = "Slide-show File Modified";
constexpr const char* kDamaged = "Slide-show File Damaged";
constexpr std::int32_t kEntryChunk = 256;

// Moves to `position`; a position before the start of the file is the seek error the caller sees
// when the file is too short for the trailer being probed.
void SeekTo(TStream& stream, std::int64_t position) {
    if (position < 0) throw EStreamSeekError("Incorrect Position");
    stream.SetPosition(position);
}

bool EndMarkerAt(TStream& stream, std::int64_t position) {
    SeekTo(stream, position);
    char marker[4];
    stream.ReadBuffer(marker, 4);
    return std::memcmp(marker, kPackageEndMarker.data(), 4) == 0;
}

std::int64_t ReadInt64At(TStream& stream, std::int64_t position) {
    SeekTo(stream, position);
    return static_cast<std::int64_t>(stream.ReadUInt64LE());
}

// The partial stream every entry read goes through: chunks of 256 bytes and the load callback.
TRef<TPartialStream> ChunkedWindow(TStream* source, std::int64_t offset, std::int64_t length) {
    auto window = MakeRef<TPartialStream>(source, true, offset, length);
    window->SetCallback(ProcessLoadCallback(), kEntryChunk);
    return window;
}

// DEFLATE turns one byte into at most 1032.
constexpr std::int64_t kMaxDeflateRatio = 1032;

// Room for everything the entry can inflate to, up front: pages the inflater never writes cost
// nothing, while a block that grows midway is moved, and on some virtual machines every page of a
// moved block faults again on its next read (a fifth of the reading time). Asks for less when
// that much address space is refused. Never more than `limit` (and one page).
void ReserveInflatedRoom(TMemoryStream& decoded, std::int64_t packedSize, std::int64_t limit) {
    std::int64_t room =
        packedSize > (limit - 4096) / kMaxDeflateRatio ? limit + 4096 : packedSize * kMaxDeflateRatio + 4096;
    room = std::min(room, TMemoryStream::kMaxSize);
    while (!decoded.Reserve(room) && room > (1 << 20)) room /= 4;
}

} // namespace

TKivUnpack::TKivUnpack(const std::string& fileName) : fileName_(fileName) {
    key_ = kPackageKey;
    TRef<TStream> file = TFileStream::OpenRead(fileName);
    if (!file) {
        error_ = kNotFound;
        return;
    }
    Open(std::move(file));
}

TKivUnpack::TKivUnpack(TStream& source) : memorySource_(TRef<TStream>::Share(&source)) {
    key_ = kPackageKey;
    Open(memorySource_);
}

void TKivUnpack::Open(TRef<TStream> file) {
    const std::int64_t size = file->GetSize();
    // Own-file form first, then the appended form.
    if (EndMarkerAt(*file, size - 4)) {
        form_ = TPackageForm::Own;
        end_ = size;
        base_ = 0;
    } else if (EndMarkerAt(*file, size - 12)) {
        form_ = TPackageForm::Appended;
        end_ = size - 8;
        const std::int64_t length = ReadInt64At(*file, size - 8);
        if (length < 0 || length > end_) {
            error_ = kDamaged;
            return;
        }
        base_ = end_ - length;
    } else {
        return; // no trailer: not a package, no error text
    }

    const std::int64_t directoryEnd = end_ - 12;
    const std::int64_t offset = ReadInt64At(*file, directoryEnd);
    std::int64_t start = 0;
    if (__builtin_add_overflow(base_, offset, &start) || start < base_ || start > directoryEnd) {
        error_ = kDamaged;
        return;
    }

    auto window = MakeRef<TPartialStream>(file.Get(), false, start, directoryEnd - start);
    auto text = MakeRef<TMemoryStream>();
    MakeRef<TInflator>()->Inflate(*window, *text, kMaxTextBytes);
    text->SetPosition(0);
    auto directory = MakeRef<TIniFile>();
    if (!LoadIniFromStream(*directory, *text)) {
        error_ = kDamaged;
        return;
    }

    const TIniItem* strucpos = directory->FindItem(kProtectionSection, "strucpos");
    if (strucpos && strucpos->Value() != std::to_string(start)) {
        if (!directory->ReadBool(kProtectionSection, "allowmodify", false)) {
            error_ = kModified;
            return;
        }
        const std::optional<std::int64_t> recorded = ParseInt64(strucpos->Value());
        // A negative recorded offset cannot come from a writer and would shift entries past A.
        if (!recorded || *recorded > start || *recorded < 0) {
            error_ = kDamaged;
            return;
        }
        shift_ = start - *recorded;
    }
    version_ = directory->ReadString(kProtectionSection, "kivversion", "");
    struc_ = MakeRef<TUnpackStruc>(std::move(directory));
    file_ = std::move(file);
}

void TKivUnpack::Close() {
    struc_.Reset();
    file_.Reset();
    memorySource_.Reset();
}

bool TKivUnpack::FindEntry(std::string_view name, TPackageEntry& entry) const {
    return struc_ && struc_->Lookup(name, shift_, entry);
}

TRef<TStream> TKivUnpack::OpenSource() const {
    if (memorySource_) return memorySource_;
    return MakeRef<TFileStream>(fileName_, TFileAccess::Read, TFileCreation::OpenExisting, kShareRead);
}

TRef<TStream> TKivUnpack::OpenEntry(std::string_view name) const {
    TPackageEntry entry;
    if (!FindEntry(name, entry)) return nullptr;
    if (entry.storage == static_cast<int>(TEntryStorage::Deflated)) {
        // Inflated whole at once; the inflator reads 256 KiB blocks and runs the load callback
        // after each, so the window it reads needs no small chunks of its own.
        auto window = MakeRef<TPartialStream>(OpenSource().Detach(), true, entry.offset, entry.size);
        // The project text is refused above the largest text a document takes: inflating stops
        // there, so a bomb in its place costs no more than that.
        const std::int64_t limit =
            SameTextFolded(name, kProjectEntryName) ? kMaxTextBytes : TMemoryStream::kMaxSize;
        auto decoded = MakeRef<TMemoryStream>();
        ReserveInflatedRoom(*decoded, entry.size, limit);
        MakeRef<TInflator>()->Inflate(*window, *decoded, limit, ProcessLoadCallback());
        window.Reset();
        decoded->ShrinkToSize();
        // The bytes are in memory now: the inflation above already yielded through the callback,
        // and cutting memory reads into 256-byte pieces would only slow the reader down.
        decoded->SetPosition(0);
        return decoded;
    }
    TRef<TPartialStream> window = ChunkedWindow(OpenSource().Detach(), entry.offset, entry.size);
    if (entry.storage == static_cast<int>(TEntryStorage::Scrambled))
        return TRef<TStream>::Adopt(new TCryptStream(window.Detach(), key_, true));
    return window;
}

} // namespace kiv
