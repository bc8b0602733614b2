#pragma once
// The system's exception classes. Every error carries a fixed English message; nothing in the
// raster engine or the cover composition catches them (the window and the command line report them).
#include <cstdarg>
#include <stdexcept>
#include <string>

namespace quirlon {

// printf-style formatting for the fixed messages ("Cannot open file \"%s\". %s").
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

#define QUIRLON_EXCEPTION(Name, Base)                                        \
  class Name : public Base {                                                 \
  public:                                                                    \
    explicit Name(const std::string& message) : Base(message) {}             \
  }

QUIRLON_EXCEPTION(EBitmapException, Exception);
QUIRLON_EXCEPTION(ESrcInvalidException, EBitmapException);
QUIRLON_EXCEPTION(ENestedException, Exception);
QUIRLON_EXCEPTION(ETransformNotImplemented, Exception);  // "Reverse/Forward transformation is not implemented in %s."
QUIRLON_EXCEPTION(EListError, Exception);       // "List index out of bounds (%d)"
QUIRLON_EXCEPTION(EConvertError, Exception);    // text to number or colour
QUIRLON_EXCEPTION(EOutOfResources, Exception);  // "Can't allocate the DIB handle"
QUIRLON_EXCEPTION(EInvalidGraphic, Exception);  // unknown extension, bad picture data
QUIRLON_EXCEPTION(EFOpenError, Exception);      // "Cannot open file \"%s\". %s"
QUIRLON_EXCEPTION(EFCreateError, Exception);    // "Cannot create file \"%s\". %s"
QUIRLON_EXCEPTION(EReadError, Exception);       // a stream ended early
QUIRLON_EXCEPTION(EMathError, Exception);
QUIRLON_EXCEPTION(EZeroDivide, EMathError);     // "Floating point division by zero"
QUIRLON_EXCEPTION(EInvalidOp, EMathError);      // "Invalid floating point operation"
QUIRLON_EXCEPTION(EOverflow, EMathError);       // "Floating point overflow"

#undef QUIRLON_EXCEPTION

inline constexpr const char* kFloatDivByZero = "Floating point division by zero";
inline constexpr const char* kFloatInvalidOp = "Invalid floating point operation";
inline constexpr const char* kFloatOverflow = "Floating point overflow";
inline constexpr const char* kListIndexError = "List index out of bounds (%d)";
inline constexpr const char* kFOpenError = "Cannot open file \"%s\". %s";
inline constexpr const char* kFCreateError = "Cannot create file \"%s\". %s";

}  // namespace quirlon
