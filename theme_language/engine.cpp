#include "theme_language/engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/internal/load_limits.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/loader.h"
#include "theme_language/logger.h"
#include "theme_language/parser.h"

namespace Drelm {

namespace fs = std::filesystem;

struct DEngine::Impl {
  std::unique_ptr<DLayer> root;
  // Over all loads, so that widgets loaded earlier count for what copies them.
  DLoadTotals totals;

  void load_files(const fs::path& directory, const std::string& namespace_name);
};

namespace {

struct DFile {
  fs::path path;
  std::string contents;
};

// A directory's identity on the file system, so that a directory reached by
// several paths through symbolic links is recognised whatever the path.
using DirectoryId = std::pair<std::uintmax_t, std::uintmax_t>;

// The files and directories of one load's walk. Links are followed, so one
// directory may be reached by many paths (a diamond of n levels has 2^n) or
// from inside itself: each is read once, under the first path in walk order,
// and the repeats are told in one line however many there are.
struct DWalk {
  std::vector<DFile> files;
  // Where each directory was read, to name it beside the first repeat.
  std::map<DirectoryId, fs::path> read;
  // Entries still to visit, the next one last: an explicit stack, so that a
  // deep tree costs no call stack.
  std::vector<fs::path> pending;
  std::size_t repeats = 0;
  fs::path first_repeat;
  fs::path first_repeat_of;
};

void log_skipped(const fs::path& path, const std::string& cause, int error) {
  log("engine: " + path.string() + ": Skipped because " + cause + ": " +
      std::error_code(error, std::system_category()).message() + ".");
}

void log_not_found(const fs::path& directory) {
  log("engine: " + directory.string() +
      ": Failed to read files because no directory was found at the given path.");
}

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

std::string could_not_read(const fs::path& path) {
  std::cerr << "read_file: Could not read file: " << path.string() << '\n' << std::flush;
  return {};
}

// Nothing when the path does not lead to a regular file. The file is judged
// by what was opened, not by an earlier look at the path, which it may no
// longer match; without O_NONBLOCK, opening a FIFO would wait for a writer.
std::optional<std::string> read_file(const fs::path& path) {
  const DDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.fd < 0) return could_not_read(path);
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return could_not_read(path);
  if (!S_ISREG(info.st_mode)) {
    log("engine: " + path.string() + ": Skipped because it is not a regular file.");
    return std::nullopt;
  }
  // In blocks, sized once from the file where it tells its size: a character
  // at a time costs more than lexing the text.
  std::string contents;
  if (info.st_size > 0) contents.reserve(static_cast<std::size_t>(info.st_size));
  char block[16384];
  while (true) {
    const ssize_t count = ::read(file.fd, block, sizeof block);
    if (count == 0) break;
    if (count > 0) {
      contents.append(block, static_cast<std::size_t>(count));
    } else if (errno != EINTR) {
      // Part of a file would load as if it were all of it.
      return could_not_read(path);
    }
  }
  return contents;
}

bool is_source_file(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name.front() != '_' && path.extension() == ".drl";
}

// Lists a directory not read before and schedules its entries in byte order,
// so that of several paths to one directory the walk meets the first in load
// order first, whatever order the file system lists them in.
void list_directory(const fs::path& directory, const struct stat& info, DWalk& walk) {
  const DirectoryId id{static_cast<std::uintmax_t>(info.st_dev),
                       static_cast<std::uintmax_t>(info.st_ino)};
  const auto [known, first] = walk.read.try_emplace(id, directory);
  if (!first) {
    if (walk.repeats++ == 0) {
      walk.first_repeat = directory;
      walk.first_repeat_of = known->second;
    }
    return;
  }
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator entry(directory, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    names.push_back(entry->path().filename().native());
  }
  if (error) {
    log_skipped(directory,
                names.empty() ? "it could not be listed" : "the rest of it could not be listed",
                error.value());
  }
  std::sort(names.begin(), names.end(), std::greater<>());
  for (const auto& name : names) walk.pending.push_back(directory / name);
}

// One entry below the load's directory, symbolic links followed.
void read_entry(const fs::path& path, DWalk& walk) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    // A dangling link leads nowhere: there is nothing to load, as without it.
    if (error != ENOENT && error != ENOTDIR) log_skipped(path, "it could not be examined", error);
    return;
  }
  if (S_ISDIR(info.st_mode)) {
    list_directory(path, info, walk);
  } else if (is_source_file(path)) {
    if (auto contents = read_file(path)) walk.files.push_back(DFile{path, std::move(*contents)});
  }
}

std::vector<DFile> read_files(const fs::path& directory) {
  struct stat info {};
  if (::stat(directory.c_str(), &info) != 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
      log_not_found(directory);
    } else {
      log_skipped(directory, "it could not be examined", error);
    }
    return {};
  }
  if (!S_ISDIR(info.st_mode)) {
    log_not_found(directory);
    return {};
  }
  DWalk walk;
  list_directory(directory, info, walk);
  while (!walk.pending.empty()) {
    const fs::path path = std::move(walk.pending.back());
    walk.pending.pop_back();
    read_entry(path, walk);
  }
  if (walk.repeats > 0) {
    log("engine: " + directory.string() + ": Skipped " + std::to_string(walk.repeats) +
        (walk.repeats == 1 ? " path" : " paths") + " to a directory already read, the first " +
        walk.first_repeat.string() + " (read as " + walk.first_repeat_of.string() + ").");
  }
  return std::move(walk.files);
}

