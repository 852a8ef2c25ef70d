// Run-time errors with a number and a text, raised by any layer and reported only by the entry.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace brakkenfel {

/// Error numbers the program raises; the texts below go with them.
enum ErrorNumber : std::int32_t {
    ErrOverflow = 6,          ///< "Overflow"
    ErrSubscript = 9,         ///< "Subscript out of range"
    ErrArrayLocked = 10,      ///< "This array is fixed or temporarily locked"
    ErrDivisionByZero = 11,   ///< "Division by zero"
    ErrOutOfMemory = 7,       ///< "Out of memory"
    ErrFileNotFound = 53,     ///< "File not found"
    ErrInvalidProcedure = 5,  ///< "Invalid procedure call or argument"
    ErrPathFileAccess = 75,   ///< "Path/File access error"
    ErrInvalidPicture = 481,  ///< "Invalid picture"
    ErrBadFileFormat = 321,   ///< "Invalid file format"
};

/// The standard text of an error number ("Application-defined or object-defined error" if unknown).
std::string ErrorText(std::int32_t number);

/// An error that ends the program unless a caller handles it; what() is the full text.
class RuntimeError : public std::runtime_error {
public:
    /// An error with its standard text, optionally followed by ": detail".
    explicit RuntimeError(std::int32_t number, const std::string& detail = {});
    /// The error's number (6, 9, 53, ...).
    std::int32_t Number() const noexcept { return ErrorNumber; }

private:
    std::int32_t ErrorNumber;
};

}  // namespace brakkenfel
