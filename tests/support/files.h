#pragma once

// Files for tests: a scratch directory of their own and whole-file reads.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace support {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes. Its name is unique, so tests that
// run at the same time never share one.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix_test_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a temporary directory from " + pattern);
    }
    dir = pattern;
  }
  ~TempDir() {
    std::error_code ignored;  // what cannot be removed is left to the system
    std::filesystem::remove_all(dir, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return dir; }
  std::string string() const { return dir.string(); }

  // Writes a file at a path relative to the directory, making the folders on
  // the way; returns the file's full name.
  std::string write(const std::string& relative, const std::string& contents) const {
    const std::filesystem::path file = dir / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
    return file.string();
  }

 private:
  std::filesystem::path dir;
};

// Makes `depth` directories named `name`, each inside the one before, below
// top; returns the deepest. Each is made from the one above it: made by whole
// paths, a deep chain would cost time in the square of its depth.
inline std::filesystem::path make_chain(const std::filesystem::path& top, const std::string& name,
                                        std::size_t depth) {
  std::filesystem::create_directories(top);
  int at = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string path = top.string();
  for (std::size_t i = 0; i < depth && at >= 0; ++i) {
    ::mkdirat(at, name.c_str(), 0755);
    const int next = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(at);
    at = next;
    path += "/" + name;
  }
  if (at < 0) throw std::runtime_error("cannot make a chain of directories below " + top.string());
  ::close(at);
  return path;
}

// The whole file as it is on disk; empty when it cannot be read.
inline std::string read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace support
