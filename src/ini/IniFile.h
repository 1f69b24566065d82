// The INI-like document every structured show text is written in: the project, the package
// directory, option files and documents nested in one value. A document holds the root items (the
// lines before the first section header) and its sections; a list holds key items (name=value),
// text items (comments, blank lines, any other line, kept verbatim so a load and save keeps them)
// and nested objects ("object NAME:CLASS" ... "end"). Names compare by simple case folding and are
// found through hash buckets, so a directory of tens of thousands of sections looks up in constant
// time. Text is UTF-8 bytes throughout.
//
// Reading from and saving to package streams: package/IniStream.h.
//
// Memory: a key item costs one heap block of 112 bytes with its names held inline when short; a
// list keeps its items, objects and lookup buckets in a second block that only a list with items
// has, so a section header without lines costs one block of 112 bytes.
//
// Ownership: a list owns its items (one reference each); removing an item hands that reference to
// the caller. A document is built on one thread and may then be read from several; it is not locked.
#pragma once

#include <atomic>
#include <memory>

#include "base/RefObject.h"
#include "ini/IniValues.h"
#include "ini/TextSaver.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

using TByteString = std::string;

class TIniList;
class TIniObject;
class TIniSection;
class TIniFile;

// A slot of a document's section table (private to the document; see IniHash.h).
struct TIniSectionSlot {
    std::uint32_t hash = 0;
    std::uint32_t index = 0; // section index + 1; 0 for an empty slot
};

// Anything that can write itself as text lines.
class TTextWriter : public TRefObject {
public:
    // Writes at indent 0.
    void Save(TTextSaver& saver) const { Save(saver, 0); }
    // Writes the lines with `indent` spaces before each (blank lines carry no indent).
    virtual void Save(TTextSaver& saver, int indent) const = 0;

protected:
    ~TTextWriter() override = default;
};

// A line of a list: a key item (non-empty name) or a text item (empty name; the value is the whole
// line). Lists, objects and sections derive from it.
class TIniItem : public TTextWriter {
public:
    TIniItem() = default;
    TIniItem(std::string_view name, std::string_view value) : name_(name), value_(value) {}

    const TByteString& Name() const { return name_; }
    // Renaming keeps the parent's lookups and insertion point in step.
    void SetName(std::string_view name);
    const TByteString& Value() const { return value_; }
    void SetValue(std::string_view value) { value_ = value; }

    // The list that holds the item (the document for a section); nullptr when detached.
    TIniList* Parent() const { return parent_; }
    // Position in the parent's items (for a section: in the document's section list); -1 detached.
    int Index() const { return index_; }

    // False for lists: objects and sections are never found by key lookups.
    virtual bool HasName() const { return true; }
    // A key item: an item that has a name (HasName) and a non-empty one.
    bool IsKey() const { return HasName() && !name_.empty(); }
    // True when `list` lies below this item (never for a plain item).
    virtual bool IsAncestorOf(const TIniList& list) const;
    // A detached deep copy: name, value and, for lists, all items.
    virtual TRef<TIniItem> Clone() const;

    using TTextWriter::Save;
    void Save(TTextSaver& saver, int indent) const override;

    // --- Typed setters on the value ---
    void SetText(std::string_view value) { value_ = value; }
    void SetInt32(std::int32_t value);
    void SetInt64(std::int64_t value);
    void SetReal(double value);
    void SetBool(bool value);
    // Stores `text` escaped (see EscapeIniText).
    void SetEscapedText(std::string_view text);

protected:
    ~TIniItem() override = default;
    // Called after the item joined (`parent` set) or before it left a list.
    virtual void Attached() {}
    virtual void Detached() {}

private:
    friend class TIniList;
    friend class TIniFile;
    friend struct TIniHashIndex;

    // First, so that it fills the space the reference count leaves in the base object.
    int index_ = -1;
    TByteString name_;
    TByteString value_;
    TIniList* parent_ = nullptr;
    TIniItem* hashNext_ = nullptr; // next item of the same hash bucket
};

