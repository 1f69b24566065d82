// The command line as the player reads it: the token list (every token in order, quotes removed,
// the program's own path first) and the store of switches. A switch is a token that begins with
// "-"; its name is the rest of the token and matches exactly (case-sensitive). Every other token
// is a value of the switch before it; values before the first switch belong to the empty name.
//
// The same parser reads the parameter text of the actions that open another show, each time into a
// fresh object. The process-wide command line is set once by the program entry, before anything
// else runs, and is read-only afterwards (any thread may read it).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kiv {

// One value of a switch.
struct TCommandItem {
    std::string value;
};

// The values of one switch, in command-line order.
struct TCommand {
    std::string name;
    std::vector<TCommandItem> items;
};

// The switches by exact name.
class TCommandsStorage {
public:
    static constexpr std::size_t kBuckets = 251;

    TCommandsStorage();

    // The switch of that name, created (empty) when missing.
    TCommand& FindOrCreate(std::string_view name);
    const TCommand* Find(std::string_view name) const;
    std::size_t Count() const { return commands_.size(); }

private:
    std::unordered_map<std::string, TCommand> commands_;
};

class TCommandLine {
public:
    // Splits `text` as the system splits a command line: characters with codes up to 32 separate
    // tokens outside double quotes; each double quote toggles the quoted state. Of each token a
    // leading and a trailing quote are cut and every other quote dropped.
    static std::vector<std::string> Tokenise(std::string_view text);
    // Cuts a leading and a trailing double quote and drops every remaining one.
    static std::string Unquote(std::string_view token);

    // Parses a whole command-line text.
    static TCommandLine FromText(std::string_view text);
    static TCommandLine Parse(std::string_view text) { return FromText(text); }
    // Parses arguments the shell has already split: each argument is one token (spaces inside it
    // stay), with the quote rule of Unquote applied.
    static TCommandLine FromArguments(int argc, const char* const* argv);
    // Parses a ready token list.
    static TCommandLine FromTokens(std::vector<std::string> tokens);

    const std::vector<std::string>& Tokens() const { return tokens_; }
    const TCommandsStorage& Commands() const { return commands_; }

    bool HasSwitch(std::string_view name) const { return commands_.Find(name) != nullptr; }
    // Value `index` of the switch; none when the switch is absent or has fewer values.
    std::optional<std::string> Value(std::string_view name, std::size_t index = 0) const;
    // Value 0 read as a signed decimal integer; none when absent or when it does not parse.
    std::optional<std::int32_t> IntValue(std::string_view name) const;
    // True when a token equals `token` exactly.
    bool HasToken(std::string_view token) const;
    // The names of the switches on the line that are not in `known`, each once, in the order they
    // first appear (so that the program can say which ones it ignores).
    std::vector<std::string> UnknownSwitches(std::span<const std::string_view> known) const;

private:
    std::vector<std::string> tokens_;
    TCommandsStorage commands_;
};

// The process's command line; empty until SetProcessCommandLine.
const TCommandLine& ProcessCommandLine();
void SetProcessCommandLine(TCommandLine commandLine);

} // namespace kiv
