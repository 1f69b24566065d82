// TIniList (items, insertion point, hashed key lookups, child objects, paths) and TIniObject.
#include "ini/IniFile.h"

#include "base/Assert.h"
#include "ini/IniHash.h"
#include "ini/IniParser.h"

#include <algorithm>

namespace kiv {

namespace {

// Item arrays start small: most sections of a package directory hold three keys.
constexpr std::size_t kInitialItems = 4;
constexpr std::size_t kInitialObjects = 8;
// Lists of at most this many items are searched from their end instead of through buckets.
constexpr int kScannedItems = 16;

const std::vector<TRef<TIniItem>> kNoItems;

// Splits a path at its first ":"; `rest` is empty and `last` true when there is none.
std::string_view FirstPart(std::string_view path, std::string_view& rest, bool& last) {
    const std::size_t colon = path.find(':');
    last = colon == std::string_view::npos;
    rest = last ? std::string_view() : path.substr(colon + 1);
    return last ? path : path.substr(0, colon);
}

} // namespace

TIniList::~TIniList() {
    if (body_) DetachAll(*body_);
}

void TIniList::DetachAll(const TBody& body) {
    for (const TRef<TIniItem>& item : body.items) {
        item->parent_ = nullptr;
        item->index_ = -1;
        item->hashNext_ = nullptr;
    }
    for (TIniObject* object : body.objects)
        object->objectIndex_ = -1;
}

TIniList::TBody& TIniList::Body() {
    if (!body_) body_ = std::make_unique<TBody>();
    return *body_;
}

const std::vector<TRef<TIniItem>>& TIniList::Items() const {
    return body_ ? body_->items : kNoItems;
}

bool TIniList::IsAncestorOf(const TIniList& list) const {
    for (const TIniList* above = list.Parent(); above; above = above->Parent())
        if (above == this) return true;
    return false;
}

TRef<TIniList> TIniList::NewEmptyInstance() const {
    return MakeRef<TIniList>();
}

TRef<TIniItem> TIniList::Clone() const {
    TRef<TIniList> copy = NewEmptyInstance();
    CopyInto(*copy);
    return copy;
}

void TIniList::CopyInto(TIniList& target) const {
    target.name_ = name_;
    target.value_ = value_;
    if (Count() == 0) return;
    target.Body().items.reserve(body_->items.size());
    for (const TRef<TIniItem>& item : body_->items)
        target.Append(item->Clone());
}

void TIniList::Clear() {
    const std::unique_ptr<TBody> old = std::move(body_);
    if (!old) return;
    DetachAll(*old);
    // `old` releases the items here, after this list is consistent (and empty) again.
}

void TIniList::Assign(const TIniList& source) {
    if (&source == this) return;
    std::vector<TRef<TIniItem>> copies;
    copies.reserve(source.Items().size());
    for (const TRef<TIniItem>& item : source.Items())
        copies.push_back(item->Clone());
    Clear();
    for (TRef<TIniItem>& copy : copies)
        Append(std::move(copy));
}

void TIniList::Assign(const TIniItem& item) {
    TBytesTextSaver saver;
    item.Save(saver, 0);
    const std::string text = saver.TakeBytes();
    Clear();
    TIniParser::Parse(text, *this, nullptr);
}

TIniItem* TIniList::Item(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return body_->items[static_cast<std::size_t>(index)].Get();
}

void TIniList::Insert(int index, TRef<TIniItem> item) {
    KIV_ASSERT(item, "TIniList.Insert: no item");
    KIV_ASSERT(!dynamic_cast<TIniSection*>(item.Get()), "TIniList.Insert: a section belongs to a document");
    if (auto* list = dynamic_cast<TIniList*>(item.Get()))
        KIV_ASSERT(list != this && !list->IsAncestorOf(*this), "TIniList.Insert: a list cannot hold itself");
    if (TIniList* old = item->parent_) {
        if (old == this && item->index_ < index) --index;
        old->Remove(*item); // our own reference keeps it alive
    }
    KIV_ASSERT(index >= 0 && index <= Count(), "TIniList.Insert: index out of range");

    TIniItem* raw = item.Get();
    TBody& body = Body();
    std::vector<TRef<TIniItem>>& items = body.items;
    if (items.capacity() == items.size()) items.reserve(std::max(kInitialItems, items.size() * 2));
    items.insert(items.begin() + index, std::move(item));
    for (std::size_t i = static_cast<std::size_t>(index); i < items.size(); ++i)
        items[i]->index_ = static_cast<int>(i);
    raw->parent_ = this;

    if (index < body.insertionPoint) ++body.insertionPoint;
    if (raw->IsKey()) KeyJoined(*raw);
    raw->Attached();
}

TIniItem* TIniList::AddKey(std::string_view name, std::string_view value) {
    // A new plain item at the end (as a reader adds every line): it belongs to no list and holds
    // none, so none of the checks and moves of Insert apply.
    TBody& body = Body();
    std::vector<TRef<TIniItem>>& items = body.items;
    if (items.capacity() == items.size()) items.reserve(std::max(kInitialItems, items.size() * 2));
    items.push_back(MakeRef<TIniItem>(name, value));
    TIniItem* raw = items.back().Get();
    raw->index_ = static_cast<int>(items.size() - 1);
    raw->parent_ = this;
    if (raw->IsKey()) KeyJoined(*raw);
    return raw;
}

void TIniList::KeyJoined(TIniItem& item) {
    TBody& body = *body_;
    ++body.keyCount;
    if (item.index_ >= body.insertionPoint) body.insertionPoint = item.index_ + 1;
    if (body.bucketsValid) {
        if (static_cast<std::size_t>(body.keyCount) > body.buckets.size())
            body.bucketsValid = false; // rebuilt larger on the next lookup
        else
            TIniHashIndex::Link(body.buckets, item);
    }
}

TIniItem* TIniList::AddText(std::string_view line) {
    return AddKey({}, line);
}

TRef<TIniItem> TIniList::Remove(TIniItem& item) {
    KIV_ASSERT(item.parent_ == this && item.index_ >= 0 && item.index_ < Count() &&
                   body_->items[static_cast<std::size_t>(item.index_)].Get() == &item,
               "TIniItem.Index mismatch");
    return Remove(item.index_);
}

TRef<TIniItem> TIniList::Remove(int index) {
    KIV_ASSERT(index >= 0 && index < Count(), "TIniList.Remove: index out of range");
    TBody& body = *body_;
    std::vector<TRef<TIniItem>>& items = body.items;
    TIniItem* raw = items[static_cast<std::size_t>(index)].Get();
    KIV_ASSERT(raw->index_ == index && raw->parent_ == this, "TIniItem.Index mismatch");
    raw->Detached();
    const bool key = raw->IsKey();
    if (key && body.bucketsValid) TIniHashIndex::Unlink(body.buckets, *raw);

    TRef<TIniItem> taken = std::move(items[static_cast<std::size_t>(index)]);
    items.erase(items.begin() + index);
    for (std::size_t i = static_cast<std::size_t>(index); i < items.size(); ++i)
        items[i]->index_ = static_cast<int>(i);

    if (key) --body.keyCount;
    if (index < body.insertionPoint - 1)
        --body.insertionPoint;
    else if (index == body.insertionPoint - 1)
        RecomputeInsertionPoint();
    raw->parent_ = nullptr;
    raw->index_ = -1;
    raw->hashNext_ = nullptr;
    return taken;
}

void TIniList::RecomputeInsertionPoint() {
    if (!body_) return;
    body_->insertionPoint = 0;
    for (int i = Count() - 1; i >= 0; --i) {
        if (body_->items[static_cast<std::size_t>(i)]->IsKey()) {
            body_->insertionPoint = i + 1;
            return;
        }
    }
}

void TIniList::ItemRenamed(TIniItem& item, bool wasKey) {
    if (dynamic_cast<TIniSection*>(&item)) {
        // Sections hang in the document's section list, not among its items.
        if (auto* file = dynamic_cast<TIniFile*>(this)) file->sectionBucketsValid_ = false;
        return;
    }
    const bool isKey = item.IsKey();
    TBody& body = *body_; // the renamed item is one of ours
    if (wasKey != isKey) body.keyCount += isKey ? 1 : -1;
    RecomputeInsertionPoint();
    body.bucketsValid = false;
}

void TIniList::EnsureBuckets() const {
    const TBody& body = *body_;
    if (body.bucketsValid.load(std::memory_order_acquire)) return;
    // A document is shared read-only between threads once built; the first lookups may come from
    // several of them at once, so the lazy build is serialised.
    std::lock_guard guard(IniBucketBuildLock());
    if (body.bucketsValid.load(std::memory_order_relaxed)) return;
    TIniHashIndex::Build(body.buckets, body.items, static_cast<std::size_t>(body.keyCount),
                         [](const TIniItem& item) { return item.IsKey(); });
    body.bucketsValid.store(true, std::memory_order_release);
}

TIniItem* TIniList::FindItem(std::string_view name) const {
    if (KeyCount() == 0 || name.empty()) return nullptr;
    if (Count() <= kScannedItems) {
        // The key that stands last wins: search from the last key backwards.
        for (int i = body_->insertionPoint - 1; i >= 0; --i) {
            TIniItem* item = body_->items[static_cast<std::size_t>(i)].Get();
            if (item->IsKey() && (item->name_ == name || FoldedEqual(item->name_, name))) return item;
        }
        return nullptr;
    }
    EnsureBuckets();
    return TIniHashIndex::Find(body_->buckets, name);
}

TIniItem* TIniList::FindOrCreateItem(std::string_view name) {
    if (TIniItem* found = FindItem(name)) return found;
    KIV_ASSERT(!name.empty(), "TIniList.FindOrCreateItem: a key needs a name");
    TRef<TIniItem> item = MakeRef<TIniItem>(name, std::string_view());
    TIniItem* raw = item.Get();
    Insert(InsertionPoint(), std::move(item));
    return raw;
}

// --- Child objects ---

void TIniList::LinkObject(TIniObject& object) {
    std::vector<TIniObject*>& objects = body_->objects; // the object is one of our items already
    const auto at = std::lower_bound(objects.begin(), objects.end(), object.index_,
                                     [](const TIniObject* o, int index) { return o->index_ < index; });
    const auto position = static_cast<std::size_t>(at - objects.begin());
    if (objects.capacity() == objects.size()) objects.reserve(std::max(kInitialObjects, objects.size() * 2));
    objects.insert(objects.begin() + static_cast<std::ptrdiff_t>(position), &object);
    for (std::size_t i = position; i < objects.size(); ++i)
        objects[i]->objectIndex_ = static_cast<int>(i);
}

void TIniList::UnlinkObject(TIniObject& object) {
    const int index = object.objectIndex_;
    KIV_ASSERT(index >= 0 && index < ObjectCount() && body_->objects[static_cast<std::size_t>(index)] == &object,
               "TIniObject.ObjectIndex mismatch");
    std::vector<TIniObject*>& objects = body_->objects;
    objects.erase(objects.begin() + index);
    for (std::size_t i = static_cast<std::size_t>(index); i < objects.size(); ++i)
        objects[i]->objectIndex_ = static_cast<int>(i);
    object.objectIndex_ = -1;
}

TIniObject* TIniList::Object(int index) const {
    if (index < 0 || index >= ObjectCount()) return nullptr;
    return body_->objects[static_cast<std::size_t>(index)];
}

TIniObject* TIniList::FindObject(std::string_view name) const {
    if (!body_) return nullptr;
    for (TIniObject* object : body_->objects)
        if (FoldedEqual(object->Name(), name)) return object;
    return nullptr;
}

TIniObject* TIniList::FindObject(std::string_view name, std::string_view className) const {
    if (!body_) return nullptr;
    for (TIniObject* object : body_->objects)
        if (FoldedEqual(object->Name(), name) && FoldedEqual(object->ClassText(), className)) return object;
    return nullptr;
}

TIniObject* TIniList::AddObject(std::string_view name, std::string_view className) {
    TRef<TIniObject> object = MakeRef<TIniObject>(name, className);
    TIniObject* raw = object.Get();
    const int at = ObjectCount() == 0 ? InsertionPoint() : body_->objects.back()->Index() + 1;
    Insert(at, std::move(object));
    return raw;
}

TIniItem* TIniList::Path(std::string_view path) {
    TIniList* list = this;
    for (;;) {
        std::string_view rest;
        bool last = false;
        const std::string_view part = FirstPart(path, rest, last);
        if (last) {
            if (part.empty()) return list;
            if (TIniItem* item = list->FindItem(part)) return item;
            if (TIniObject* object = list->FindObject(part)) return object;
            return list->FindOrCreateItem(part);
        }
        TIniObject* object = part.empty() ? list->FirstObject() : list->FindObject(part);
        list = object ? object : list->AddObject(part, {});
        path = rest;
    }
}

// --- Typed access by key ---

TByteString TIniList::GetText(std::string_view key, std::string_view fallback) const {
    return kiv::GetText(FindItem(key), fallback);
}
std::int32_t TIniList::GetInt32(std::string_view key, std::int32_t fallback) const {
    return kiv::GetInt32(FindItem(key), fallback);
}
std::int64_t TIniList::GetInt64(std::string_view key, std::int64_t fallback) const {
    return kiv::GetInt64(FindItem(key), fallback);
}
double TIniList::GetReal(std::string_view key, double fallback) const {
    return kiv::GetReal(FindItem(key), fallback);
}
bool TIniList::GetBool(std::string_view key, bool fallback) const {
    return kiv::GetBool(FindItem(key), fallback);
}
int TIniList::GetChoice(std::string_view key, std::span<const std::string_view> words, bool ignoreCase,
                        int fallback) const {
    return kiv::GetChoice(FindItem(key), words, ignoreCase, fallback);
}
TByteString TIniList::GetEscapedText(std::string_view key, std::string_view fallback) const {
    return kiv::GetEscapedText(FindItem(key), fallback);
}

TIniItem* TIniList::SetText(std::string_view key, std::string_view value) {
    TIniItem* item = FindOrCreateItem(key);
    item->SetValue(value);
    return item;
}
TIniItem* TIniList::SetInt32(std::string_view key, std::int32_t value) {
    TIniItem* item = FindOrCreateItem(key);
    item->TIniItem::SetInt32(value);
    return item;
}
TIniItem* TIniList::SetInt64(std::string_view key, std::int64_t value) {
    TIniItem* item = FindOrCreateItem(key);
    item->TIniItem::SetInt64(value);
    return item;
}
TIniItem* TIniList::SetReal(std::string_view key, double value) {
    TIniItem* item = FindOrCreateItem(key);
    item->TIniItem::SetReal(value);
    return item;
}
TIniItem* TIniList::SetBool(std::string_view key, bool value) {
    TIniItem* item = FindOrCreateItem(key);
    item->TIniItem::SetBool(value);
    return item;
}
TIniItem* TIniList::SetEscapedText(std::string_view key, std::string_view text) {
    TIniItem* item = FindOrCreateItem(key);
    item->TIniItem::SetEscapedText(text);
    return item;
}

void TIniList::SaveItems(TTextSaver& saver, int indent) const {
    for (const TRef<TIniItem>& item : Items())
        item->Save(saver, indent);
}

void TIniList::CheckConsistency() const {
    int keys = 0;
    int lastKey = -1;
    std::size_t objects = 0;
    const std::vector<TRef<TIniItem>>& items = Items();
    static const std::vector<TIniObject*> kNoObjects;
    const std::vector<TIniObject*>& objectList = body_ ? body_->objects : kNoObjects;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const TIniItem& item = *items[i];
        KIV_ASSERT(item.index_ == static_cast<int>(i) && item.parent_ == this, "TIniItem.Index mismatch");
        if (item.IsKey()) {
            ++keys;
            lastKey = static_cast<int>(i);
        }
        if (auto* object = dynamic_cast<const TIniObject*>(&item)) {
            KIV_ASSERT(object->objectIndex_ == static_cast<int>(objects) && objects < objectList.size() &&
                           objectList[objects] == object,
                       "TIniObject.ObjectIndex mismatch");
            ++objects;
            object->CheckConsistency();
        }
    }
    KIV_ASSERT(objects == objectList.size(), "TIniObject.ObjectIndex mismatch");
    KIV_ASSERT(keys == KeyCount() && InsertionPoint() == lastKey + 1, "TIniList.InsertionPoint mismatch");
    if (body_ && body_->bucketsValid)
        KIV_ASSERT(body_->buckets.size() >= static_cast<std::size_t>(body_->keyCount) &&
                       TIniHashIndex::ChainsOrdered(body_->buckets),
                   "TIniList.Buckets mismatch");
}

// --- TIniObject ---

TIniObject* TIniObject::NextSibling() const {
    const TIniList* parent = Parent();
    return parent ? parent->Object(objectIndex_ + 1) : nullptr;
}

TRef<TIniList> TIniObject::NewEmptyInstance() const {
    return MakeRef<TIniObject>();
}

void TIniObject::Save(TTextSaver& saver, int indent) const {
    saver.WriteIndent(indent);
    saver.Write("object");
    if (!Name().empty() || !ClassText().empty()) {
        saver.Write(" ");
        saver.Write(Name());
    }
    // The name runs to the last ":" of the line, so a name holding ":" needs the separator even
    // when there is no class text.
    if (!ClassText().empty() || Name().find(':') != std::string::npos) {
        saver.Write(":");
        saver.Write(ClassText());
    }
    saver.WriteLineEnd();
    SaveItems(saver, indent + 2);
    saver.WriteIndent(indent);
    saver.Write("end");
    saver.WriteLineEnd();
}

void TIniObject::Attached() {
    Parent()->LinkObject(*this);
}

void TIniObject::Detached() {
    Parent()->UnlinkObject(*this);
}

} // namespace kiv
