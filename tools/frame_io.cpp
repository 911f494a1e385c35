#include "frame_io.hpp"

#include "whole_io.hpp"

#include <cstdint>

bool write_frame(int fd, const std::string &body)
{
    uint32_t length = static_cast<uint32_t>(body.size());
    return write_fully(fd, &length, sizeof length) && write_fully(fd, body.data(), body.size());
}

bool read_frame(int fd, std::string *body)
{
    uint32_t length = 0;
    if (!read_fully(fd, &length, sizeof length, interrupted_read::is_retried))
        return false;
    body->resize(length);
    return read_fully(fd, body->data(), length, interrupted_read::is_retried);
}
