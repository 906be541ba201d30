#include "theme_language/engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "theme_language/attribute.h"
#include "theme_language/internal/load_limits.h"
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

// A directory's identity on the file system, so that a symbolic link back to
// an ancestor is recognised whatever the path it is reached by.
using DirectoryId = std::pair<std::uintmax_t, std::uintmax_t>;

std::string read_file(const fs::path& path) {
  std::ifstream stream(path, std::ios::in | std::ios::binary);
  if (!stream.is_open()) {
    std::cerr << "read_file: Could not read file: " << path.string() << '\n' << std::flush;
    return {};
  }
  // In blocks, sized once from the file where it tells its size: a
  // character at a time costs more than lexing the text.
  std::string contents;
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (!error) contents.reserve(static_cast<std::size_t>(size));
  char block[16384];
  while (stream.read(block, sizeof block), stream.gcount() > 0) {
    contents.append(block, static_cast<std::size_t>(stream.gcount()));
  }
  return contents;
}

bool is_source_file(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name.front() != '_' && path.extension() == ".drl";
}

void read_files(const fs::path& directory, std::set<DirectoryId>& descent,
                std::vector<DFile>& files) {
  if (!fs::is_directory(fs::status(directory))) {
    log("engine: " + directory.string() +
        ": Failed to read files because no directory was found at the given path.");
    return;
  }
  // Symbolic links are followed, so a link to an ancestor would recurse without
  // end: a directory already on the way down is not entered again.
  struct stat info {};
  std::optional<DirectoryId> id;
  if (::stat(directory.c_str(), &info) == 0) {
    id = DirectoryId{static_cast<std::uintmax_t>(info.st_dev),
                     static_cast<std::uintmax_t>(info.st_ino)};
    if (!descent.insert(*id).second) return;
  }
  for (const auto& entry : fs::directory_iterator(directory)) {
    const fs::path& path = entry.path();
    const fs::file_status status = fs::status(path);
    if (fs::is_directory(status)) {
      read_files(path, descent, files);
    } else if (fs::is_regular_file(status) && is_source_file(path)) {
      files.push_back(DFile{path, read_file(path)});
    }
  }
  if (id) descent.erase(*id);
}

std::vector<DFile> read_files(const fs::path& directory) {
  std::vector<DFile> files;
  std::set<DirectoryId> descent;
  read_files(directory, descent, files);
  return files;
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
  target->resolve_bases();
  for (DLayer* child : target->children()) finalize_in_load(*child, budget);
  totals.objects_made = budget.made();
  totals.bytes_copied = budget.bytes_copied();
}

DEngine::DEngine() : impl(std::make_unique<Impl>()) { impl->root = std::make_unique<DLayer>(); }

DEngine::~DEngine() { impl->root.reset(); }

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
