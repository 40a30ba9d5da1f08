// The exception family of the library, rooted in std::exception, and the
// assertion routine that reports broken preconditions.
//
// what() is always a complete sentence: the operation, the path and, for a
// failure of the system, its error text and number. Catch the class that
// tells what to do:
//   try { IFileIOStream s(path, ios::in, 0); ... }
//   catch (const IAccessError& e) { if (e.errorId() == ENOENT) ...; }
#pragma once

#include "kbexport.hpp"

#include <exception>
#include <string>

// Where a report was raised: source file name, function signature, line.
class KELBASE_API IExceptionLocation {
public:
  IExceptionLocation(const char* fileName, const char* functionName, unsigned long lineNumber);

  const char* fileName() const { return fFileName.c_str(); }
  const char* functionName() const { return fFunctionName.c_str(); }
  unsigned long lineNumber() const { return fLineNumber; }

private:
  std::string fFileName;
  std::string fFunctionName;
  unsigned long fLineNumber;
};

// The root of the family; carries the text that what() returns.
class KELBASE_API IException : public std::exception {
public:
  // `text` is what what() returns; it should say what failed and why.
  explicit IException(std::string text);
  ~IException() override;
  const char* what() const noexcept override;

private:
  std::string fText;
};

// A precondition of an operation did not hold; carries the expression text.
class KELBASE_API IAssertionFailure : public IException {
public:
  // The text reads "assertion failed: '<expression>' does not hold in
  // <function>, at <file> line <n>".
  IAssertionFailure(const char* expression, const IExceptionLocation& location);
  ~IAssertionFailure() override;

  const char* expression() const { return fExpression.c_str(); }
  const IExceptionLocation& location() const { return fLocation; }

private:
  std::string fExpression;
  IExceptionLocation fLocation;
};

// An argument is not acceptable (an empty path, an impossible open mode).
class KELBASE_API IInvalidParameter : public IException {
public:
  using IException::IException;
  ~IInvalidParameter() override;
};

// The object cannot do this in its present state (a file object that names nothing).
class KELBASE_API IInvalidRequest : public IException {
public:
  using IException::IException;
  ~IInvalidRequest() override;
};

// The file system refused or failed an operation; errorId() is the errno value.
class KELBASE_API IAccessError : public IException {
public:
  // `errorId` is the errno value of the failure (EBUSY for a sharing violation).
  IAccessError(std::string text, int errorId);
  ~IAccessError() override;
  int errorId() const { return fErrorId; }

private:
  int fErrorId;
};

// A write failed; bytesWritten() of its bytes reached the file before it did.
// Those are written and stay written: a caller that retries writes only the
// rest, so that no byte lands twice.
class KELBASE_API IWriteError : public IAccessError {
public:
  // The text reads "<operation> of '<path>' failed: <written> of <asked>
  // bytes reached the file: <reason>: <strerror> (errno <n>)"; an empty
  // reason is left out.
  IWriteError(const char* operation, const std::string& path, int errorId, const std::string& reason,
              long long bytesWritten, long long bytesAsked);
  ~IWriteError() override;
  long long bytesWritten() const { return fBytesWritten; }

private:
  long long fBytesWritten;
};

// Builds the IAccessError for a failed system call:
// "<operation> of '<path>' failed: <strerror> (errno <n>)".
[[noreturn]] KELBASE_API void IThrowSystemError(const char* operation, const std::string& path, int errorNumber);
// The same with the reason spelled out before the system's text:
// "<operation> of '<path>' failed: <reason>: <strerror> (errno <n>)".
[[noreturn]] KELBASE_API void IThrowSystemError(const char* operation, const std::string& path, int errorNumber,
                                                const std::string& reason);

// Reports a broken precondition by throwing IAssertionFailure; never returns.
[[noreturn]] KELBASE_API void IExcept__assertState(const char* expression, const IExceptionLocation& location);
