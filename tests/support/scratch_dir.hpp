#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the value goes.
class scratch_dir {
  public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;

    const std::string &path() const
    {
        return path_;
    }
    // Makes a directory (and its parents) below this one; gives its path.
    std::string make_dir(const std::string &relative) const;
    // Writes content to a file below this one; gives its path.
    std::string write_file(const std::string &relative, const std::string &content,
                           mode_t mode = 0644) const;

  private:
    std::string path_;
};

bool path_exists(const std::string &path);
std::string read_file(const std::string &path);
// Names of the entries of a directory, sorted; empty when it cannot be read.
std::vector<std::string> list_dir(const std::string &path);
