#pragma once

#include <exception>

// Thrown by encryptStream and decryptStream when their StreamProgress was cancelled. It is not
// a failure: callers catch it before std::exception, remove the partial output and say nothing.
class StreamCancelled : public std::exception
{
public:
    const char* what() const noexcept override { return "cancelled"; }
};
