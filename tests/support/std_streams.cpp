#include "std_streams.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

captured_output::captured_output(int fd) : fd_(fd)
{
    fflush(stdout);
    fflush(stderr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    saved_ = dup(fd_);
    dup2(fds[1], fd_);
    close(fds[1]);
    int reader = fds[0];
    reader_ = std::thread([this, reader] {
        char buffer[65536];
        ssize_t n;
        while ((n = read(reader, buffer, sizeof buffer)) > 0)
            text_.append(buffer, static_cast<size_t>(n));
        close(reader);
    });
}

captured_output::~captured_output()
{
    take();
}

std::string captured_output::take()
{
    if (saved_ < 0)
        return {};
    fflush(stdout);
    fflush(stderr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    reader_.join();
    return text_;
}

fed_input::fed_input(const std::string &input, bool close_after)
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    reader_ = fds[0];
    writer_ = fds[1];
    fcntl(writer_, F_SETPIPE_SZ, 1 << 20);
    if (write(writer_, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        throw std::runtime_error("input does not fit the pipe");
    if (close_after)
        close_writer();
    saved_ = dup(0);
    dup2(reader_, 0);
}

fed_input::~fed_input()
{
    dup2(saved_, 0);
    close(saved_);
    close(reader_);
    close_writer();
}

void fed_input::close_writer()
{
    if (writer_ >= 0)
        close(writer_);
    writer_ = -1;
}

std::string fed_input::unread()
{
    int flags = fcntl(reader_, F_GETFL);
    fcntl(reader_, F_SETFL, flags | O_NONBLOCK);
    std::string rest;
    char buffer[4096];
    ssize_t n;
    while ((n = read(reader_, buffer, sizeof buffer)) > 0)
        rest.append(buffer, static_cast<size_t>(n));
    fcntl(reader_, F_SETFL, flags);
    return rest;
}

std::string frame(const std::string &body)
{
    uint32_t length = static_cast<uint32_t>(body.size());
    return std::string(reinterpret_cast<const char *>(&length), sizeof length) + body;
}
