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

// Raised by failed internal consistency checks (see Assert.h).
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// A file could not be opened, created or read.
class EFileError : public Exception {
public:
    using Exception::Exception;
};

} // namespace kiv
