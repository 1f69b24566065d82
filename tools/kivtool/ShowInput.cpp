#include "ShowInput.h"

#include <filesystem>

namespace kivtool {

kiv::TRef<kiv::TKivShowLocator> OpenShow(const std::string& path) {
    std::error_code failed;
    if (!std::filesystem::is_regular_file(path, failed)) throw kiv::Exception(path + ": no such show file");
    kiv::TPackagedOpen packaged = kiv::OpenPackagedShow(path);
    if (packaged.show) return packaged.show;
    if (!packaged.error.empty()) throw kiv::Exception(path + ": " + packaged.error);
    kiv::TRef<kiv::TKivShowLocator> show = kiv::OpenProjectFile(path);
    if (!show || !show->Project()) throw kiv::Exception(path + ": cannot read the show");
    return show;
}

kiv::TRef<kiv::TIniFile> LoadShowProject(const std::string& path) { return OpenShow(path)->ProjectRef(); }

kiv::TRef<kiv::TFileAccessor> OpenShowFiles(const std::string& path) { return OpenShow(path)->AccessorRef(); }

kiv::TRef<kiv::TKivSource> LoadShowSource(const std::string& path, kiv::TRef<kiv::TTransitionRandom> random) {
    kiv::TRef<kiv::TKivShowLocator> show = OpenShow(path);
    kiv::TKivSourceSetup setup;
    setup.document = show->ProjectRef();
    setup.fileAccessor = kiv::TRef<kiv::TRefObject>::Share(show->AccessorRef().Get());
    setup.programFileName = "kivtool";
    setup.random = std::move(random);
    return kiv::MakeRef<kiv::TKivSource>(std::move(setup));
}

} // namespace kivtool
