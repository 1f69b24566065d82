#include "package/ResourceStream.h"

#include "base/CaseFold.h"
#include "package/FileStream.h"

#include <map>
#include <mutex>

namespace kiv {

namespace {

struct TResourceBlock {
    const void* data;
    std::size_t size;
};

struct TResourceTable {
    std::mutex lock;
    std::map<std::string, TResourceBlock> blocks;
};

TResourceTable& Table() {
    static TResourceTable table;
    return table;
}

std::string Key(std::string_view name, std::string_view type) { return FoldUtf8(type) + '\n' + FoldUtf8(name); }

} // namespace

void RegisterResource(std::string_view name, std::string_view type, const void* data, std::size_t size) {
    TResourceTable& table = Table();
    const std::lock_guard guard(table.lock);
    table.blocks[Key(name, type)] = TResourceBlock{data, size};
}

TRef<TResourceStream> TResourceStream::Create(std::string_view name, std::string_view type) {
    TResourceBlock block{};
    {
        TResourceTable& table = Table();
        const std::lock_guard guard(table.lock);
        const auto found = table.blocks.find(Key(name, type));
        if (found == table.blocks.end()) return nullptr;
        block = found->second;
    }
    if (block.size == 0 || block.data == nullptr) return nullptr;
    TRef<TResourceStream> stream = TRef<TResourceStream>::Adopt(new TResourceStream);
    if (static_cast<std::int64_t>(block.size) > kMaxSize) return nullptr;
    stream->WriteBuffer(block.data, static_cast<std::int32_t>(block.size));
    stream->SetPosition(0);
    return stream;
}

TRef<TStream> TResourceStream::OpenNamed(const std::string& name) {
    if (name.size() >= 4 && SameTextFolded(std::string_view(name).substr(0, 4), "RES:")) {
        const std::string rest = name.substr(4);
        return Create(rest.substr(0, rest.find('.')), kResourceTypeRcData);
    }
    return TFileStream::OpenRead(name);
}

} // namespace kiv
