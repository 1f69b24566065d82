// kivtool ini FILE: reads a text in the INI format and writes it back as the player saves it.
#include "IniCommand.h"

#include "ini/IniFile.h"

#include <cstdio>

namespace kivtool {

int RunIni(const TArgs& args) {
    if (args.size() != 1) {
        std::fputs("usage: kivtool ini FILE\n", stderr);
        return 2;
    }
    const kiv::TRef<kiv::TIniFile> file = kiv::MakeRef<kiv::TIniFile>();
    if (!file->LoadFromFile(args[0])) {
        std::fprintf(stderr, "kivtool: cannot read \"%s\"\n", args[0].c_str());
        return 1;
    }
    const std::string bytes = file->SaveToBytes(false);
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0) {
        std::fputs("kivtool: cannot write the output\n", stderr);
        return 1;
    }
    return 0;
}

} // namespace kivtool
