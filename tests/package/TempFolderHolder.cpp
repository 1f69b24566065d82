// A second player for the temporary-folder tests: makes one temporary folder under the root given
// as its argument, prints the folder's path, and keeps it (and its lock) until its standard input
// closes; then it cleans up as a player does at exit.
#include "package/TempFolders.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    kiv::TTempFolders folders(argv[1]);
    const std::string folder = folders.NewFolder(false);
    std::printf("%s\n", folder.c_str());
    std::fflush(stdout);
    char byte;
    while (::read(0, &byte, 1) > 0) {
    }
    return 0;
}