// Component by component, each compared by its bytes; a prefix comes first.
bool path_less(const fs::path& a, const fs::path& b) {
  const std::string_view left = a.native();
  const std::string_view right = b.native();
  std::size_t i = 0;
  std::size_t j = 0;
  while (true) {
    const bool left_done = i > left.size();
    const bool right_done = j > right.size();
    if (left_done || right_done) return left_done && !right_done;
    const std::size_t left_end = std::min(left.find('/', i), left.size());
    const std::size_t right_end = std::min(right.find('/', j), right.size());
    const int order = left.substr(i, left_end - i).compare(right.substr(j, right_end - j));
    if (order != 0) return order < 0;
    i = left_end + 1;
    j = right_end + 1;
  }
}

void log_errors(const std::string& source, const std::string& path,
                const std::vector<DError>& errors) {
  for (const auto& error : errors) {
    log(source + ": " + path + ":" + std::to_string(error.line) + ": " + error.message);
  }
}

}  // namespace

void DEngine::Impl::load_files(const fs::path& directory, const std::string& namespace_name) {
  auto files = read_files(directory);
  // Change callbacks may destroy any layer while the files are lowered and
  // inherit; the layers stay in memory until this returns.
  const DOperation operation(*root);
  DLayer* target = root.get();
  if (!files.empty()) {
    std::stable_sort(files.begin(), files.end(),
                     [](const DFile& a, const DFile& b) { return path_less(a.path, b.path); });
    if (!namespace_name.empty()) {
      target = root->find_layer(namespace_name);
      if (target == nullptr) target = dMake<DLayer>(root.get(), namespace_name);
    }
  }
  for (const auto& file : files) totals.bytes_read += file.contents.size();
  DLoadBudget budget(totals, *target);
  if (!files.empty()) {
    DLoader loader(target);
    for (const auto& file : files) {
      DLexer lexer(file.contents);
      // The tokens are not needed again: the parser takes them over.
      DParser parser(lexer.build_tokens());
      const DLayerNode node = parser.parse_file();
      const bool clean = lexer.errors().empty() && parser.errors().empty();
      // Expansions multiply: a few bytes can ask for millions of objects.
      const std::size_t work = clean ? count_lowerings(node, budget.remaining()) : 0;
      const bool objects_fit = clean && budget.admits(work);
      // And each object may hold a text of any length.
      const std::size_t text =
          objects_fit ? count_lowered_bytes(node, budget.remaining_bytes()) : 0;
      if (objects_fit && text <= budget.remaining_bytes()) {
        loader.lower(node);
        budget.charge(work, false);  // an upper bound: names found are not made again
        budget.charge_bytes(text);
        continue;
      }
      const std::string path = file.path.string();
      if (clean) {
        log("engine: " + path +
            ": Failed to load file because its declarations expand to more than " +
            (objects_fit ? std::to_string(budget.remaining_bytes()) + " bytes of text"
                         : std::to_string(budget.remaining()) + " objects") +
            ", out of proportion to the " + std::to_string(budget.bytes_read()) +
            " bytes of source read.");
        continue;
      }
      log("engine: " + path + ": Failed to load file.");
      if (!lexer.errors().empty()) {
        log_errors("lexer", path, lexer.errors());
      } else {
        log_errors("parser", path, parser.errors());
      }
    }
  }
  if (!dead(*target)) target->resolve_bases();
  for (DLayer* child : target->children()) {
    if (dead(*target)) break;
    if (!dead(*child)) finalize_in_load(*child, budget);
  }
  totals.objects_made = budget.made();
  totals.bytes_copied = budget.bytes_copied();
}

DEngine::DEngine() : impl(std::make_unique<Impl>()) { impl->root = std::make_unique<DLayer>(); }

// The destroy callbacks run while the engine still answers for its tree.
DEngine::~DEngine() {
  DObjectAccess::destroy_unretired(*impl->root);
  impl->root.reset();
}

void DEngine::load_files(const std::string& directory, const std::string& namespace_name) {
  impl->load_files(fs::path(directory), namespace_name);
}

DLayer* DEngine::root() const { return impl->root.get(); }

DLayer* DEngine::find_layer(const std::string& path) const { return impl->root->find_layer(path); }

DLayer* DEngine::find_layer(std::deque<std::string> names) const {
  return impl->root->find_layer(std::move(names));
}

void DEngine::resolve_links() { impl->root->resolve_links(); }

std::vector<DUnresolvedLink> DEngine::unresolved_links() const {
  std::vector<DAttribute*> attributes;
  impl->root->find_children_helper<DAttribute>(impl->root.get(), attributes, true);
  std::vector<DUnresolvedLink> unresolved;
  for (DAttribute* attribute : attributes) {
    const DLink* link = attribute->link();
    if (link == nullptr || link->path.empty() || link->target != nullptr) continue;
    unresolved.push_back(DUnresolvedLink{attribute->path(), link->path, link->cyclic});
  }
  return unresolved;
}

}  // namespace Drelm
