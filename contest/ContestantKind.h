// Who steers a gun, as the command line and match files name it: the computer, nobody, a person at the keys, or a program.
#pragma once

#include <cstdint>
#include <string>

namespace brakkenfel {

/// A gun's contestant kind, parsed once from its text form.
struct ContestantKind {
    /// The kinds there are.
    enum class Type : std::uint8_t {
        Ai,       ///< "ai": the computer gunner
        Human,    ///< "human": a seat that never acts
        Program,  ///< "exec:COMMAND": an outside program
        Keys,     ///< "keys": a person at the window's keys
    };
    Type Is = Type::Ai;
    /// The shell command of a Program; empty otherwise.
    std::string Command;

    /// The text form, which Parse reads back: "ai", "human", "keys" or "exec:COMMAND".
    std::string Text() const;
    /// The kind's name for reports: "ai", "human", "keys" or "exec".
    const char* Name() const;
    /// Reads `Text`; false with `Why` when it names no contestant.
    static bool Parse(const std::string& Text, ContestantKind& Kind, std::string& Why);
};

}  // namespace brakkenfel
