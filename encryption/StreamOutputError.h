#pragma once

#include <stdexcept>

// Thrown by the stream format when its output device takes fewer bytes than it was given: a
// failure of the disk or device behind it (full, over a size limit), not of the stream or the
// password. Its message is the format's "error writing output".
class StreamOutputError : public std::runtime_error
{
public:
    StreamOutputError() : std::runtime_error("error writing output") {}
};
