#pragma once

#include <fcntl.h>

#include <cstddef>
#include <string>

namespace Drelm {

// Largest source or theme file read. Real interfaces are a few MB in all; a
// file past this is refused rather than read until memory runs out, as a
// /proc file that reports size 0 and reads for hundreds of GiB would be.
inline constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

// What reading one file gave: its whole text, or why it holds none.
struct DFileText {
  std::string text;
  // Empty when text is the whole file; otherwise the reason, worded to follow
  // "because", e.g. "it could not be read: Input/output error".
  std::string refusal;
};

// Reads the regular file at path, relative to the open directory descriptor
// when one is given, up to kMaxFileBytes. A read error or exhausted memory
// comes back as a refusal; a pipe or a device named like a file is refused
// without waiting on it.
DFileText read_file_text(const std::string& path, int directory = AT_FDCWD);

}  // namespace Drelm
