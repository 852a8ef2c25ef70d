// The text forms of contestant kinds.
#include "contest/ContestantKind.h"

#include <string_view>

namespace brakkenfel {

namespace {
constexpr std::string_view ProgramPrefix = "exec:";
}  // namespace

std::string ContestantKind::Text() const { return Is == Type::Program ? std::string(ProgramPrefix) + Command : Name(); }

const char* ContestantKind::Name() const {
    switch (Is) {
    case Type::Human: return "human";
    case Type::Program: return "exec";
    case Type::Keys: return "keys";
    case Type::Ai: break;
    }
    return "ai";
}

bool ContestantKind::Parse(const std::string& Text, ContestantKind& Kind, std::string& Why) {
    for (const Type Plain : {Type::Ai, Type::Human, Type::Keys}) {
        if (Text == ContestantKind{Plain, {}}.Name()) {
            Kind = {Plain, {}};
            return true;
        }
    }
    // A command of blanks alone would start a shell that does nothing and exits at once.
    if (Text.rfind(ProgramPrefix, 0) == 0 && Text.find_first_not_of(" \t", ProgramPrefix.size()) != std::string::npos) {
        Kind = {Type::Program, Text.substr(ProgramPrefix.size())};
        return true;
    }
    Why = "ai, human, keys or exec:COMMAND with a command";
    return false;
}

}  // namespace brakkenfel
