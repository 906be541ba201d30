#include "theme_language/internal/tree_states.h"

namespace Drelm {

std::uint32_t DConditionTable::intern(std::string_view name) {
  const auto it = ids.lower_bound(name);
  if (it != ids.end() && it->first == name) return it->second;
  const auto id = static_cast<std::uint32_t>(ids.size());
  ids.emplace_hint(it, std::string(name), id);
  return id;
}

const DConditionSet& DConditionTable::set_of_other(const std::vector<std::string>& active) {
  const std::size_t other = 1 - newest;
  newest = other;
  Recent& entry = recent[other];
  if (entry.known == ids.size() && same_names(entry.names, active)) return entry.set;
  // Assigned in place, so a list of the same shape reuses the storage.
  entry.names = active;
  entry.set.low = 0;
  entry.set.high.clear();
  for (const std::string& name : active) {
    const auto it = ids.find(std::string_view(name));
    if (it == ids.end()) continue;
    const std::uint32_t id = it->second;
    if (id < 64) {
      entry.set.low |= std::uint64_t{1} << id;
      continue;
    }
    const std::size_t word = id / 64 - 1;
    if (entry.set.high.size() <= word) entry.set.high.resize(word + 1, 0);
    entry.set.high[word] |= std::uint64_t{1} << (id % 64);
  }
  entry.known = ids.size();
  return entry.set;
}

}  // namespace Drelm
