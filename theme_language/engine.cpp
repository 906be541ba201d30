#include "theme_language/engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "theme_language/attribute.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/internal/load_limits.h"
#include "theme_language/loader.h"
#include "theme_language/logger.h"
#include "theme_language/parser.h"

namespace Drelm {

namespace fs = std::filesystem;

struct DEngine::Impl {
  std::unique_ptr<DLayer> root;

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
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
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
  // Objects in the target before lowering; unset while nothing is lowered.
  std::optional<std::size_t> objects_before;
  if (!files.empty()) {
    std::stable_sort(files.begin(), files.end(),
                     [](const DFile& a, const DFile& b) { return path_less(a.path, b.path); });
    if (!namespace_name.empty()) {
      target = root->find_layer(namespace_name);
      if (target == nullptr) target = dMake<DLayer>(root.get(), namespace_name);
    }
    DLoader loader(target);
    objects_before = measure_subtree(target).objects;
    for (const auto& file : files) {
      DLexer lexer(file.contents);
      auto tokens = lexer.build_tokens();
      // Expansions multiply: a few bytes can ask for millions of objects.
      const std::size_t lowering_budget = kMinLoweringBudget + 4 * tokens.size();
      // The tokens are not needed again: the parser takes them over.
      DParser parser(std::move(tokens));
      const DLayerNode node = parser.parse_file();
      const bool clean = lexer.errors().empty() && parser.errors().empty();
      if (clean && count_lowerings(node, lowering_budget) <= lowering_budget) {
        loader.lower(node);
        continue;
      }
      const std::string path = file.path.string();
      if (clean) {
        log("engine: " + path +
            ": Failed to load file because its declarations expand to more than " +
            std::to_string(lowering_budget) + " objects.");
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
  // Bases may copy their subtrees into one another; a bound relative to what
  // this load declared keeps a few lines from doubling the tree at every level.
  const std::size_t declared =
      objects_before ? measure_subtree(target).objects - *objects_before : 0;
  struct Budget {
    explicit Budget(std::size_t objects) { set_copy_budget(objects); }
    ~Budget() { clear_copy_budget(); }  // also when inheritance throws
  } budget(kMinCopyBudget + kCopiesPerDeclaredObject * declared);
  target->resolve_bases();
  for (DLayer* child : target->children()) child->finalize();
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
