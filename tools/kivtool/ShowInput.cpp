#include "ShowInput.h"

#include "package/KivUnpack.h"
#include "package/Stream.h"

namespace kivtool {

kiv::TRef<kiv::TIniFile> LoadShowProject(const std::string& path) {
    kiv::TRef<kiv::TKivUnpack> unpack;
    try {
        unpack = kiv::MakeRef<kiv::TKivUnpack>(path);
    } catch (const kiv::EStreamSeekError&) {
        // Too short to hold a package trailer: a project text.
    } catch (const kiv::Exception& error) {
        throw kiv::Exception(path + ": not a readable show package: " + error.what());
    }
    kiv::TRef<kiv::TIniFile> document = kiv::MakeRef<kiv::TIniFile>();
    if (unpack && unpack->IsOpen()) {
        kiv::TRef<kiv::TStream> entry;
        try {
            entry = unpack->OpenEntry("Project.kiv");
        } catch (const kiv::Exception& error) {
            throw kiv::Exception(path + ": Executable SlideShow Open Error (" + error.what() + ")");
        }
        if (!entry || !document->LoadFromStream(*entry))
            throw kiv::Exception(path + ": Executable SlideShow Open Error");
        return document;
    }
    if (unpack && !unpack->ErrorText().empty()) throw kiv::Exception(path + ": " + unpack->ErrorText());
    if (!document->LoadFromFile(path)) throw kiv::Exception(path + ": cannot read the show");
    return document;
}

kiv::TRef<kiv::TKivSource> LoadShowSource(const std::string& path, kiv::TRef<kiv::TTransitionRandom> random) {
    kiv::TKivSourceSetup setup;
    setup.document = LoadShowProject(path);
    setup.programFileName = "kivtool";
    setup.random = std::move(random);
    return kiv::MakeRef<kiv::TKivSource>(std::move(setup));
}

} // namespace kivtool
