#pragma once

#include <string>
#include <thread>

// While it lives, what the code under test writes on descriptor fd (1 or 2)
// goes into a pipe that a thread drains; take() ends that and gives what was
// written. A pipe rather than a file, so that file size limits do not apply.
class captured_output {
  public:
    explicit captured_output(int fd);
    ~captured_output();
    captured_output(const captured_output &) = delete;
    captured_output &operator=(const captured_output &) = delete;

    std::string take();

  private:
    int fd_;
    int saved_;
    std::string text_;
    std::thread reader_;
};

// While it lives, descriptor 0 reads from a pipe that holds input and stays
// open for writing, so a reader that wants more than input blocks rather than
// seeing end of input, unless close_after is set.
class fed_input {
  public:
    explicit fed_input(const std::string &input, bool close_after = true);
    ~fed_input();
    fed_input(const fed_input &) = delete;
    fed_input &operator=(const fed_input &) = delete;

    // The write end, for tests that feed more as they go; -1 once closed.
    int writer() const
    {
        return writer_;
    }
    void close_writer();
    // What is still unread in the pipe.
    std::string unread();

  private:
    int saved_;
    int reader_;
    int writer_;
};

// The bytes of one frame: the body's length in native byte order, then the body.
std::string frame(const std::string &body);