// --- Typed getters on an item's stored value; a missing item (nullptr) gives the default ---
TByteString GetText(const TIniItem* item, std::string_view fallback = {});
std::int32_t GetInt32(const TIniItem* item, std::int32_t fallback);
std::int64_t GetInt64(const TIniItem* item, std::int64_t fallback);
double GetReal(const TIniItem* item, double fallback);
bool GetBool(const TIniItem* item, bool fallback);
int GetChoice(const TIniItem* item, std::span<const std::string_view> words, bool ignoreCase, int fallback);
// Parts of a separated list (see SplitIniList); a missing part gives the default.
int GetListCount(const TIniItem* item, char separator);
TByteString GetListText(const TIniItem* item, char separator, int part, std::string_view fallback = {});
std::int32_t GetListInt32(const TIniItem* item, char separator, int part, std::int32_t fallback);
double GetListReal(const TIniItem* item, char separator, int part, double fallback);
// The value unescaped; an invalid escape makes the result empty (not the default).
TByteString GetEscapedText(const TIniItem* item, std::string_view fallback = {});

// An ordered list of items with hashed key lookups, an insertion point for new keys and the list of
// its child objects.
class TIniList : public TIniItem {
public:
    TIniList() = default;
    TIniList(std::string_view name, std::string_view value) : TIniItem(name, value) {}
    TIniList(const TIniList&) = delete;
    TIniList& operator=(const TIniList&) = delete;

    bool HasName() const override { return false; }
    bool IsAncestorOf(const TIniList& list) const override;
    TRef<TIniItem> Clone() const override;
    // An empty list of the same class.
    virtual TRef<TIniList> NewEmptyInstance() const;
    // Removes every item (and child object).
    virtual void Clear();
    // Replaces the items with copies of `source`'s items (name and value are kept).
    void Assign(const TIniList& source);
    // Replaces the items with those parsed from the text `item` saves to.
    void Assign(const TIniItem& item);

    // --- Items ---
    int Count() const { return body_ ? static_cast<int>(body_->items.size()) : 0; }
    TIniItem* Item(int index) const;
    const std::vector<TRef<TIniItem>>& Items() const;
    int KeyCount() const { return body_ ? body_->keyCount : 0; }
    // One past the index of the last key item (0 without keys): where a new key goes.
    int InsertionPoint() const { return body_ ? body_->insertionPoint : 0; }

    // Inserts at `index` (0..Count()); an item that belongs to another list (or this one) is moved.
    // Sections, documents and lists that hold this list cannot be inserted (assertion).
    void Insert(int index, TRef<TIniItem> item);
    void Append(TRef<TIniItem> item) { Insert(Count(), std::move(item)); }
    // Appends a key item / a text item at the end (as a reader does).
    TIniItem* AddKey(std::string_view name, std::string_view value);
    TIniItem* AddText(std::string_view line);
    // Detaches the item and hands its reference to the caller.
    TRef<TIniItem> Remove(int index);
    TRef<TIniItem> Remove(TIniItem& item);
    void Delete(int index) { Remove(index); }

    // --- Key lookups (case folded; the key that stands last wins). Short lists are searched
    // from their end; longer ones through hash buckets built on the first lookup. ---
    TIniItem* FindItem(std::string_view name) const;
    // Finds the key or inserts an empty one at the insertion point.
    TIniItem* FindOrCreateItem(std::string_view name);

    // --- Child objects ---
    int ObjectCount() const { return body_ ? static_cast<int>(body_->objects.size()) : 0; }
    TIniObject* Object(int index) const;
    TIniObject* FirstObject() const { return ObjectCount() > 0 ? body_->objects.front() : nullptr; }
    TIniObject* FindObject(std::string_view name) const;
    TIniObject* FindObject(std::string_view name, std::string_view className) const;
    // Inserts a new object after the last child object, or at the insertion point when there is none.
    TIniObject* AddObject(std::string_view name, std::string_view className);

