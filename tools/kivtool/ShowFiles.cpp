#include "ShowFiles.h"

#include "package/KivUnpack.h"
#include "package/RealFileSource.h"

#include <filesystem>

namespace kivtool {

namespace {

namespace fs = std::filesystem;

// The entries of one package.
class TPackageSource : public kiv::TFileSource {
public:
    explicit TPackageSource(kiv::TRef<kiv::TKivUnpack> unpack) : unpack_(std::move(unpack)) {}
    kiv::TRef<kiv::TStream> Open(const std::string& name) override { return unpack_->OpenEntry(name); }

private:
    kiv::TRef<kiv::TKivUnpack> unpack_;
};

} // namespace

kiv::TRef<kiv::TFileAccessor> OpenShowFiles(const std::string& show, std::string& error) {
    std::error_code failed;
    if (!fs::is_regular_file(show, failed)) {
        error = show + ": no such show file";
        return nullptr;
    }
    const fs::path absolute = fs::absolute(show, failed);
    const std::string folder = absolute.parent_path().string() + "/";
    try {
        auto unpack = kiv::MakeRef<kiv::TKivUnpack>(show);
        if (unpack->IsOpen())
            return kiv::MakeRef<kiv::TFileAccessor>(kiv::MakeRef<TPackageSource>(unpack), folder);
        if (!unpack->ErrorText().empty()) {
            error = show + ": " + unpack->ErrorText();
            return nullptr;
        }
    } catch (const kiv::EStreamSeekError&) {
        // Too short for a package trailer: a project file.
    } catch (const std::exception& failure) {
        error = show + ": not a readable show package: " + failure.what();
        return nullptr;
    }
    return kiv::MakeRef<kiv::TFileAccessor>(kiv::MakeRef<kiv::TRealFileSource>(folder), folder);
}

} // namespace kivtool
