// Standard texts for the run-time error numbers.
#include "platform/Errors.h"

namespace brakkenfel {

std::string ErrorText(std::int32_t number) {
    switch (number) {
    case ErrInvalidProcedure: return "Invalid procedure call or argument";
    case ErrOverflow: return "Overflow";
    case ErrOutOfMemory: return "Out of memory";
    case ErrSubscript: return "Subscript out of range";
    case ErrArrayLocked: return "This array is fixed or temporarily locked";
    case ErrDivisionByZero: return "Division by zero";
    case ErrFileNotFound: return "File not found";
    case ErrPathFileAccess: return "Path/File access error";
    case ErrInvalidPicture: return "Invalid picture";
    case ErrBadFileFormat: return "Invalid file format";
    default: return "Application-defined or object-defined error";
    }
}

RuntimeError::RuntimeError(std::int32_t number, const std::string& detail)
    : std::runtime_error(detail.empty() ? ErrorText(number) : ErrorText(number) + ": " + detail),
      ErrorNumber(number) {}

}  // namespace brakkenfel
