#include "theme_language/engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/file_reader.h"
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
  std::string path;
  std::string contents;
};

// A directory's identity on the file system, so that a directory reached by
// several paths through symbolic links is recognised whatever the path.
using DirectoryId = std::pair<std::uintmax_t, std::uintmax_t>;

DirectoryId id_of(const struct stat& info) {
  return {static_cast<std::uintmax_t>(info.st_dev), static_cast<std::uintmax_t>(info.st_ino)};
}

constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);

// A directory read by the walk, kept as its name below the directory it was
// read in: its whole path is built again only to be named in the log.
struct DReadDirectory {
  std::size_t parent;  // kNoParent for the loaded directory, named by its whole text
  std::string name;
};

// A directory being walked: the entries still to visit, the next one last.
// They are reached relative to the directory's descriptor, so that no entry
// costs a resolution of its whole path. Only the deepest level holds one: a
// level going down closes its own and opens it again coming back up, so a
// tree of any depth holds two descriptors at most.
struct DLevel {
  std::vector<std::string> names;
  std::size_t path_size;  // of the directory's own path in DWalk::path
  std::size_t directory;  // in DWalk::directories
  DirectoryId id;
  int fd;  // -1 while a deeper level is open
};

// The files and directories of one load's walk. Links are followed, so one
// directory may be reached by many paths (a diamond of n levels has 2^n) or
// from inside itself: each is read once, under the first path in walk order,
// and the repeats are told in one line however many there are.
struct DWalk {
  std::vector<DFile> files;
  // The entry being visited. It grows by a name going down and shrinks going
  // back up, so that a deep tree holds one path rather than one per level.
  std::string path;
  // An explicit stack, so that a deep tree costs no call stack.
  std::vector<DLevel> levels;
  std::vector<DReadDirectory> directories;
  std::map<DirectoryId, std::size_t> read;
  std::size_t repeats = 0;
  std::string first_repeat;
  std::size_t first_repeat_of = 0;

  DWalk() = default;
  DWalk(const DWalk&) = delete;
  DWalk& operator=(const DWalk&) = delete;
  ~DWalk() {
    for (const DLevel& level : levels) {
      if (level.fd >= 0) ::close(level.fd);
    }
  }
};

// As the file system joins them: no separator doubled after one the
// directory text already ends with.
void append_name(std::string& path, const std::string& name) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
}

std::string path_of(const DWalk& walk, std::size_t directory) {
  std::vector<const std::string*> names;
  for (; directory != kNoParent; directory = walk.directories[directory].parent) {
    names.push_back(&walk.directories[directory].name);
  }
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name) append_name(path, **name);
  return path;
}

void log_skipped(const std::string& path, const std::string& cause, int error) {
  log("engine: " + path + ": Skipped because " + cause + ": " +
      std::error_code(error, std::system_category()).message() + ".");
}

void log_not_found(const std::string& directory) {
  log("engine: " + directory +
      ": Failed to read files because no directory was found at the given path.");
}

// The extension counts from the last dot of the name, and a name whose only
// dot is its first character has none.
bool is_source_file(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return !name.empty() && name.front() != '_' && dot != std::string::npos && dot != 0 &&
         name.compare(dot, std::string::npos, ".drl") == 0;
}

