// kivtool: inspection and packing of shows. Its output formats are a contract that checks outside
// the project rely on to the letter.
#include "Commands.h"

#include "viewer/ProgramRunner.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Inspecting a show never runs what it names.
    kiv::TProgramRunner::ForbidStarts();
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kivtool %s\n", KIV_VERSION_TEXT);
        return 0;
    }
    return kivtool::Main(argc, argv);
}
