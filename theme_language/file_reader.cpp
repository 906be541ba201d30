#include "theme_language/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace Drelm {

namespace {

// Owns one open descriptor.
struct DDescriptor {
  int fd;
  explicit DDescriptor(int fd) : fd(fd) {}
  ~DDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  DDescriptor(const DDescriptor&) = delete;
  DDescriptor& operator=(const DDescriptor&) = delete;
};

DFileText refused(std::string reason) { return DFileText{{}, std::move(reason)}; }

DFileText unreadable(int error) {
  return refused("it could not be read: " +
                 std::error_code(error, std::system_category()).message());
}

DFileText too_large() {
  return refused("it is larger than " + std::to_string(kMaxFileBytes) + " bytes");
}

// The file is judged by what was opened, not by an earlier look at the path,
// which it may no longer match; without O_NONBLOCK, opening a FIFO would wait
// for a writer.
DFileText read_or_throw(const std::string& path, int directory) {
  const DDescriptor file(
      ::openat(directory, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.fd < 0) return unreadable(errno);
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return unreadable(errno);
  if (!S_ISREG(info.st_mode)) return refused("it is not a regular file");
  if (info.st_size > static_cast<off_t>(kMaxFileBytes)) return too_large();
  // The reported size only sizes the buffer: a /proc file reports 0 and
  // may read far more, so the bound is checked on what arrives.
  DFileText read;
  if (info.st_size > 0) read.text.reserve(static_cast<std::size_t>(info.st_size));
  char block[16384];
  while (true) {
    const ssize_t count = ::read(file.fd, block, sizeof block);
    if (count == 0) break;
    if (count > 0) {
      if (static_cast<std::size_t>(count) > kMaxFileBytes - read.text.size()) return too_large();
      read.text.append(block, static_cast<std::size_t>(count));
    } else if (errno != EINTR) {
      // Part of a file would load as if it were all of it.
      return unreadable(errno);
    }
  }
  return read;
}

}  // namespace

DFileText read_file_text(const std::string& path, int directory) {
  try {
    return read_or_throw(path, directory);
  } catch (const std::bad_alloc&) {
    return unreadable(ENOMEM);
  } catch (const std::length_error&) {
    return unreadable(ENOMEM);
  }
}

}  // namespace Drelm
