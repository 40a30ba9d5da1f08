// The exception classes, the system-error helper and the assertion routine.
#include "iexcept.hpp"

#include <cstring>
#include <utility>

namespace {

std::string orEmpty(const char* text) { return text ? text : ""; }

// strerror_r comes in two shapes (XSI returns int, GNU returns the text);
// these overloads accept either, so the code builds with both.
[[maybe_unused]] const char* pickMessage(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* pickMessage(const char* result, const char*) { return result; }

// strerror itself is not thread-safe; the text is copied out of strerror_r.
std::string errorText(int errorNumber) {
  char buffer[256] = {};
  const char* text = pickMessage(strerror_r(errorNumber, buffer, sizeof buffer), buffer);
  if (!text || !*text)
    return "Unknown error " + std::to_string(errorNumber);
  return text;
}

std::string systemErrorText(const char* operation, const std::string& path, int errorNumber,
                            const std::string& reason) {
  std::string text = orEmpty(operation);
  text += " of '";
  text += path;
  text += "' failed: ";
  if (!reason.empty()) {
    text += reason;
    text += ": ";
  }
  text += errorText(errorNumber);
  text += " (errno ";
  text += std::to_string(errorNumber);
  text += ')';
  return text;
}

std::string assertionText(const std::string& expression, const IExceptionLocation& location) {
  return "assertion failed: '" + expression + "' does not hold in " + location.functionName() + ", at " +
         location.fileName() + " line " + std::to_string(location.lineNumber());
}

} // namespace

IExceptionLocation::IExceptionLocation(const char* fileName, const char* functionName,
                                       unsigned long lineNumber)
    : fFileName(orEmpty(fileName)), fFunctionName(orEmpty(functionName)), fLineNumber(lineNumber) {}

IException::IException(std::string text) : fText(std::move(text)) {}
IException::~IException() = default;
const char* IException::what() const noexcept { return fText.c_str(); }

IAssertionFailure::IAssertionFailure(const char* expression, const IExceptionLocation& location)
    : IException(assertionText(orEmpty(expression), location)), fExpression(orEmpty(expression)),
      fLocation(location) {}
IAssertionFailure::~IAssertionFailure() = default;

IInvalidParameter::~IInvalidParameter() = default;
IInvalidRequest::~IInvalidRequest() = default;

IAccessError::IAccessError(std::string text, int errorId) : IException(std::move(text)), fErrorId(errorId) {}
IAccessError::~IAccessError() = default;

IWriteError::IWriteError(const char* operation, const std::string& path, int errorId, const std::string& reason,
                         long long bytesWritten, long long bytesAsked)
    : IAccessError(systemErrorText(operation, path, errorId,
                                   std::to_string(bytesWritten) + " of " + std::to_string(bytesAsked) +
                                       " bytes reached the file" + (reason.empty() ? "" : ": " + reason)),
                   errorId),
      fBytesWritten(bytesWritten) {}
IWriteError::~IWriteError() = default;

void IThrowSystemError(const char* operation, const std::string& path, int errorNumber) {
  throw IAccessError(systemErrorText(operation, path, errorNumber, std::string()), errorNumber);
}

void IThrowSystemError(const char* operation, const std::string& path, int errorNumber,
                       const std::string& reason) {
  throw IAccessError(systemErrorText(operation, path, errorNumber, reason), errorNumber);
}

void IExcept__assertState(const char* expression, const IExceptionLocation& location) {
  throw IAssertionFailure(expression, location);
}
