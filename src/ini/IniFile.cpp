// TIniSection and TIniFile: sections, loading, saving and the document-level shortcuts.
#include "ini/IniFile.h"

#include "base/Assert.h"
#include "base/Exception.h"
#include "base/ReplacingFile.h"
#include "ini/IniHash.h"
#include "ini/IniParser.h"
#include "ini/TextDecoding.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

namespace {

constexpr std::size_t kInitialSections = 8;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Reads a whole disk file; nullopt when it cannot be opened or read, or is too large.
std::optional<std::string> ReadWholeFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> result;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxTextBytes) {
        std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t done = 0;
        bool failed = false;
        while (done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                failed = true; // the file shrank or could not be read
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        if (!failed) result = std::move(bytes);
    }
    ::close(fd);
    return result;
}

} // namespace

// --- TIniSection ---

TIniFile* TIniSection::File() const {
    return static_cast<TIniFile*>(Parent());
}

TRef<TIniList> TIniSection::NewEmptyInstance() const {
    return MakeRef<TIniSection>();
}

void TIniSection::Save(TTextSaver& saver, int indent) const {
    saver.WriteIndent(indent);
    saver.Write("[");
    saver.Write(Name());
    saver.Write("]");
    saver.WriteLineEnd();
    SaveItems(saver, indent);
}

// --- TIniFile: sections ---

TIniFile::~TIniFile() {
    for (const TRef<TIniSection>& section : sections_) {
        section->parent_ = nullptr;
        section->index_ = -1;
        section->hashNext_ = nullptr;
    }
}

TIniSection* TIniFile::Section(int index) const {
    if (index < 0 || index >= SectionCount()) return nullptr;
    return sections_[static_cast<std::size_t>(index)].Get();
}

void TIniFile::EnsureSectionBuckets() const {
    if (sectionBucketsValid_.load(std::memory_order_acquire)) return;
    std::lock_guard guard(IniBucketBuildLock());
    if (sectionBucketsValid_.load(std::memory_order_relaxed)) return;
    TIniHashIndex::BuildSlots(sectionBuckets_, sections_);
    sectionBucketsValid_.store(true, std::memory_order_release);
}

TIniSection* TIniFile::FindSection(std::string_view name) const {
    if (name.empty()) return const_cast<TIniFile*>(this);
    return FindSection(name, FoldedHash(name));
}

TIniSection* TIniFile::FindSection(std::string_view name, std::uint32_t hash) const {
    if (sections_.empty()) return nullptr;
    EnsureSectionBuckets();
    const int index = TIniHashIndex::FindSlot(sectionBuckets_, sections_, name, hash);
    return index < 0 ? nullptr : sections_[static_cast<std::size_t>(index)].Get();
}

TIniSection* TIniFile::AppendSection(std::string_view name, std::uint32_t hash) {
    TRef<TIniSection> section = MakeRef<TIniSection>(name);
    TIniSection* raw = section.Get();
    if (sections_.capacity() == sections_.size())
        sections_.reserve(std::max(kInitialSections, sections_.size() * 2));
    raw->parent_ = this;
    raw->index_ = static_cast<int>(sections_.size());
    sections_.push_back(std::move(section));
    if (sectionBucketsValid_) {
        // Documents are built on one thread: no lookup runs while the table changes.
        if (2 * sections_.size() > sectionBuckets_.size()) TIniHashIndex::GrowSlots(sectionBuckets_);
        TIniHashIndex::PutSlot(sectionBuckets_, sections_, sections_.size() - 1, hash);
    }
    return raw;
}

TIniSection* TIniFile::SectionForReader(std::string_view name) {
    if (name.empty()) return this;
    const std::uint32_t hash = FoldedHash(name);
    if (TIniSection* found = FindSection(name, hash)) return found;
    return AppendSection(name, hash);
}

TIniSection* TIniFile::FindOrCreateSection(std::string_view name) {
    if (name.empty()) return this;
    const std::uint32_t hash = FoldedHash(name);
    if (TIniSection* found = FindSection(name, hash)) return found;
    TIniSection* section = AppendSection(name, hash);
    section->AddText({});
    return section;
}

TRef<TIniSection> TIniFile::RemoveSection(std::string_view name) {
    if (name.empty()) return nullptr;
    TIniSection* section = FindSection(name);
    if (!section) return nullptr;
    const int index = section->index_;
    KIV_ASSERT(index >= 0 && index < SectionCount() &&
                   sections_[static_cast<std::size_t>(index)].Get() == section,
               "TIniSection.SectionIndex mismatch");
    sectionBucketsValid_ = false; // the sections after it move down
    TRef<TIniSection> taken = std::move(sections_[static_cast<std::size_t>(index)]);
    sections_.erase(sections_.begin() + index);
    for (std::size_t i = static_cast<std::size_t>(index); i < sections_.size(); ++i)
        sections_[i]->index_ = static_cast<int>(i);
    taken->parent_ = nullptr;
    taken->index_ = -1;
    return taken;
}

