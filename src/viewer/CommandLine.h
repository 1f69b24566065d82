// A parsed command line: the program's own, or the parameter text of a presentation action. Tokens
// are separated by characters up to the space outside double quotes; a token starting with "-"
// names a switch (matched exactly, case included) and the tokens after it are its values. The
// values before the first switch belong to the switch with the empty name (on the program's own
// command line its first value is the program path).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kiv {

class TCommandLine {
public:
    TCommandLine() = default;
    // Tokenises a whole command-line text.
    static TCommandLine Parse(std::string_view text);
    // Takes tokens that are already split (as the system hands them to main()).
    static TCommandLine FromTokens(std::vector<std::string> tokens);
    // The tokenising step alone: every token with a leading and a trailing double quote cut and
    // the other double quotes dropped.
    static std::vector<std::string> Tokenise(std::string_view text);

    const std::vector<std::string>& Tokens() const { return tokens_; }
    bool HasSwitch(std::string_view name) const;
    // Value `index` of a switch; nothing when the switch is absent or has no such value.
    std::optional<std::string> Value(std::string_view name, int index = 0) const;
    // True when a token equals `token` exactly.
    bool HasToken(std::string_view token) const;

private:
    std::vector<std::string> tokens_;
    std::unordered_map<std::string, std::vector<std::string>> switches_;
};

// The start position from "-slide" or "-time": the value minus one when it is an integer above 0,
// else 0; "-slide" wins when both are present, "-time" (valid or not) makes it a time in ms.
struct TStartPosition {
    int position = 0;
    bool isTime = false;
};
TStartPosition StartPositionOf(const TCommandLine& commandLine);

} // namespace kiv
