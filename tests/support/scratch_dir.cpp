#include "scratch_dir.hpp"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

} // namespace

scratch_dir::scratch_dir()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zuraze-test-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

scratch_dir::~scratch_dir()
{
    nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string scratch_dir::make_dir(const std::string &relative) const
{
    std::string path = path_;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        path += "/" + relative.substr(start, end - start);
        mkdir(path.c_str(), 0755);
        start = end + 1;
    }
    return path;
}

std::string scratch_dir::write_file(const std::string &relative, const std::string &content,
                                    mode_t mode) const
{
    std::string path = path_ + "/" + relative;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        throw std::runtime_error("cannot write " + path);
    close(fd);
    chmod(path.c_str(), mode);
    return path;
}

bool path_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string read_file(const std::string &path)
{
    std::string content;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return content;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<size_t>(n));
    close(fd);
    return content;
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return names;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