// --- TIniFile: whole document ---

void TIniFile::Clear() {
    TIniList::Clear();
    std::vector<TRef<TIniSection>> old;
    old.swap(sections_);
    for (const TRef<TIniSection>& section : old) {
        section->parent_ = nullptr;
        section->index_ = -1;
        section->hashNext_ = nullptr;
    }
    sectionBuckets_.clear();
    sectionBucketsValid_ = false;
}

void TIniFile::Assign(const TIniFile& source) {
    if (&source == this) return;
    Clear();
    for (const TRef<TIniItem>& item : source.Items())
        Append(item->Clone());
    for (const TRef<TIniSection>& section : source.sections_) {
        TIniSection* target = AppendSection(section->Name(), FoldedHash(section->Name()));
        for (const TRef<TIniItem>& item : section->Items())
            target->Append(item->Clone());
    }
}

TRef<TIniList> TIniFile::NewEmptyInstance() const {
    return MakeRef<TIniFile>();
}

TRef<TIniItem> TIniFile::Clone() const {
    TRef<TIniFile> copy = MakeRef<TIniFile>();
    copy->SetName(Name());
    copy->SetValue(Value());
    copy->Assign(*this);
    return copy;
}

void TIniFile::Save(TTextSaver& saver, int indent) const {
    SaveItems(saver, indent);
    for (const TRef<TIniSection>& section : sections_)
        section->Save(saver, indent);
}

void TIniFile::CheckConsistency() const {
    TIniList::CheckConsistency();
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const TIniSection& section = *sections_[i];
        KIV_ASSERT(section.SectionIndex() == static_cast<int>(i) && section.Parent() == this,
                   "TIniSection.SectionIndex mismatch");
        section.CheckConsistency();
    }
    if (sectionBucketsValid_)
        KIV_ASSERT(TIniHashIndex::SlotsMatch(sectionBuckets_, sections_), "TIniFile.SectionBuckets mismatch");
}

// --- Loading and saving ---

void TIniFile::LoadFromText(std::string_view text) {
    Clear();
    TIniParser::Parse(text, *this, this);
}

bool TIniFile::LoadFromBytes(std::string_view bytes) {
    Clear();
    if (static_cast<std::int64_t>(bytes.size()) > kMaxTextBytes) return false;
    LoadFromText(DecodeTextBytes(bytes));
    return true;
}

bool TIniFile::LoadFromFile(const std::string& fileName) {
    Clear();
    std::optional<std::string> bytes = ReadWholeFile(fileName);
    if (!bytes) return false;
    LoadFromText(DecodeOwnedTextBytes(std::move(*bytes)));
    return true;
}

bool TIniFile::LoadFromEscaped(std::string_view value) {
    Clear();
    const std::optional<std::string> text = UnescapeIniText(value);
    if (!text) return false;
    LoadFromText(*text);
    return true;
}

std::string TIniFile::SaveToBytes(bool byteOrderMark) const {
    TBytesTextSaver saver;
    if (byteOrderMark) saver.Write(kUtf8Mark);
    Save(saver);
    return saver.TakeBytes();
}

void TIniFile::SaveToFile(const std::string& fileName, bool byteOrderMark) const {
    const std::string bytes = SaveToBytes(byteOrderMark);
    // Written beside the name and renamed over it: a link at the name is replaced, not followed.
    TReplacingFile file(fileName);
    if (!file.File()) throw EFileError("Cannot create file \"" + fileName + "\": " + file.Error());
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.File()) != bytes.size() || !file.Commit())
        throw EFileError("Cannot write file \"" + fileName + "\": " + file.Error());
}

std::string TIniFile::SaveToEscaped() const {
    TEscapedTextSaver saver;
    Save(saver);
    return saver.TakeBytes();
}

// --- Paths and document-level shortcuts ---

TIniItem* TIniFile::Path(std::string_view path) {
    const std::size_t colon = path.find(':');
    if (colon == std::string_view::npos) return TIniList::Path(path);
    TIniSection* section = FindOrCreateSection(path.substr(0, colon));
    return section->TIniList::Path(path.substr(colon + 1));
}

TIniItem* TIniFile::FindItem(std::string_view section, std::string_view key) const {
    const TIniSection* list = FindSection(section);
    return list ? list->FindItem(key) : nullptr;
}

TByteString TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
    return kiv::GetText(FindItem(section, key), fallback);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t fallback) const {
    return kiv::GetInt32(FindItem(section, key), fallback);
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double fallback) const {
    return kiv::GetReal(FindItem(section, key), fallback);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
    return kiv::GetBool(FindItem(section, key), fallback);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    FindOrCreateSection(section)->SetText(key, value);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    FindOrCreateSection(section)->SetInt32(key, value);
}

void TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    FindOrCreateSection(section)->SetReal(key, value);
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    FindOrCreateSection(section)->SetBool(key, value);
}

} // namespace kiv