    // Path: parts separated by ":". In a list each part but the last names a child object (found,
    // or created; an empty part means the first child object); the last part names an item found
    // by key (or, failing that, a child object of that name) or created as a key item; an empty last
    // part returns the list itself. The document's own Path treats its first part as a section.
    virtual TIniItem* Path(std::string_view path);

    // --- Typed access by key; a missing key gives the default ---
    TByteString GetText(std::string_view key, std::string_view fallback = {}) const;
    std::int32_t GetInt32(std::string_view key, std::int32_t fallback) const;
    std::int64_t GetInt64(std::string_view key, std::int64_t fallback) const;
    double GetReal(std::string_view key, double fallback) const;
    bool GetBool(std::string_view key, bool fallback) const;
    int GetChoice(std::string_view key, std::span<const std::string_view> words, bool ignoreCase,
                  int fallback) const;
    TByteString GetEscapedText(std::string_view key, std::string_view fallback = {}) const;
    // Setters create the key at the insertion point when it is missing.
    TIniItem* SetText(std::string_view key, std::string_view value);
    TIniItem* SetInt32(std::string_view key, std::int32_t value);
    TIniItem* SetInt64(std::string_view key, std::int64_t value);
    TIniItem* SetReal(std::string_view key, double value);
    TIniItem* SetBool(std::string_view key, bool value);
    TIniItem* SetEscapedText(std::string_view key, std::string_view text);

    // Writes the items one after another at `indent` (a list's own line, if any, is the caller's).
    void SaveItems(TTextSaver& saver, int indent) const;
    using TIniItem::Save;
    void Save(TTextSaver& saver, int indent) const override { SaveItems(saver, indent); }

    // Checks every index, object index and the hash chains; raises the assertion on a mismatch.
    void CheckConsistency() const;

protected:
    ~TIniList() override;
    // Copies this list's name, value and items into `target`.
    void CopyInto(TIniList& target) const;

private:
    friend class TIniObject;
    friend class TIniFile;
    friend class TIniParser;
    friend class TIniItem;

    void ItemRenamed(TIniItem& item, bool wasKey);
    // Counts a key item that has just joined at its index and links it into the buckets.
    void KeyJoined(TIniItem& item);
    void RecomputeInsertionPoint();
    void EnsureBuckets() const;
    void LinkObject(TIniObject& object);
    void UnlinkObject(TIniObject& object);

    // What a list holds once it has items.
    struct TBody {
        std::vector<TRef<TIniItem>> items;
        std::vector<TIniObject*> objects; // child objects in item order (not owning)
        mutable std::vector<TIniItem*> buckets;
        // Atomic: documents shared read-only between threads build their buckets on a first lookup.
        mutable std::atomic<bool> bucketsValid{false};
        int keyCount = 0;
        int insertionPoint = 0;
    };
    // The body, created when the list gets its first item.
    TBody& Body();
    // Items and child objects of `body` forget this list (it is going, or being emptied).
    static void DetachAll(const TBody& body);

    std::unique_ptr<TBody> body_;
};

// A nested object: name = object name, value = class text.
class TIniObject : public TIniList {
public:
    TIniObject() = default;
    TIniObject(std::string_view name, std::string_view className) : TIniList(name, className) {}

    const TByteString& ClassText() const { return Value(); }
    // Position in the parent's object list; -1 when detached.
    int ObjectIndex() const { return objectIndex_; }
    // The next object of the parent's object list.
    TIniObject* NextSibling() const;

    TRef<TIniList> NewEmptyInstance() const override;
    using TIniList::Save;
    // "object NAME:CLASS", the items at indent + 2, "end". A name holding ":" is followed by ":"
    // even without a class, so that it reads back whole.
    void Save(TTextSaver& saver, int indent) const override;

protected:
    ~TIniObject() override = default;
    void Attached() override;
    void Detached() override;

private:
    friend class TIniList;
    int objectIndex_ = -1;
};

