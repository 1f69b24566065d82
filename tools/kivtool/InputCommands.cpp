// kivtool action WORD: the action record the player makes of an action word, as
// KIND<TAB>NUMBER<TAB>TEXT. kivtool command-check TEXT: "prohibited" when the player would refuse
// the text of a "runapp(" action, else one line per command with its file and parameters.
#include "Commands.h"

#include "viewer/ActionInfo.h"
#include "viewer/ProgramRunner.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kivtool {

int ActionCommand(const TArgs& args) {
    if (args.size() != 1) {
        std::fputs("usage: kivtool action WORD\n", stderr);
        return 2;
    }
    const kiv::TKivActionInfo action = kiv::ParseActionWord(args[0]);
    std::printf("%d\t%d\t%s\n", static_cast<int>(action.kind), static_cast<int>(action.number),
                action.text.c_str());
    return 0;
}

int CommandCheckCommand(const TArgs& args) {
    if (args.size() != 1) {
        std::fputs("usage: kivtool command-check TEXT\n", stderr);
        return 2;
    }
    const std::vector<std::string> commands = kiv::SplitCommands(args[0]);
    for (const std::string& command : commands) {
        if (kiv::IsProhibitedCommand(command)) {
            std::puts("prohibited");
            return 0;
        }
    }
    for (const std::string& command : commands) {
        const kiv::TCommandParts parts = kiv::SplitFileAndParameters(command);
        std::printf("%s\t%s\n", parts.file.c_str(), parts.parameters.c_str());
    }
    return 0;
}

} // namespace kivtool