int open_directory(int at, const char* path) {
  return ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

struct DCloseListing {
  void operator()(DIR* listing) const { ::closedir(listing); }
};

// The names in an open directory, in byte order, the first last. A listing
// that breaks off keeps what it gave.
std::vector<std::string> list_names(int fd, const std::string& path) {
  std::vector<std::string> names;
  const int listed = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  const std::unique_ptr<DIR, DCloseListing> listing(listed < 0 ? nullptr : ::fdopendir(listed));
  if (listing == nullptr) {
    const int error = errno;
    if (listed >= 0) ::close(listed);
    log_skipped(path, "it could not be listed", error);
    return names;
  }
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) {
      if (errno != 0) {
        log_skipped(path,
                    names.empty() ? "it could not be listed" : "the rest of it could not be listed",
                    errno);
      }
      break;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  std::sort(names.begin(), names.end(), std::greater<>());
  return names;
}

// Lists a directory not read before, reached as `relative` from the
// descriptor `at`, and goes down into it. Its entries are visited in byte
// order: depth first, that gives the files in load order, and of several
// paths to one directory it meets the first in load order first, whatever
// order the file system lists them in.
void enter_directory(const struct stat& info, int at, std::string relative, DWalk& walk) {
  const DirectoryId id = id_of(info);
  const auto [known, first] = walk.read.try_emplace(id, walk.directories.size());
  if (!first) {
    if (walk.repeats++ == 0) {
      walk.first_repeat = walk.path;
      walk.first_repeat_of = known->second;
    }
    return;
  }
  const std::size_t parent = walk.levels.empty() ? kNoParent : walk.levels.back().directory;
  walk.directories.push_back(DReadDirectory{parent, std::move(relative)});
  const int fd = open_directory(at, walk.directories.back().name.c_str());
  if (fd < 0) {
    log_skipped(walk.path, "it could not be listed", errno);
    return;
  }
  DLevel level{{}, walk.path.size(), walk.directories.size() - 1, id, fd};
  try {
    level.names = list_names(fd, walk.path);
    walk.levels.push_back(std::move(level));
  } catch (const std::bad_alloc&) {
    ::close(fd);
    log_skipped(walk.path, "it could not be listed", ENOMEM);
    return;
  }
  if (walk.levels.size() > 1) {
    DLevel& above = walk.levels[walk.levels.size() - 2];
    ::close(above.fd);
    above.fd = -1;
  }
}

// Opens the directory of the level on top again, from the one below it that
// the walk leaves: through "..", unless a link led down there, and else by
// its whole path. What cannot be opened again is not visited further.
void reopen_top(int below, DWalk& walk) {
  DLevel& level = walk.levels.back();
  if (below >= 0) {
    const int up = open_directory(below, "..");
    struct stat info {};
    if (up >= 0 && ::fstat(up, &info) == 0 && id_of(info) == level.id) {
      level.fd = up;
      return;
    }
    if (up >= 0) ::close(up);
  }
  walk.path.resize(level.path_size);
  level.fd = open_directory(AT_FDCWD, walk.path.c_str());
  if (level.fd < 0 && !level.names.empty()) {
    log_skipped(walk.path, "the rest of it could not be listed", errno);
    level.names.clear();
  }
}

void leave_directory(DWalk& walk) {
  const int fd = walk.levels.back().fd;
  walk.levels.pop_back();
  if (!walk.levels.empty() && walk.levels.back().fd < 0) reopen_top(fd, walk);
  if (fd >= 0) ::close(fd);
}

void read_source(DWalk& walk, int at, const std::string& name) {
  try {
    DFileText read = read_file_text(name, at);
    if (!read.refusal.empty()) {
      log("engine: " + walk.path + ": Skipped because " + read.refusal + ".");
      return;
    }
    walk.files.push_back(DFile{walk.path, std::move(read.text)});
  } catch (const std::bad_alloc&) {
    log_skipped(walk.path, "it could not be read", ENOMEM);
  }
}

// The entry `name` of the level on top, at walk.path, symbolic links followed.
void read_entry(std::string name, DWalk& walk) {
  // Reached relative to its directory, a path of any length would do; it is
  // held to what the system allows, as the paths in the log are.
  if (walk.path.size() >= PATH_MAX) {
    log_skipped(walk.path, "it could not be examined", ENAMETOOLONG);
    return;
  }
  const int at = walk.levels.back().fd;
  struct stat info {};
  if (::fstatat(at, name.c_str(), &info, 0) != 0) {
    const int error = errno;
    // A dangling link leads nowhere: there is nothing to load, as without it.
    if (error != ENOENT && error != ENOTDIR) {
      log_skipped(walk.path, "it could not be examined", error);
    }
    return;
  }
  if (S_ISDIR(info.st_mode)) {
    enter_directory(info, at, std::move(name), walk);
  } else if (is_source_file(name)) {
    read_source(walk, at, name);
  }
}

// The source files below directory, in load order.
std::vector<DFile> read_files(const std::string& directory) {
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
  walk.path = directory;
  enter_directory(info, AT_FDCWD, directory, walk);
  while (!walk.levels.empty()) {
    DLevel& level = walk.levels.back();
    if (level.names.empty()) {
      leave_directory(walk);
      continue;
    }
    std::string name = std::move(level.names.back());
    level.names.pop_back();
    walk.path.resize(level.path_size);
    append_name(walk.path, name);
    read_entry(std::move(name), walk);
  }
  if (walk.repeats > 0) {
    log("engine: " + directory + ": Skipped " + std::to_string(walk.repeats) +
        (walk.repeats == 1 ? " path" : " paths") + " to a directory already read, the first " +
        walk.first_repeat + " (read as " + path_of(walk, walk.first_repeat_of) + ").");
  }
  return std::move(walk.files);
}

void log_errors(const std::string& source, const std::string& path,
                const std::vector<DError>& errors) {
  for (const auto& error : errors) {
    log(source + ": " + path + ":" + std::to_string(error.line) + ": " + error.message);
  }
}

// Lexes, parses and lowers one file, unless it is broken or would expand
// beyond the budget; either is logged.
void load_file(const DFile& file, DLoader& loader, DLoadBudget& budget) {
  DLexer lexer(file.contents);
  // The tokens are not needed again: the parser takes them over.
  DParser parser(lexer.build_tokens());
  const DLayerNode node = parser.parse_file();
  const bool clean = lexer.errors().empty() && parser.errors().empty();
  // Expansions multiply: a few bytes can ask for millions of objects.
  const std::size_t work = clean ? count_lowerings(node, budget.remaining()) : 0;
  const bool objects_fit = clean && budget.admits(work);
  // And each object may hold a text of any length.
  const std::size_t text = objects_fit ? count_lowered_bytes(node, budget.remaining_bytes()) : 0;
  if (objects_fit && text <= budget.remaining_bytes()) {
    loader.lower(node);
    budget.charge(work, false);  // an upper bound: names found are not made again
    budget.charge_bytes(text);
    return;
  }
  const std::string& path = file.path;
  if (clean) {
    log("engine: " + path + ": Failed to load file because its declarations expand to more than " +
        (objects_fit ? std::to_string(budget.remaining_bytes()) + " bytes of text"
                     : std::to_string(budget.remaining()) + " objects") +
        ", out of proportion to the " + std::to_string(budget.bytes_read()) +
        " bytes of source read.");
    return;
  }
  log("engine: " + path + ": Failed to load file.");
  if (!lexer.errors().empty()) {
    log_errors("lexer", path, lexer.errors());
  } else {
    log_errors("parser", path, parser.errors());
  }
}

void log_failed_load(const DFile& file, const std::string& reason) {
  log("engine: " + file.path + ": Failed to load file because of an error" +
      (reason.empty() ? "" : ": " + reason) + ".");
}

}  // namespace

void DEngine::Impl::load_files(const fs::path& directory, const std::string& namespace_name) {
  auto files = read_files(directory.native());
  // Change callbacks may destroy any layer while the files are lowered and
  // inherit; the layers stay in memory until this returns.
  const DOperation operation(*root);
  DLayer* target = root.get();
  if (!files.empty()) {
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
      // Whatever one file throws, running out of memory above all, costs that
      // file only: the others still load.
      try {
        load_file(file, loader, budget);
      } catch (const std::bad_alloc&) {
        log_failed_load(file, std::error_code(ENOMEM, std::system_category()).message());
      } catch (const std::length_error&) {
        log_failed_load(file, std::error_code(ENOMEM, std::system_category()).message());
      } catch (const std::exception& error) {
        log_failed_load(file, error.what());
      } catch (...) {
        log_failed_load(file, "");
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
