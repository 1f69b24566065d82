#include "framework/CommandLine.h"

#include "base/NumberText.h"

#include <utility>

namespace kiv {

TCommandsStorage::TCommandsStorage() {
    commands_.rehash(kBuckets);
}

TCommand& TCommandsStorage::FindOrCreate(std::string_view name) {
    auto [it, created] = commands_.try_emplace(std::string(name));
    if (created) it->second.name = it->first;
    return it->second;
}

const TCommand* TCommandsStorage::Find(std::string_view name) const {
    auto it = commands_.find(std::string(name));
    return it == commands_.end() ? nullptr : &it->second;
}

std::string TCommandLine::Unquote(std::string_view token) {
    if (!token.empty() && token.front() == '"') token.remove_prefix(1);
    if (!token.empty() && token.back() == '"') token.remove_suffix(1);
    std::string result;
    result.reserve(token.size());
    for (char c : token)
        if (c != '"') result += c;
    return result;
}

std::vector<std::string> TCommandLine::Tokenise(std::string_view text) {
    const auto separator = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && separator(text[i]))
            ++i;
        if (i >= text.size()) break;
        const std::size_t start = i;
        bool quoted = false;
        while (i < text.size() && (quoted || !separator(text[i]))) {
            if (text[i] == '"') quoted = !quoted;
            ++i;
        }
        tokens.push_back(Unquote(text.substr(start, i - start)));
    }
    return tokens;
}

TCommandLine TCommandLine::FromText(std::string_view text) {
    return FromTokens(Tokenise(text));
}

TCommandLine TCommandLine::FromArguments(int argc, const char* const* argv) {
    std::vector<std::string> tokens;
    for (int i = 0; i < argc; ++i)
        tokens.push_back(Unquote(argv[i] ? argv[i] : ""));
    return FromTokens(std::move(tokens));
}

TCommandLine TCommandLine::FromTokens(std::vector<std::string> tokens) {
    TCommandLine line;
    line.tokens_ = std::move(tokens);
    TCommand* current = &line.commands_.FindOrCreate({});
    for (const std::string& token : line.tokens_) {
        if (!token.empty() && token.front() == '-')
            current = &line.commands_.FindOrCreate(std::string_view(token).substr(1));
        else
            current->items.push_back({token});
    }
    return line;
}

std::optional<std::string> TCommandLine::Value(std::string_view name, std::size_t index) const {
    const TCommand* command = commands_.Find(name);
    if (!command || index >= command->items.size()) return std::nullopt;
    return command->items[index].value;
}

std::optional<std::int32_t> TCommandLine::IntValue(std::string_view name) const {
    const auto text = Value(name);
    if (!text) return std::nullopt;
    return ParseInt32(*text);
}

bool TCommandLine::HasToken(std::string_view token) const {
    for (const std::string& t : tokens_)
        if (t == token) return true;
    return false;
}

std::vector<std::string> TCommandLine::UnknownSwitches(std::span<const std::string_view> known) const {
    std::vector<std::string> unknown;
    for (const std::string& token : tokens_) {
        if (token.empty() || token.front() != '-') continue;
        const std::string_view name = std::string_view(token).substr(1);
        bool listed = false;
        for (const std::string_view k : known)
            listed = listed || k == name;
        for (const std::string& earlier : unknown)
            listed = listed || earlier == name;
        if (!listed) unknown.emplace_back(name);
    }
    return unknown;
}

namespace {
TCommandLine& ProcessLine() {
    static TCommandLine line;
    return line;
}
} // namespace

const TCommandLine& ProcessCommandLine() {
    return ProcessLine();
}
void SetProcessCommandLine(TCommandLine commandLine) {
    ProcessLine() = std::move(commandLine);
}

} // namespace kiv
