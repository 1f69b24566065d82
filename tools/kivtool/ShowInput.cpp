#include "ShowInput.h"

#include "base/CaseFold.h"
#include "framework/CommandLine.h"
#include "project/ShowNames.h"
#include "project/ShowOpen.h"

#include <algorithm>

namespace kivtool {

namespace {

// The player's messages break lines with "\r"; on one line of stderr they read as ": ".
std::string OneLine(std::string text) {
    for (std::size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at))
        text.replace(at, 1, ": ");
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

} // namespace

kiv::TRef<kiv::TKivShowLocator> OpenShow(const std::string& path) {
    // The player's own decision: a ".kiv" name is a project file on disk, anything else holds a
    // package (or names a bundle or a ".kvshow" twin). A package that does not open is never read
    // as project text. The password gate is left out: it asks the viewer, it does not judge the show.
    kiv::TOpenShowRequest request;
    request.name = path;
    request.asPackage = !kiv::SameTextFolded(kiv::FileExtension(path), ".kiv");
    request.checkPassword = false;
    const kiv::TOpenShowResult opened = kiv::OpenShow(request, kiv::TCommandLine());
    if (opened.ok && opened.show) return opened.show;
    // The box's words first, then the file and the cause beside them, as the player writes them.
    std::string message =
        path + ": " + (opened.message.empty() ? std::string("cannot read the show") : OneLine(opened.message));
    for (const std::string& detail : opened.details) message += "\n" + detail;
    throw kiv::Exception(message);
}

kiv::TRef<kiv::TIniFile> LoadShowProject(const std::string& path) { return OpenShow(path)->ProjectRef(); }

kiv::TRef<kiv::TFileAccessor> OpenShowFiles(const std::string& path) { return OpenShow(path)->AccessorRef(); }

kiv::TRef<kiv::TKivSource> LoadShowSource(const std::string& path, kiv::TRef<kiv::TTransitionRandom> random) {
    kiv::TRef<kiv::TKivShowLocator> show = OpenShow(path);
    kiv::TKivSourceSetup setup;
    setup.document = show->ProjectRef();
    setup.fileAccessor = show->AccessorRef();
    setup.programFileName = "kivtool";
    setup.random = std::move(random);
    return kiv::MakeRef<kiv::TKivSource>(std::move(setup));
}

} // namespace kivtool
