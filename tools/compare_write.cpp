#include "compare_write.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

[[noreturn]] void fail(const std::string &path, int error) {
  throw input_error("cannot write " + path + ": " + strerror(error));
}

void write_fd(int fd, const std::string &text, const std::string &path) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      fail(path, errno);
    done += static_cast<size_t>(n);
  }
}

// The mode a new file gets from open(): 0666 less the umask.
mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A link is followed: the file it names is replaced, the link kept.
std::string resolved(const std::string &path) {
  char *real = realpath(path.c_str(), nullptr);
  if (!real)
    fail(path, errno);
  std::string out = real;
  free(real);
  return out;
}

// Writes text to fd and closes it, whatever happens; a failure names path.
void write_and_close(int fd, const std::string &text, const std::string &path) {
  try {
    write_fd(fd, text, path);
  } catch (...) {
    close(fd);
    throw;
  }
  if (close(fd) != 0)
    fail(path, errno);
}

// The temporary files not yet renamed; removed when a write fails.
class staged {
 public:
  ~staged() {
    for (const auto &p : temps_)
      unlink(p.first.c_str());
  }
  // Writes text to a temporary file beside path, with path's mode.
  void add(const std::string &path, const std::string &text, mode_t mode) {
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0)
      fail(path, errno);
    temps_.push_back({temp, path});
    if (fchmod(fd, mode) != 0) {
      int errnum = errno;
      close(fd);
      fail(path, errnum);
    }
    write_and_close(fd, text, path);
  }
  void rename_all() {
    while (!temps_.empty()) {
      const auto &[temp, path] = temps_.front();
      if (rename(temp.c_str(), path.c_str()) != 0)
        fail(path, errno);
      temps_.erase(temps_.begin());
    }
  }

 private:
  std::vector<std::pair<std::string, std::string>> temps_;  // temporary, final
};

void write_straight(const std::string &path, const std::string &text) {
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0)
    fail(path, errno);
  write_and_close(fd, text, path);
}

}  // namespace

void write_whole(const std::vector<std::pair<std::string, std::string>> &files) {
  staged temps;
  std::vector<const std::pair<std::string, std::string> *> straight;
  for (const auto &file : files) {
    struct stat st;
    bool exists = stat(file.first.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
      straight.push_back(&file);
    else if (exists)
      temps.add(resolved(file.first), file.second, st.st_mode & 07777);
    else
      temps.add(file.first, file.second, new_file_mode());
  }
  // What cannot be taken back comes after every file that can be staged.
  for (const auto *file : straight)
    write_straight(file->first, file->second);
  temps.rename_all();
}
