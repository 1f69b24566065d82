#include "Commands.h"

#include "IniCommand.h"
#include "ProjectCommands.h"
#include "PackageCommands.h"

#include "video/KivVideo.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

namespace kivtool {

namespace {

struct TCommand {
    const char* name;
    const char* usage;
    std::function<int(const TArgs&)> run;
};

const std::vector<TCommand>& CommandTable() {
    static const std::vector<TCommand> commands = {
        {"action", "action WORD               KIND<TAB>NUMBER<TAB>TEXT", ActionCommand},
        {"command-check", "command-check TEXT        \"prohibited\", or one line per command: FILE<TAB>PARAMETERS", CommandCheckCommand},
        {"navigate", "navigate SHOW start N | next T [--paused] | prev T\n                            the resulting time in whole ms", NavigateCommand},
        {"props", "props SHOW SLIDE GUID TIME\n                            JSON object of the 15 property values (keys \"Opacity\", \"Pos.X\", ... \"Frame.Y\")\n                            of that object of slide number SLIDE (from 1) at show time TIME", PropsCommand},
        {"text", "text SHOW SLIDE GUID       the lines of that text object of slide number SLIDE (from 1) after its\n                            macros are filled, one per line", TextCommand},
        {"expr", "expr FORMULA [NAME=VALUE ...]", ExprCommand},
        {"ini", "ini FILE                  parse and save back to stdout (CR LF line ends, no byte-order mark)", RunIni},
        {"info", "info SHOW                 JSON {\"form\":\"own\"|\"appended\",\"base\":B,\"end\":E,\"shift\":S,"
                 "\"version\":\"...\",\"entries\":N}", RunInfo},
        {"ls", "ls SHOW                   NAME<TAB>STORED_SIZE<TAB>TYPE per directory entry, in directory order",
         RunLs},
        {"cat", "cat SHOW NAME             the entry's decoded bytes on stdout", RunCat},
        {"pack",
         "pack DIR -o OUT [--method store|deflate|scramble] [--exe FILE] [--version TEXT] [--allow-modify]\n"
         "                            every file under DIR becomes an entry named by its path relative to DIR\n"
         "                            with \"\\\" between folders (default method: store); --exe writes the\n"
         "                            appended form after a copy of FILE. A link inside DIR is packed as the\n"
         "                            file it names; a link leading out of DIR fails the pack. OUT must be a\n"
         "                            new name or a regular file",
         RunPack},
        {"timeline",
         "timeline SHOW             JSON "
         "{\"count\":n,\"period\":p,\"end_mode\":\"repeat\"|\"close\"|\"stop\",\n"
         "                            \"slides\":[{\"start\":...,\"sync\":...,\"transition\":...,"
         "\"next_transition\":...,\"end\":...,\"id\":\"...\"}, ...]}",
         RunTimeline},
        {"slide-times",
         "slide-times SHOW INDEX    JSON {\"loop\":L,\"start\":...,\"sync\":...,\"transition\":...,"
         "\"next_transition\":...,\"end\":...}",
         RunSlideTimes},
        {"find-slide", "find-slide SHOW TIME      the slide index", RunFindSlide},
        {"transitions",
         "transitions SHOW [--seed N] [--passes K]\n"
         "                            one line per slide and pass: "
         "INDEX<TAB>TIME<TAB>SMOOTHLINE<TAB>CODE<TAB>SWITCHES\n"
         "                            (SWITCHES as a string of 0 and 1; \"-\" when the slide has no "
         "transition)",
         RunTransitions},
        {"music",
         "music SHOW                the background music's composite description as the player builds it,\n"
         "                            then for each slide that has sound a line \"slide N LENGTH\" and its\n"
         "                            description; \"no music\" when the show has none",
         MusicCommand},
        {"slide",
         "slide SHOW INDEX TIME -o OUT.png [--size WxH] [--overlay]\n"
         "                            slide number INDEX (from 1) drawn alone at show time TIME (ms), headlessly,\n"
         "                            with its background and every object, into a WxH window (default 1280x720)\n"
         "                            laid out as the player lays the show into its window (bars in the hider\n"
         "                            colour included); --overlay adds the logo and the navigation bar as after a\n"
         "                            mouse move; prints \"WIDTH HEIGHT\"",
         SlideCommand},
        {"frame",
         "frame SHOW TIME -o OUT.png [--size WxH] [--no-overlay]\n"
         "                            the frame the player draws at show time TIME (ms): slides, running\n"
         "                            transition and overlay as the engine selects and draws them, rendered\n"
         "                            headlessly at WxH (default 1280x720); prints \"WIDTH HEIGHT\"",
         FrameCommand},
        {"mix",
         "mix SHOW -o OUT.wav [--from MS] [--to MS]\n"
         "                            the show's sound from FROM (default 0) to TO (default the show's end, one\n"
         "                            pass), mixed exactly as the player mixes it, 44 100 Hz, 2 channels, 16 bits",
         MixCommand},
        {"picture", "picture SHOW NAME [--level N] -o OUT.png  the picture as the player loads it (placeholder included); prints \"WIDTH HEIGHT\"", PictureCommand},
        {"video",
         "video FILE [--threads N]  the clip's size, rate, frame count and codec class, then every frame\n"
         "                            played in order through the frame extractor: frames shown, decoded, seconds",
         VideoCommand},
    };
    return commands;
}

void PrintHelp(std::FILE* out) {
    std::fputs("usage: kivtool COMMAND [ARGS...]\n\nCommands:\n", out);
    for (const TCommand& command : CommandTable()) std::fprintf(out, "  %s\n", command.usage);
    if (CommandTable().empty()) std::fputs("  (none yet)\n", out);
}

} // namespace

int Main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp(stderr);
        return 2;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp(stdout);
        return 0;
    }
    // Every command that builds slides (slide, frame, props, text) builds them with the player's
    // object classes, video objects included, registered once here as the player's slide loader
    // registers them.
    kiv::RegisterVideoObjects();
    for (const TCommand& command : CommandTable()) {
        if (name != command.name) continue;
        TArgs args(argv + 2, argv + argc);
        return command.run(args);
    }
    std::fprintf(stderr, "kivtool: unknown command '%s'\n", argv[1]);
    PrintHelp(stderr);
    return 2;
}

} // namespace kivtool
