#pragma once

#include <cstdlib>
#include <string>

// Sets (or, with a null value, unsets) one environment variable of the test
// process while it lives.
class scoped_env {
  public:
    scoped_env(const char *name, const char *value) : name_(name)
    {
        const char *old = getenv(name);
        had_value_ = old != nullptr;
        if (old)
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    scoped_env(const char *name, const std::string &value) : scoped_env(name, value.c_str()) {}
    ~scoped_env()
    {
        if (had_value_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    scoped_env(const scoped_env &) = delete;
    scoped_env &operator=(const scoped_env &) = delete;

  private:
    std::string name_;
    std::string old_;
    bool had_value_ = false;
};
