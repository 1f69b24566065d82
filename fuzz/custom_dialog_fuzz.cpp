// Custom dialogs of any content: a project built from the bytes has its help dialog and every
// custom dialog [Main] names built, laid out, run through time and pointed at.
#include "ini/IniFile.h"
#include "objects/KivDialog.h"
#include "objects/SlideProducer.h"
#include "project/KivSource.h"
#include "project/ProjectError.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kiv;
    if (size > (1u << 16)) return 0;
    TKivSourceSetup setup;
    setup.document = MakeRef<TIniFile>();
    setup.document->LoadFromBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    setup.programFileName = "kivviewer";
    setup.random = MakeRef<TTransitionRandom>(size);
    TRef<TKivSource> source;
    try {
        source = MakeRef<TKivSource>(std::move(setup));
    } catch (const EProjectError&) {
        return 0;
    }
    std::vector<std::string> names{"help", "a", "dialog"};
    if (const TIniSection* main = source->MainSection())
        for (int n = 1; n <= 8; ++n)
            names.push_back(main->GetText("custom_dialog" + std::to_string(n)));
    try {
        TSlideProducer producer(*source);
        producer.SetScreen(320 + static_cast<int>(size % 7), 240, static_cast<int>(size % 2));
        for (const std::string& name : names) {
            TRef<TKivDialog> dialog = producer.BuildDialog(name);
            if (!dialog) continue;
            for (const double t : {0.0, 100.0, 1e6})
                dialog->Advance(true, t);
            dialog->SetOpacity(50.0f);
            for (const int kind : {kMouseMove, kMousePress, kMouseRelease})
                dialog->HandleMouse(0, {160.0, 120.0}, kind, 1);
        }
    } catch (const Exception&) {
        // A show whose design size is zero cannot be laid out; the viewer reports it.
    }
    return 0;
}
