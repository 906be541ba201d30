#include "app_model/style.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>

#include "app_model/internal/style_internal.h"
#include "app_model/internal/style_memo.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"
#include "theme_language/lookup.h"
#include "theme_language/object.h"

namespace Ombrix {

namespace {

using States = std::vector<std::string>;
using Drelm::DNameKey;
using Drelm::name_key;

// Style names are constants: their hashes are worked out while compiling.
Drelm::DAttribute* find(Drelm::DLayer* layer, const DNameKey& name) {
  return Drelm::find_attribute(*layer, name);
}

// Absent, of another kind or without a value for these states: 0.
double number_of(Drelm::DAttribute* attribute, const States& states) {
  if (!attribute) return 0;
  const double* value = attribute->as_if<double>(states);
  return value ? *value : 0;
}

void text_of(Drelm::DAttribute* attribute, const States& states, std::string& field) {
  if (!attribute) return;
  if (const std::string* value = attribute->as_if<std::string>(states)) field = *value;
}

void text(Drelm::DLayer* layer, const DNameKey& name, const States& states, std::string& field) {
  text_of(find(layer, name), states, field);
}

bool has_mobile(const States& states) {
  return std::find(states.begin(), states.end(), "Mobile") != states.end();
}

// Grows a positive field, unless the theme gives its attribute a value of its
// own while "Mobile" is active.
void scale(double& field, Drelm::DAttribute* attribute, const States& states, const States& plain,
           double factor) {
  if (!(field > 0)) return;
  if (!attribute || number_of(attribute, states) == number_of(attribute, plain)) field *= factor;
}

}  // namespace

Drelm::DLayer* child_layer(Drelm::DLayer* layer, std::string_view name) {
  return layer ? Drelm::find_child_layer(*layer, name) : nullptr;
}

std::string stop_pos(double position) {
  // Wide enough for the largest double in fixed notation.
  char buffer[512];
  const int length = std::snprintf(buffer, sizeof buffer, "%f", position);
  if (length < 0) return "0";
  std::string result(buffer,
                     std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
  if (result.find('.') == std::string::npos) return result;
  result.erase(result.find_last_not_of('0') + 1);
  if (!result.empty() && result.back() == '.') result.pop_back();
  return result;
}

std::string get_string(Drelm::DLayer* layer, const char* name, const States& states) {
  std::string result;
  if (layer && name) {
    text(layer, DNameKey{name, Drelm::hash_name(name)}, states, result);
  }
  return result;
}

namespace {

// What an attribute answers with for the active states; null when the layer
// lacks the attribute.
using Value = const Drelm::DValue*;

const double* number_in(Value value) { return value ? std::get_if<double>(value) : nullptr; }
const std::string* text_in(Value value) {
  return value ? std::get_if<std::string>(value) : nullptr;
}
// Absent, of another kind or without a value for these states: 0.
double number_or_zero(Value value) {
  const double* number = number_in(value);
  return number ? *number : 0;
}

// A fill from its values in the order of kFillNames: a gradient when both
// colours are given, else the plain fill; left as it is when neither is.
void fill_from(const Value* values, std::string& fill, bool& is_gradient) {
  const std::string* start_text = text_in(values[0]);
  const std::string* end_text = text_in(values[1]);
  if (start_text && end_text) {
    const std::string start = stop_pos(number_or_zero(values[2]));
    const std::string end = stop_pos(number_or_zero(values[3]));
    std::string gradient;
    gradient.reserve(start.size() + start_text->size() + end.size() + end_text->size() + 3);
    gradient.append(start).append(1, ':').append(*start_text);
    gradient.append(1, ',').append(end).append(1, ':').append(*end_text);
    fill = std::move(gradient);
    is_gradient = true;
    return;
  }
  if (const std::string* plain = text_in(values[4])) {
    fill = *plain;
    is_gradient = false;
  }
}

// name_key for names that are constants without being literals.
constexpr DNameKey key_of(std::string_view name) { return {name, Drelm::hash_name(name)}; }

constexpr std::array<DNameKey, kFillAttributes.size()> kFillNames = [] {
  std::array<DNameKey, kFillAttributes.size()> keys{};
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = key_of(kFillAttributes[i]);
  return keys;
}();

// Where a slot's value lands in the style: the member of the slot's type, and
// the default that a fresh style holds there.
struct StyleSlot {
  DNameKey key;
  StyleRule rule;
  double ResolvedStyle::*number = nullptr;
  bool ResolvedStyle::*flag = nullptr;
  std::string ResolvedStyle::*text = nullptr;
  bool flag_default = false;
  double number_default = 0;
};

template <std::size_t I>
consteval StyleSlot slot_of() {
  constexpr auto& field = std::get<I>(kStyleFields);
  constexpr auto member = std::remove_cvref_t<decltype(field)>::member;
  using Member = std::remove_cvref_t<decltype(ResolvedStyle{}.*member)>;
  StyleSlot slot{key_of(field.attribute), field.rule};
  if constexpr (std::is_same_v<Member, double>) {
    slot.number = member;
    slot.number_default = field.default_value;
  } else if constexpr (std::is_same_v<Member, bool>) {
    slot.flag = member;
    slot.flag_default = field.default_value != 0;
  } else {
    static_assert(std::is_same_v<Member, std::string>);
    slot.text = member;
  }
  return slot;
}

// The slots of the fill's attributes, then one per row of the table whose
// rule passes `keep`, in table order.
template <std::size_t Count, typename Keep>
consteval std::array<StyleSlot, Count> slots_with_fill(StyleRule fill_rule, Keep keep) {
  std::array<StyleSlot, Count> slots{};
  std::size_t next = 0;
  for (const DNameKey& key : kFillNames) slots[next++] = StyleSlot{key, fill_rule};
  for_each_style_field([&](auto i) {
    if constexpr (keep(std::get<i>(kStyleFields).rule)) slots[next++] = slot_of<i>();
  });
  return slots;
}

constexpr bool on_border(StyleRule rule) { return rule == StyleRule::border_number; }

// Every name resolve_style_into reads from a layer, those of the fill first:
// all are looked up in one pass over the layer's index.
constexpr auto kStyleSlots = slots_with_fill<kBorderSlot>(
    StyleRule::fill, [](StyleRule rule) { return has_own_slot(rule); });
// And from its "Border" child.
constexpr auto kBorderSlots = slots_with_fill<kStyleSlotCount - kBorderSlot>(
    StyleRule::border_fill, [](StyleRule rule) { return on_border(rule); });

template <std::size_t Count>
constexpr std::array<DNameKey, Count> keys_of(const std::array<StyleSlot, Count>& slots) {
  std::array<DNameKey, Count> keys{};
  for (std::size_t i = 0; i < Count; ++i) keys[i] = slots[i].key;
  return keys;
}

// Constant tables of the look-up: each is known by its address.
constexpr auto kStyleNames = keys_of(kStyleSlots);
constexpr auto kBorderNames = keys_of(kBorderSlots);

// The field the source is copied into.
constexpr std::string ResolvedStyle::*kSourceCopy = [] {
  std::string ResolvedStyle::*copy = nullptr;
  for_each_style_field([&copy](auto i) {
    constexpr auto& field = std::get<i>(kStyleFields);
    if constexpr (field.rule == StyleRule::source_copy) {
      copy = std::remove_cvref_t<decltype(field)>::member;
    }
  });
  return copy;
}();

// What the rules below take for granted of the table.
static_assert(count_style_fields([](StyleRule rule) { return rule == StyleRule::source; }) == 1 &&
                  count_style_fields([](StyleRule rule) {
                    return rule == StyleRule::source_copy;
                  }) == 1,
              "one field holds the source and one its copy");
static_assert(kStyleSlotCount < 256, "a kept style writes a slot as one byte");
constexpr bool check_table() {
  bool ok = true;
  for_each_style_field([&ok](auto i) {
    constexpr auto& field = std::get<i>(kStyleFields);
    using Member = std::remove_cvref_t<decltype(ResolvedStyle{}.*
                                                std::remove_cvref_t<decltype(field)>::member)>;
    // Scaling compares the numbers of the field's attribute.
    if (field.scale != StyleScale::unscaled) {
      ok = ok && std::is_same_v<Member, double> &&
           (field.rule == StyleRule::number || field.rule == StyleRule::border_number);
    }
    // A border field is written as a number of the border's record.
    if (on_border(field.rule)) ok = ok && std::is_same_v<Member, double>;
    // A text starts empty.
    if (std::is_same_v<Member, std::string>) ok = ok && field.default_value == 0;
  });
  // One row per field: a name met twice would be written twice.
  std::array<std::string_view, std::tuple_size_v<decltype(kStyleFields)>> names{};
  std::apply([&names](const auto&... field) { names = {field.name...}; }, kStyleFields);
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t j = i + 1; j < names.size(); ++j) ok = ok && names[i] != names[j];
  }
  return ok;
}
static_assert(check_table(), "a row of kStyleFields breaks a rule's assumption");

// The values of a node: the layer's in the order of kStyleSlots, then the
// border's in the order of kBorderSlots.
constexpr StyleSlotBits kFillSlotBits = [] {
  StyleSlotBits bits;
  for (std::size_t slot = 0; slot < kFillNames.size(); ++slot) bits.set(slot);
  return bits;
}();
constexpr StyleSlotBits kBorderSlotBits = [] {
  StyleSlotBits bits;
  for (std::size_t slot = kBorderSlot; slot < kStyleSlotCount; ++slot) bits.set(slot);
  return bits;
}();
// Both: the slots re-read as a whole fill, not one by one.
constexpr StyleSlotBits kFillAndBorderSlotBits = [] {
  StyleSlotBits bits = kBorderSlotBits;
  for (std::size_t slot = 0; slot < kFillNames.size(); ++slot) bits.set(slot);
  return bits;
}();

void apply_slot(ResolvedStyle& s, const StyleSlot& slot, Value value) {
  switch (slot.rule) {
    case StyleRule::number:
    case StyleRule::border_number:
      s.*slot.number = number_or_zero(value);
      break;
    case StyleRule::number_if_present:
      if (value) s.*slot.number = number_or_zero(value);
      break;
    case StyleRule::flag:
      if (const double* number = number_in(value)) s.*slot.flag = *number != 0;
      break;
    case StyleRule::text:
      if (const std::string* found = text_in(value)) s.*slot.text = *found;
      break;
    case StyleRule::source:
      if (const std::string* found = text_in(value)) s.*slot.text = *found;
      s.*kSourceCopy = s.*slot.text;
      break;
    case StyleRule::fill:
    case StyleRule::border_fill:
    case StyleRule::source_copy:
    case StyleRule::unread:
      break;
  }
}

// The field of a slot back to what a fresh style holds, before it is applied
// again; numbers are always written.
void reset_slot(ResolvedStyle& s, const StyleSlot& slot) {
  switch (slot.rule) {
    case StyleRule::flag:
      s.*slot.flag = slot.flag_default;
      break;
    case StyleRule::text:
    case StyleRule::source:
      (s.*slot.text).clear();
      break;
    default:
      break;
  }
}

void apply_border(ResolvedStyle& s, const Value* values) {
  fill_from(values, s.borderFill, s.borderIsGradient);
  for (std::size_t slot = kFillNames.size(); slot < kBorderSlots.size(); ++slot) {
    apply_slot(s, kBorderSlots[slot], values[slot]);
  }
}

// Looks up the names of a node's style and asks `answer` for the value of
// each attribute found, by slot; null where absent.
template <typename Answer>
void values_of(Drelm::DLayer* layer, Drelm::DLayer* border, Value* values, const Answer& answer) {
  std::array<Drelm::DAttribute*, kStyleSlotCount> found{};
  Drelm::find_attributes(*layer, {kStyleNames.data(), kStyleNames.size()}, found.data());
  if (border) {
    Drelm::find_attributes(*border, {kBorderNames.data(), kBorderNames.size()},
                           found.data() + kBorderSlot);
  }
  for (std::size_t slot = 0; slot < kStyleSlotCount; ++slot) {
    values[slot] = found[slot] ? answer(slot, *found[slot]) : nullptr;
  }
}

void apply_values(ResolvedStyle& s, const Value* values, bool has_border) {
  fill_from(values, s.fill, s.fillIsGradient);
  if (has_border) apply_border(s, values + kBorderSlot);
  for (std::size_t slot = kFillNames.size(); slot < kStyleSlots.size(); ++slot) {
    apply_slot(s, kStyleSlots[slot], values[slot]);
  }
}

// A kept style is written as the fields that differ from a fresh style's, each
// after the code of its slot: most fields of a node keep their defaults, and a
// short record is read faster than a whole style is copied.
constexpr std::uint8_t kFillCode = 0;
constexpr std::uint8_t kBorderCode = kBorderSlot;

class Writer {
 public:
  explicit Writer(std::string& out) : out(out) {}
  void code(std::size_t code) { out.push_back(static_cast<char>(code)); }
  void flag(bool value) { out.push_back(value ? 1 : 0); }
  void number(double value) { bytes(&value, sizeof value); }
  void count(std::size_t value) {
    const auto size = static_cast<std::uint32_t>(value);
    bytes(&size, sizeof size);
  }
  void text(const std::string& value) {
    count(value.size());
    out.append(value);
  }

