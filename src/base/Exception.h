// Exceptions of the player. Failures that callers can recover from (opening a file, decoding a
// picture) raise an Exception-derived class; callers that can carry on catch and continue.
// Later subsystems add their own E-classes beside their code.
#pragma once

#include <exception>
#include <string>

namespace kiv {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// Raised by failed internal consistency checks (see Assert.h). It derives from neither Exception
// nor std::exception on purpose: handlers that log bad input and carry on catch those, and a broken
// invariant must not pass for bad input. A `catch (...)` that does not rethrow lets this one go
// first; the loops of the threads catch it at their top (see Assert.h).
class EAssertionFailed {
public:
    explicit EAssertionFailed(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// A file could not be opened, created or read.
class EFileError : public Exception {
public:
    using Exception::Exception;
};

} // namespace kiv
