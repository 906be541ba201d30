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
#include <variant>

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

void scale(double& field, Drelm::DLayer* layer, const DNameKey& name, const States& states,
           const States& plain, double factor) {
  if (!(field > 0)) return;
  scale(field, find(layer, name), states, plain, factor);
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

constexpr std::array<DNameKey, 5> kFillNames = {name_key("Fill.Start Color"),
                                                name_key("Fill.End Color"), name_key("Fill.Start"),
                                                name_key("Fill.End"), name_key("Fill")};

// A border's names: those of a fill, then its thickness.
constexpr std::array<DNameKey, 6> kBorderNames = {
    name_key("Fill.Start Color"), name_key("Fill.End Color"), name_key("Fill.Start"),
    name_key("Fill.End"),         name_key("Fill"),           name_key("Thickness")};

// How a style name's value lands in the style.
enum class Rule : std::uint8_t {
  fill,               // one of the five names of the fill
  number,             // 0 unless a number
  number_if_present,  // the default stays unless the layer declares the attribute
  flag,               // written as a number; anything else keeps the default
  text,               // the default ("") stays unless a text
  source,             // a text that names the icon and the media alike
};

constexpr DNameKey key_of(std::string_view name) { return {name, Drelm::hash_name(name)}; }

struct StyleSlot {
  DNameKey key;
  Rule rule;
  double ResolvedStyle::*number = nullptr;
  bool ResolvedStyle::*flag = nullptr;
  std::string ResolvedStyle::*text = nullptr;
  bool flag_default = false;
  double number_default = 0;
};

consteval StyleSlot fill(std::string_view name) { return {key_of(name), Rule::fill}; }
consteval StyleSlot number(std::string_view name, double ResolvedStyle::*member) {
  return {key_of(name), Rule::number, member};
}
consteval StyleSlot number_if_present(std::string_view name, double ResolvedStyle::*member,
                                      double fallback) {
  return {key_of(name), Rule::number_if_present, member, nullptr, nullptr, false, fallback};
}
consteval StyleSlot flag(std::string_view name, bool ResolvedStyle::*member, bool fallback) {
  return {key_of(name), Rule::flag, nullptr, member, nullptr, fallback};
}
consteval StyleSlot text(std::string_view name, std::string ResolvedStyle::*member) {
  return {key_of(name), Rule::text, nullptr, nullptr, member};
}

// Every name resolve_style_into reads from a layer, those of the fill first:
// all are looked up in one pass over the layer's index.
constexpr std::array<StyleSlot, 58> kStyleSlots = {
    fill("Fill.Start Color"),
    fill("Fill.End Color"),
    fill("Fill.Start"),
    fill("Fill.End"),
    fill("Fill"),
    number("Corner Radii.Top Left", &ResolvedStyle::radiusTL),
    number("Corner Radii.Top Right", &ResolvedStyle::radiusTR),
    number("Corner Radii.Bottom Left", &ResolvedStyle::radiusBL),
    number("Corner Radii.Bottom Right", &ResolvedStyle::radiusBR),
    text("Text Color", &ResolvedStyle::textColor),
    number("Margins.Left", &ResolvedStyle::marginL),
    number("Margins.Top", &ResolvedStyle::marginT),
    number("Margins.Right", &ResolvedStyle::marginR),
    number("Margins.Bottom", &ResolvedStyle::marginB),
    number("Padding.Left", &ResolvedStyle::paddingL),
    number("Padding.Top", &ResolvedStyle::paddingT),
    number("Padding.Right", &ResolvedStyle::paddingR),
    number("Padding.Bottom", &ResolvedStyle::paddingB),
    text("Font.Family", &ResolvedStyle::fontFamily),
    number("Font.Size", &ResolvedStyle::fontSize),
    number("Font.Weight", &ResolvedStyle::fontWeight),
    text("Layout.Direction", &ResolvedStyle::direction),
    text("Layout.Align", &ResolvedStyle::crossAlign),
    text("Layout.Justify", &ResolvedStyle::justify),
    text("Layout.Scroll", &ResolvedStyle::scroll),
    number("Layout.Spacing", &ResolvedStyle::spacing),
    number("Layout.Grow", &ResolvedStyle::grow),
    number_if_present("Layout.Shrink", &ResolvedStyle::shrink, -1.0),
    number("Size.Width", &ResolvedStyle::width),
    number("Size.Height", &ResolvedStyle::height),
    number("Size.Max Width", &ResolvedStyle::maxWidth),
    number("Aspect Ratio", &ResolvedStyle::aspectRatio),
    number_if_present("Opacity", &ResolvedStyle::opacity, 1.0),
    flag("Visible", &ResolvedStyle::visible, true),
    flag("Collapsed", &ResolvedStyle::collapsed, false),
    number("Transform.Offset X", &ResolvedStyle::translateX),
    number("Transform.Offset Y", &ResolvedStyle::translateY),
    number("Transform.Rotation", &ResolvedStyle::rotation),
    text("Intent", &ResolvedStyle::intent),
    text("Overlay", &ResolvedStyle::overlay),
    flag("Secret", &ResolvedStyle::secret, false),
    flag("Multiline", &ResolvedStyle::multiline, false),
    flag("Read Only", &ResolvedStyle::readOnly, false),
    flag("Wrap", &ResolvedStyle::wrap, true),
    text("Fit", &ResolvedStyle::fit),
    flag("Autoplay", &ResolvedStyle::autoplay, false),
    flag("Loop", &ResolvedStyle::loop, false),
    flag("Muted", &ResolvedStyle::muted, false),
    flag("Controls", &ResolvedStyle::controls, false),
    text("Text", &ResolvedStyle::text),
    text("Placeholder", &ResolvedStyle::placeholder),
    {name_key("Source"), Rule::source},
    text("Data", &ResolvedStyle::qrData),
    text("Href", &ResolvedStyle::href),
    text("Tag", &ResolvedStyle::tag),
    text("Anchor", &ResolvedStyle::anchor),
    text("Bind", &ResolvedStyle::binds),
    number("Size.Height Viewport", &ResolvedStyle::heightViewport),
};

constexpr std::array<DNameKey, kStyleSlots.size()> kStyleNames = [] {
  std::array<DNameKey, kStyleSlots.size()> keys{};
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = kStyleSlots[i].key;
  return keys;
}();

// The values of a node: the layer's in the order of kStyleSlots, then the
// border's in the order of kBorderNames.
constexpr std::size_t kBorderSlot = kStyleSlots.size();
constexpr std::size_t kSlotCount = kBorderSlot + kBorderNames.size();
static_assert(kSlotCount <= 64, "a memo keeps its slots as the bits of one word");
constexpr std::uint64_t kFillSlots = (std::uint64_t{1} << kFillNames.size()) - 1;
constexpr std::uint64_t kBorderSlots = kFillSlots << kBorderSlot | std::uint64_t{1}
                                                                       << (kSlotCount - 1);

void apply_slot(ResolvedStyle& s, const StyleSlot& slot, Value value) {
  switch (slot.rule) {
    case Rule::fill:
      break;
    case Rule::number:
      s.*slot.number = number_or_zero(value);
      break;
    case Rule::number_if_present:
      if (value) s.*slot.number = number_or_zero(value);
      break;
    case Rule::flag:
      if (const double* number = number_in(value)) s.*slot.flag = *number != 0;
      break;
    case Rule::text:
      if (const std::string* found = text_in(value)) s.*slot.text = *found;
      break;
    case Rule::source:
      if (const std::string* found = text_in(value)) s.iconSource = *found;
      s.mediaSource = s.iconSource;
      break;
  }
}

// The field of a slot back to what a fresh style holds, before it is applied
// again; numbers are always written.
void reset_slot(ResolvedStyle& s, const StyleSlot& slot) {
  switch (slot.rule) {
    case Rule::flag:
      s.*slot.flag = slot.flag_default;
      break;
    case Rule::text:
      (s.*slot.text).clear();
      break;
    case Rule::source:
      s.iconSource.clear();
      break;
    default:
      break;
  }
}

void apply_border(ResolvedStyle& s, const Value* values) {
  fill_from(values, s.borderFill, s.borderIsGradient);
  s.borderThickness = number_or_zero(values[kBorderNames.size() - 1]);
}

// Looks up the names of a node's style and asks `answer` for the value of
// each attribute found, by slot; null where absent.
template <typename Answer>
void values_of(Drelm::DLayer* layer, Drelm::DLayer* border, Value* values, const Answer& answer) {
  std::array<Drelm::DAttribute*, kSlotCount> found{};
  Drelm::find_attributes(*layer, {kStyleNames.data(), kStyleNames.size()}, found.data());
  if (border) {
    Drelm::find_attributes(*border, {kBorderNames.data(), kBorderNames.size()},
                           found.data() + kBorderSlot);
  }
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
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

void write_style(const ResolvedStyle& s, Writer& writer) {
  if (!s.fill.empty() || s.fillIsGradient) {
    writer.code(kFillCode);
    writer.text(s.fill);
    writer.flag(s.fillIsGradient);
  }
  if (!s.borderFill.empty() || s.borderIsGradient || !same_number(s.borderThickness, 0)) {
    writer.code(kBorderCode);
    writer.text(s.borderFill);
    writer.flag(s.borderIsGradient);
    writer.number(s.borderThickness);
  }
  for (std::size_t code = kFillNames.size(); code < kStyleSlots.size(); ++code) {
    const StyleSlot& slot = kStyleSlots[code];
    switch (slot.rule) {
      case Rule::fill:
        break;
      case Rule::number:
      case Rule::number_if_present:
        if (!same_number(s.*slot.number, slot.number_default)) {
          writer.code(code);
          writer.number(s.*slot.number);
        }
        break;
      case Rule::flag:
        if (s.*slot.flag != slot.flag_default) writer.code(code);
        break;
      case Rule::text:
        if (!(s.*slot.text).empty()) {
          writer.code(code);
          writer.text(s.*slot.text);
        }
        break;
      case Rule::source:
        if (!s.iconSource.empty()) {
          writer.code(code);
          writer.text(s.iconSource);
        }
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
      s.borderThickness = reader.number();
      continue;
    }
    const StyleSlot& slot = kStyleSlots[code];
    switch (slot.rule) {
      case Rule::fill:
        break;
      case Rule::number:
      case Rule::number_if_present:
        s.*slot.number = reader.number();
        break;
      case Rule::flag:
        s.*slot.flag = !slot.flag_default;
        break;
      case Rule::text:
        s.*slot.text = reader.text();
        break;
      case Rule::source:
        s.iconSource = reader.text();
        s.mediaSource = s.iconSource;
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
  std::array<Value, kSlotCount> values;
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
    if (entry.reread_slots == 0) {
      check_kept(s, layer, states, border);
      return;
    }
    // Values read through links: their targets change without the version.
    std::array<Value, kSlotCount> values{};
    std::size_t next = 0;
    for (std::uint64_t bits = entry.reread_slots; bits != 0; bits &= bits - 1) {
      const Drelm::DAttribute* source = entry.reread[next++];
      values[std::countr_zero(bits)] = source ? &source->value() : nullptr;
    }
    if (entry.reread_slots & kFillSlots) {
      s.fill.clear();
      s.fillIsGradient = false;
      fill_from(values.data(), s.fill, s.fillIsGradient);
    }
    if (entry.reread_slots & kBorderSlots) {
      s.borderFill.clear();
      s.borderIsGradient = false;
      apply_border(s, values.data() + kBorderSlot);
    }
    const std::uint64_t others = entry.reread_slots & ~(kFillSlots | kBorderSlots);
    for (std::uint64_t bits = others; bits != 0; bits &= bits - 1) {
      const StyleSlot& slot = kStyleSlots[std::countr_zero(bits)];
      reset_slot(s, slot);
      apply_slot(s, slot, values[std::countr_zero(bits)]);
    }
    check_kept(s, layer, states, border);
    return;
  }

  // Trusted again only once complete: a throw half-way leaves no entry that
  // answers with another layer's style.
  entry.kept = false;
  std::array<Value, kSlotCount> values;
  std::array<Drelm::DAttribute*, kSlotCount> sources{};
  bool kept = true;
  std::uint64_t reread = 0;
  values_of(layer, border, values.data(), [&](std::size_t slot, Drelm::DAttribute& attribute) {
    const Drelm::DValueSource source = Drelm::value_source(attribute, states);
    sources[slot] = source.attribute;
    if (source.keep == Drelm::DValueKeep::never) kept = false;
    if (source.keep == Drelm::DValueKeep::reread) reread |= std::uint64_t{1} << slot;
    return &source.attribute->value();
  });
  apply_values(s, values.data(), border != nullptr);

  if (!kept) return;
  // A fill is made of several values: read again, it needs all of them.
  if (reread & kFillSlots) reread |= kFillSlots;
  if (reread & kBorderSlots) reread |= kBorderSlots;
  entry.record.clear();
  Writer writer(entry.record);
  write_states(states, writer);
  write_style(s, writer);
  entry.reread_slots = reread;
  entry.reread.clear();
  for (std::uint64_t bits = reread; bits != 0; bits &= bits - 1) {
    entry.reread.push_back(sources[std::countr_zero(bits)]);
  }
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

  if (font_scale != 1.0)
    scale(style.fontSize, layer, name_key("Font.Size"), states, plain, font_scale);

  const double size_factor = scale_size ? size_scale : spacing_scale;
  if (size_factor != 1.0) {
    scale(style.width, layer, name_key("Size.Width"), states, plain, size_factor);
    scale(style.height, layer, name_key("Size.Height"), states, plain, size_factor);
  }

  if (spacing_scale == 1.0) return;
  const double f = spacing_scale;
  scale(style.spacing, layer, name_key("Layout.Spacing"), states, plain, f);
  scale(style.marginL, layer, name_key("Margins.Left"), states, plain, f);
  scale(style.marginT, layer, name_key("Margins.Top"), states, plain, f);
  scale(style.marginR, layer, name_key("Margins.Right"), states, plain, f);
  scale(style.marginB, layer, name_key("Margins.Bottom"), states, plain, f);
  scale(style.paddingL, layer, name_key("Padding.Left"), states, plain, f);
  scale(style.paddingT, layer, name_key("Padding.Top"), states, plain, f);
  scale(style.paddingR, layer, name_key("Padding.Right"), states, plain, f);
  scale(style.paddingB, layer, name_key("Padding.Bottom"), states, plain, f);
  scale(style.radiusTL, layer, name_key("Corner Radii.Top Left"), states, plain, f);
  scale(style.radiusTR, layer, name_key("Corner Radii.Top Right"), states, plain, f);
  scale(style.radiusBL, layer, name_key("Corner Radii.Bottom Left"), states, plain, f);
  scale(style.radiusBR, layer, name_key("Corner Radii.Bottom Right"), states, plain, f);
  if (style.borderThickness > 0) {
    Drelm::DLayer* border = child_layer(layer, "Border");
    scale(style.borderThickness, border ? find(border, name_key("Thickness")) : nullptr, states,
          plain, f);
  }
}

}  // namespace Ombrix
