// TKivUnpack: opens a show package, checks where it lies in its file (own file, or appended to an
// executable), reads its directory and opens entries as streams.
//
// Opening reads the trailer at the end of the file: "...D(8) .dne" (own-file form, base 0) or
// "...D(8) .dne L(8)" (appended form, base = end - L). The directory is the raw-DEFLATE text at
// base + D. A package that was moved inside its file opens only when "$protection$/allowmodify" is
// "1"; its entries are then found at their recorded offsets plus the shift.
//
// Entry streams: every open entry reads through its own file handle, so entries may be read on
// several threads at once; reads are cut into chunks of at most 256 bytes and the process-wide
// load callback runs after each. A package opened from a stream (not a file) serves its entries
// over that one stream: read them one at a time.
#pragma once

#include "base/RefObject.h"
#include "package/PackageWriter.h"
#include "package/UnpackStruc.h"

#include <string>
#include <string_view>

namespace kiv {

class TKivUnpack : public TRefObject {
public:
    // Opens and checks the package file. Afterwards IsOpen tells success and ErrorText why not
    // ("Slideshow File not Found", "Slide-show File Modified", "Slide-show File Damaged", or empty
    // when the file has no trailer). Raises EStreamSeekError when the file is too short for the
    // trailer being probed and EZDecompressionError for a corrupt or oversized directory.
    explicit TKivUnpack(const std::string& fileName);
    // The same over a package held in `source` (a reference is added).
    explicit TKivUnpack(TStream& source);

    bool IsOpen() const { return file_ != nullptr; }
    const std::string& ErrorText() const { return error_; }
    const std::string& FileName() const { return fileName_; }
    // "$protection$/kivversion".
    const std::string& Version() const { return version_; }
    const std::string& Key() const { return key_; }

    TPackageForm Form() const { return form_; }
    std::int64_t Base() const { return base_; }
    std::int64_t End() const { return end_; }
    std::int64_t Shift() const { return shift_; }
    // The directory (nullptr when not open).
    const TUnpackStruc* Structure() const { return struc_.Get(); }

    // Finds an entry by name (see TUnpackStruc::Lookup); false when not open or not found.
    bool FindEntry(std::string_view name, TPackageEntry& entry) const;
    // A stream over the entry's decoded bytes, or nothing when the entry is not in the directory.
    // Raises EStreamError "Insufficient Source Size" when the entry lies outside the file,
    // EZDecompressionError for corrupt or oversized compressed data (the project text entry is
    // oversized past kMaxTextBytes, any other past the memory stream's limit), EFileOpenError when the
    // package file cannot be opened again. Any thread.
    TRef<TStream> OpenEntry(std::string_view name) const;

    // Frees the directory and the file stream.
    void Close();

protected:
    ~TKivUnpack() override = default;

private:
    void Open(TRef<TStream> file);
    TRef<TStream> OpenSource() const;

    std::string fileName_;
    TRef<TStream> file_;
    TRef<TStream> memorySource_;
    std::string key_;
    std::string error_;
    std::string version_;
    TRef<TUnpackStruc> struc_;
    TPackageForm form_ = TPackageForm::Own;
    std::int64_t base_ = 0;
    std::int64_t end_ = 0;
    std::int64_t shift_ = 0;
};

} // namespace kiv