// A section of a document: name = section name. It lives in the document's section list.
class TIniSection : public TIniList {
public:
    TIniSection() = default;
    explicit TIniSection(std::string_view name) : TIniList(name, {}) {}

    // Position in the document's section list; -1 when detached.
    int SectionIndex() const { return Index(); }
    TIniFile* File() const;

    TRef<TIniList> NewEmptyInstance() const override;
    using TIniList::Save;
    // "[NAME]" and the items at the same indent.
    void Save(TTextSaver& saver, int indent) const override;

protected:
    ~TIniSection() override = default;
};

// The document. Its own items are the root; sections follow in their list.
class TIniFile : public TIniSection {
public:
    // Deepest object nesting a reader builds; deeper "object" lines stay text lines of the deepest
    // object (end lines keep closing the built ones), so no text can exhaust the stack.
    static constexpr int kMaxObjectDepth = 256;

    TIniFile() = default;

    // --- Loading (each clears the document first; false leaves it empty) ---
    // Decodes and parses the bytes of a whole text file.
    bool LoadFromBytes(std::string_view bytes);
    // Parses UTF-8 text without decoding.
    void LoadFromText(std::string_view text);
    // Reads a disk file whole. False when it cannot be opened or read.
    bool LoadFromFile(const std::string& fileName);
    // A document saved into one value (see SaveToEscaped); false on an invalid escape.
    bool LoadFromEscaped(std::string_view value);

    // --- Saving (CR LF line ends, optionally a UTF-8 byte-order mark first) ---
    std::string SaveToBytes(bool byteOrderMark = false) const;
    // Raises EFileError when the file cannot be created or written.
    void SaveToFile(const std::string& fileName, bool byteOrderMark = false) const;
    // The whole document as one value: backslashes as "\\", line ends as "\n".
    std::string SaveToEscaped() const;

    using TIniList::Save;
    // Root items, then every section.
    void Save(TTextSaver& saver, int indent) const override;

    void Clear() override;
    // Replaces everything (root items and sections) with a copy of `source`.
    void Assign(const TIniFile& source);
    using TIniList::Assign;
    TRef<TIniList> NewEmptyInstance() const override;
    TRef<TIniItem> Clone() const override;

    // --- Sections (an empty name means the root, that is the document itself) ---
    int SectionCount() const { return static_cast<int>(sections_.size()); }
    TIniSection* Section(int index) const;
    TIniSection* FindSection(std::string_view name) const;
    // A created section gets one empty text item and goes to the end of the document.
    TIniSection* FindOrCreateSection(std::string_view name);
    // Removes the section and hands its reference to the caller (nullptr when missing or root).
    TRef<TIniSection> RemoveSection(std::string_view name);

    // Key item of a section (nullptr when either is missing).
    TIniItem* FindItem(std::string_view section, std::string_view key) const;
    using TIniList::FindItem;

    // At the document the first part of a path names a section (found or created, empty = root).
    TIniItem* Path(std::string_view path) override;

    // --- Document-level shortcuts (section, key, default) and setters ---
    TByteString ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
    double ReadFloat(std::string_view section, std::string_view key, double fallback) const;
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteFloat(std::string_view section, std::string_view key, double value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    void CheckConsistency() const;

protected:
    ~TIniFile() override;

private:
    friend class TIniParser;
    friend class TIniList;

    // The section of that name, created empty at the end when missing (as the reader needs it).
    TIniSection* SectionForReader(std::string_view name);
    // `hash` is FoldedHash(name).
    TIniSection* FindSection(std::string_view name, std::uint32_t hash) const;
    TIniSection* AppendSection(std::string_view name, std::uint32_t hash);
    void EnsureSectionBuckets() const;

    std::vector<TRef<TIniSection>> sections_;
    // Lookup table over the sections (see IniHash.h), built on the first lookup.
    mutable std::vector<TIniSectionSlot> sectionBuckets_;
    mutable std::atomic<bool> sectionBucketsValid_{false};
};

} // namespace kiv
