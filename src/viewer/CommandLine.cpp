#include "viewer/CommandLine.h"

#include "base/NumberText.h"

namespace kiv {

std::vector<std::string> TCommandLine::Tokenise(std::string_view text) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) <= ' ') {
            ++i;
            continue;
        }
        const std::size_t begin = i;
        bool quoted = false;
        while (i < text.size() && (quoted || static_cast<unsigned char>(text[i]) >= 33)) {
            if (text[i] == '"') quoted = !quoted;
            ++i;
        }
        std::string_view token = text.substr(begin, i - begin);
        if (!token.empty() && token.front() == '"') token.remove_prefix(1);
        if (!token.empty() && token.back() == '"') token.remove_suffix(1);
        std::string clean;
        for (char c : token)
            if (c != '"') clean += c;
        tokens.push_back(std::move(clean));
    }
    return tokens;
}

TCommandLine TCommandLine::Parse(std::string_view text) {
    return FromTokens(Tokenise(text));
}

TCommandLine TCommandLine::FromTokens(std::vector<std::string> tokens) {
    TCommandLine line;
    line.tokens_ = std::move(tokens);
    std::string current;
    line.switches_[current];
    for (const std::string& token : line.tokens_) {
        if (!token.empty() && token.front() == '-') {
            current = token.substr(1);
            line.switches_[current];
        } else {
            line.switches_[current].push_back(token);
        }
    }
    return line;
}

bool TCommandLine::HasSwitch(std::string_view name) const {
    return switches_.count(std::string(name)) != 0;
}

std::optional<std::string> TCommandLine::Value(std::string_view name, int index) const {
    const auto it = switches_.find(std::string(name));
    if (it == switches_.end() || index < 0 || index >= static_cast<int>(it->second.size()))
        return std::nullopt;
    return it->second[static_cast<std::size_t>(index)];
}

bool TCommandLine::HasToken(std::string_view token) const {
    for (const std::string& candidate : tokens_)
        if (candidate == token) return true;
    return false;
}

TStartPosition StartPositionOf(const TCommandLine& commandLine) {
    TStartPosition start;
    const char* name = commandLine.HasSwitch("slide")  ? "slide"
                       : commandLine.HasSwitch("time") ? "time"
                                                       : nullptr;
    if (!name) return start;
    start.isTime = std::string_view(name) == "time";
    if (const auto value = commandLine.Value(name)) {
        const auto number = ParseInt32(*value);
        if (number && *number > 0) start.position = *number - 1;
    }
    return start;
}

} // namespace kiv