 private:
  void bytes(const void* data, std::size_t size) {
    out.append(static_cast<const char*>(data), size);
  }
  std::string& out;
};

class Reader {
 public:
  explicit Reader(const std::string& record)
      : at(record.data()), end(record.data() + record.size()) {}
  bool done() const { return at == end; }
  std::uint8_t code() { return static_cast<std::uint8_t>(*at++); }
  bool flag() { return *at++ != 0; }
  double number() { return read<double>(); }
  std::uint32_t count() { return read<std::uint32_t>(); }
  std::string_view text() {
    const std::uint32_t size = count();
    const std::string_view value(at, size);
    at += size;
    return value;
  }

 private:
  template <typename T>
  T read() {
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
  const char* at;
  const char* end;
};

// Bit for bit, so that -0 and NaN come back as they went in.
bool same_number(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void write_states(const States& states, Writer& writer) {
  writer.count(states.size());
  for (const std::string& state : states) writer.text(state);
}

// Whether the states at the start of `reader` are `states`; passes them.
bool read_same_states(const States& states, Reader& reader) {
  if (reader.count() != states.size()) return false;
  for (const std::string& state : states) {
    if (reader.text() != state) return false;
  }
  return true;
}

bool border_numbers_set(const ResolvedStyle& s) {
  for (std::size_t slot = kFillNames.size(); slot < kBorderSlots.size(); ++slot) {
    const StyleSlot& number = kBorderSlots[slot];
    if (!same_number(s.*number.number, number.number_default)) return true;
  }
  return false;
}

void write_style(const ResolvedStyle& s, Writer& writer) {
  if (!s.fill.empty() || s.fillIsGradient) {
    writer.code(kFillCode);
    writer.text(s.fill);
    writer.flag(s.fillIsGradient);
  }
  if (!s.borderFill.empty() || s.borderIsGradient || border_numbers_set(s)) {
    writer.code(kBorderCode);
    writer.text(s.borderFill);
    writer.flag(s.borderIsGradient);
    for (std::size_t slot = kFillNames.size(); slot < kBorderSlots.size(); ++slot) {
      writer.number(s.*kBorderSlots[slot].number);
    }
  }
  for (std::size_t code = kFillNames.size(); code < kStyleSlots.size(); ++code) {
    const StyleSlot& slot = kStyleSlots[code];
    switch (slot.rule) {
      case StyleRule::number:
      case StyleRule::number_if_present:
        if (!same_number(s.*slot.number, slot.number_default)) {
          writer.code(code);
          writer.number(s.*slot.number);
        }
        break;
      case StyleRule::flag:
        if (s.*slot.flag != slot.flag_default) writer.code(code);
        break;
      case StyleRule::text:
      case StyleRule::source:
        if (!(s.*slot.text).empty()) {
          writer.code(code);
          writer.text(s.*slot.text);
        }
        break;
      default:
        break;
    }
  }
}

// REQUIRES: `s` holds the defaults.
void read_style(Reader& reader, ResolvedStyle& s) {
  while (!reader.done()) {
    const std::uint8_t code = reader.code();
    if (code == kFillCode) {
      s.fill = reader.text();
      s.fillIsGradient = reader.flag();
      continue;
    }
    if (code == kBorderCode) {
      s.borderFill = reader.text();
      s.borderIsGradient = reader.flag();
      for (std::size_t slot = kFillNames.size(); slot < kBorderSlots.size(); ++slot) {
        s.*kBorderSlots[slot].number = reader.number();
      }
      continue;
    }
    const StyleSlot& slot = kStyleSlots[code];
    switch (slot.rule) {
      case StyleRule::number:
      case StyleRule::number_if_present:
        s.*slot.number = reader.number();
        break;
      case StyleRule::flag:
        s.*slot.flag = !slot.flag_default;
        break;
      case StyleRule::text:
        s.*slot.text = reader.text();
        break;
      case StyleRule::source:
        s.*slot.text = reader.text();
        s.*kSourceCopy = s.*slot.text;
        break;
      default:
        break;
    }
  }
}

// Debug and fuzzing builds answer every kept style a second time from the
// layer tree: a memo that missed a change must fail there, not show stale.
void check_kept([[maybe_unused]] const ResolvedStyle& kept, [[maybe_unused]] Drelm::DLayer* layer,
                [[maybe_unused]] const States& states, [[maybe_unused]] Drelm::DLayer* border) {
#if !defined(NDEBUG) || defined(OMBRIX_CHECK_STYLE_MEMO)
  ResolvedStyle fresh;
  resolve_style_into(fresh, layer, states, border);
  std::string expected;
  std::string found;
  Writer expected_writer(expected);
  write_style(fresh, expected_writer);
  Writer found_writer(found);
  write_style(kept, found_writer);
  if (expected != found) {
    std::fprintf(stderr, "style memo: a kept style differs from the layer tree\n");
    std::abort();
  }
#endif
}

}  // namespace

void resolve_fill(Drelm::DLayer* layer, const States& states, std::string& fill,
                  bool& is_gradient) {
  if (!layer) return;
  std::array<Drelm::DAttribute*, kFillNames.size()> found;
  Drelm::find_attributes(*layer, {kFillNames.data(), kFillNames.size()}, found.data());
  std::array<Value, kFillNames.size()> values;
  for (std::size_t i = 0; i < found.size(); ++i) {
    values[i] = found[i] ? &Drelm::value_for(*found[i], states) : nullptr;
  }
  fill_from(values.data(), fill, is_gradient);
}

ResolvedStyle resolve_style(Drelm::DLayer* layer, const States& states) {
  ResolvedStyle s;
  if (layer) resolve_style_into(s, layer, states, child_layer(layer, "Border"));
  return s;
}

void resolve_style_into(ResolvedStyle& s, Drelm::DLayer* layer, const States& states,
                        Drelm::DLayer* border) {
  std::array<Value, kStyleSlotCount> values;
  values_of(layer, border, values.data(), [&states](std::size_t, Drelm::DAttribute& attribute) {
    return &Drelm::value_for(attribute, states);
  });
  apply_values(s, values.data(), border != nullptr);
}

void begin_style_memo(StyleMemo& memo, const Drelm::DLayer& root) {
  memo.version = Drelm::answers_version(root);
  memo.next = 0;
}

StyleMemo::Entry& next_memo_entry(StyleMemo& memo, const Drelm::DLayer* layer) {
  if (memo.next == memo.entries.size()) memo.entries.emplace_back();
  StyleMemo::Entry& entry = memo.entries[memo.next++];
  if (entry.layer != layer || entry.version != memo.version) {
    entry.facts = false;
    entry.kept = false;
    entry.layer = layer;
    entry.version = memo.version;
  }
  return entry;
}

void end_style_memo(StyleMemo& memo) {
  if (memo.entries.size() > memo.next) memo.entries.resize(memo.next);
}

void resolve_style_kept(ResolvedStyle& s, Drelm::DLayer* layer, const States& states,
                        Drelm::DLayer* border, StyleMemo::Entry& entry) {
  Reader reader(entry.record);
  if (entry.kept && read_same_states(states, reader)) {
    read_style(reader, s);
    if (!entry.reread_slots.any()) {
      check_kept(s, layer, states, border);
      return;
    }
    // Values read through links: their targets change without the version.
    std::array<Value, kStyleSlotCount> values{};
    std::size_t next = 0;
    entry.reread_slots.for_each([&](std::size_t slot) {
      const Drelm::DAttribute* source = entry.reread[next++];
      values[slot] = source ? &source->value() : nullptr;
    });
    if (entry.reread_slots.intersects(kFillSlotBits)) {
      s.fill.clear();
      s.fillIsGradient = false;
      fill_from(values.data(), s.fill, s.fillIsGradient);
    }
    if (entry.reread_slots.intersects(kBorderSlotBits)) {
      s.borderFill.clear();
      s.borderIsGradient = false;
      apply_border(s, values.data() + kBorderSlot);
    }
    entry.reread_slots.without(kFillAndBorderSlotBits).for_each([&](std::size_t slot) {
      reset_slot(s, kStyleSlots[slot]);
      apply_slot(s, kStyleSlots[slot], values[slot]);
    });
    check_kept(s, layer, states, border);
    return;
  }

  // Trusted again only once complete: a throw half-way leaves no entry that
  // answers with another layer's style.
  entry.kept = false;
  std::array<Value, kStyleSlotCount> values;
  std::array<Drelm::DAttribute*, kStyleSlotCount> sources{};
  bool kept = true;
  StyleSlotBits reread;
  values_of(layer, border, values.data(), [&](std::size_t slot, Drelm::DAttribute& attribute) {
    const Drelm::DValueSource source = Drelm::value_source(attribute, states);
    sources[slot] = source.attribute;
    if (source.keep == Drelm::DValueKeep::never) kept = false;
    if (source.keep == Drelm::DValueKeep::reread) reread.set(slot);
    return &source.attribute->value();
  });
  apply_values(s, values.data(), border != nullptr);

  if (!kept) return;
  // A fill is made of several values: read again, it needs all of them.
  if (reread.intersects(kFillSlotBits)) reread |= kFillSlotBits;
  if (reread.intersects(kBorderSlotBits)) reread |= kBorderSlotBits;
  entry.record.clear();
  Writer writer(entry.record);
  write_states(states, writer);
  write_style(s, writer);
  entry.reread_slots = reread;
  entry.reread.clear();
  reread.for_each([&](std::size_t slot) { entry.reread.push_back(sources[slot]); });
  entry.kept = true;
}

void apply_mobile_scale(ResolvedStyle& style, Drelm::DLayer* layer, const States& states,
                        bool scale_size, double size_scale, double font_scale,
                        double spacing_scale) {
  // The desktop case: nothing to do and nothing allocated.
  if (!layer || !has_mobile(states)) return;

  States plain;
  plain.reserve(states.size());
  for (const std::string& state : states) {
    if (state != "Mobile") plain.push_back(state);
  }

  const double size_factor = scale_size ? size_scale : spacing_scale;
  Drelm::DLayer* border = nullptr;
  bool border_found = false;
  for_each_style_field([&](auto i) {
    constexpr auto& field = std::get<i>(kStyleFields);
    if constexpr (field.scale != StyleScale::unscaled) {
      const double factor = field.scale == StyleScale::font   ? font_scale
                            : field.scale == StyleScale::size ? size_factor
                                                              : spacing_scale;
      // A factor of 1 leaves its fields alone without a look-up.
      if (factor == 1.0) return;
      double& value = style.*std::remove_cvref_t<decltype(field)>::member;
      if (!(value > 0)) return;
      constexpr DNameKey key = key_of(field.attribute);
      Drelm::DLayer* owner = layer;
      if constexpr (on_border(field.rule)) {
        if (!border_found) {
          border = child_layer(layer, "Border");
          border_found = true;
        }
        owner = border;
      }
      scale(value, owner ? find(owner, key) : nullptr, states, plain, factor);
    }
  });
}

}  // namespace Ombrix
