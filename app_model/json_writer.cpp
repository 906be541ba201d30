#include "app_model/internal/json_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/internal/style_internal.h"
#include "app_model/qr.h"
#include "app_model/style.h"

namespace Ombrix {

namespace {

// ---------------------------------------------------------------------------
// The output: a string written through a cursor. Room is made once for a run
// of writes whose size is bounded, so that single writes check nothing.

class Writer {
 public:
  // Appends to `text`, which is first given `room` bytes past its end.
  Writer(std::string& text, std::size_t room) : text_(text) {
    const std::size_t start = text_.size();
    text_.resize(start + std::max<std::size_t>(room, 64));
    at = text_.data() + start;
    end_ = text_.data() + text_.size();
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  // Cuts the string to what was written.
  ~Writer() { text_.resize(static_cast<std::size_t>(at - text_.data())); }

  // Makes room for n bytes at the cursor; `at` may move.
  void room(std::size_t n) {
    if (static_cast<std::size_t>(end_ - at) < n) grow(n);
  }

  // The same for a writer that holds the cursor in `at`; returns it, moved.
  char* room(char* at_now, std::size_t n) {
    if (static_cast<std::size_t>(end_ - at_now) >= n) return at_now;
    at = at_now;
    grow(n);
    return at;
  }

  // The cursor. Hot writers copy it into a local and store it back: a store
  // through a char pointer may alias a member, so the compiler would reload it.
  char* at = nullptr;

 private:
  void grow(std::size_t n) {
    const std::size_t used = static_cast<std::size_t>(at - text_.data());
    text_.resize(std::max(text_.size() + text_.size() / 2, used + n));
    at = text_.data() + used;
    end_ = text_.data() + text_.size();
  }

  std::string& text_;
  char* end_ = nullptr;
};

template <std::size_t N>
char* put(char* at, const char (&text)[N]) {
  std::memcpy(at, text, N - 1);
  return at + N - 1;
}

char* put(char* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

// ---------------------------------------------------------------------------
// Strings, escaped as the library escapes them with ensure_ascii off and
// error_handler_t::replace: the same UTF-8 automaton, the same escapes and
// the same replacement of a rejected sequence by one U+FFFD.

// At most six bytes out per byte in ("\u001f"); replacement writes three for
// at least one byte taken back.
constexpr std::size_t string_room(std::size_t size) { return 6 * size + 2; }

// Bytes that stand for themselves: printable ASCII but the quote and the
// backslash. DEL is one of them, as it is for the library.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int byte = 0x20; byte < 0x80; ++byte) plain[byte] = byte != '"' && byte != '\\';
  return plain;
}();

constexpr std::uint8_t kAccept = 0;
constexpr std::uint8_t kReject = 1;

// The UTF-8 automaton of the library's serializer, copied: byte classes, then
// transitions.
constexpr std::array<std::uint8_t, 400> kUtf8 = {
    // clang-format off
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    0, 1, 2, 3, 5, 8, 7, 1, 1, 1, 4, 6, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1,
    1, 2, 1, 1, 1, 1, 1, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 1, 3, 1, 1, 1, 1, 1, 1,
    1, 3, 1, 1, 1, 1, 1, 3, 1, 3, 1, 1, 1, 1, 1, 1, 1, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // clang-format on
};

std::uint8_t decode(std::uint8_t& state, std::uint32_t& codepoint, std::uint8_t byte) {
  const std::uint8_t type = kUtf8[byte];
  codepoint = state != kAccept ? (byte & 0x3Fu) | (codepoint << 6u) : (0xFFu >> type) & byte;
  state = kUtf8[256u + state * 16u + type];
  return state;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// The bytes from `i` on, up to the next byte that stands for itself after a
// whole code point, through the automaton. REQUIRES: room for string_room.
char* write_special(char* at, const char* text, std::size_t size, std::size_t& i) {
  std::uint32_t codepoint = 0;
  std::uint8_t state = kAccept;
  char* last_accept = at;  // where the output stood after the last whole code point
  std::size_t undumped = 0;
  for (; i < size; ++i) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (state == kAccept && kPlain[byte]) return at;
    switch (decode(state, codepoint, byte)) {
      case kAccept:
        switch (codepoint) {
          case 0x08:
            at = put(at, "\\b");
            break;
          case 0x09:
            at = put(at, "\\t");
            break;
          case 0x0A:
            at = put(at, "\\n");
            break;
          case 0x0C:
            at = put(at, "\\f");
            break;
          case 0x0D:
            at = put(at, "\\r");
            break;
          case 0x22:
            at = put(at, "\\\"");
            break;
          case 0x5C:
            at = put(at, "\\\\");
            break;
          default:
            if (codepoint <= 0x1F) {
              constexpr char kHex[] = "0123456789abcdef";
              at = put(at, "\\u00");
              *at++ = kHex[codepoint >> 4];
              *at++ = kHex[codepoint & 0xF];
            } else {
              *at++ = text[i];  // the last byte of the code point; the others are out already
            }
            break;
        }
        last_accept = at;
        undumped = 0;
        break;
      case kReject:
        // A byte that broke a sequence is read again on its own.
        if (undumped > 0) --i;
        at = put(last_accept, kReplacement);
        last_accept = at;
        undumped = 0;
        state = kAccept;
        break;
      default:  // inside a multi-byte code point: its bytes go out as they come
        *at++ = text[i];
        ++undumped;
        break;
    }
  }
  // A code point cut off by the end of the text.
  if (state != kAccept) at = put(last_accept, kReplacement);
  return at;
}

// REQUIRES: room for string_room(text.size()).
char* write_string(char* at, std::string_view text) {
  *at++ = '"';
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    std::size_t run = i;
    while (run < size && kPlain[static_cast<std::uint8_t>(data[run])]) ++run;
    std::memcpy(at, data + i, run - i);
    at += run - i;
    i = run;
    if (i < size) at = write_special(at, data, size, i);
  }
  *at++ = '"';
  return at;
}

// ---------------------------------------------------------------------------
// Numbers, as the library writes them: integers in decimal; a double that is
// not finite as null, any other in its shortest form that reads back the same.

constexpr std::size_t kNumberRoom = 32;  // "-2.2250738585072014e-308" is 24

constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Whole numbers of styles are mostly short: one and two digits are written
// directly, longer ones from the end of their counted digits.
char* write_unsigned(char* at, std::uint64_t value) {
  if (value < 10) {
    *at = static_cast<char>('0' + value);
    return at + 1;
  }
  if (value < 100) {
    std::memcpy(at, &kDigitPairs[2 * value], 2);
    return at + 2;
  }
  std::size_t digits = 3;
  for (std::uint64_t rest = value / 1000; rest != 0; rest /= 10) ++digits;
  char* const end = at + digits;
  char* first = end;
  while (value >= 100) {
    first -= 2;
    std::memcpy(first, &kDigitPairs[2 * (value % 100)], 2);
    value /= 100;
  }
  if (value >= 10) {
    std::memcpy(first - 2, &kDigitPairs[2 * value], 2);
  } else {
    first[-1] = static_cast<char>('0' + value);
  }
  return end;
}

char* write_integer(char* at, std::int64_t value) {
  if (value >= 0) return write_unsigned(at, static_cast<std::uint64_t>(value));
  *at++ = '-';
  return write_unsigned(at, 0 - static_cast<std::uint64_t>(value));
}

// REQUIRES: room for kNumberRoom.
char* write_double(char* at, double value) {
  // Most values are whole. Below 1e15 the library writes them as their digits
  // and ".0" (its exponent form starts at 16 digits), and such a double has
  // no shorter form that reads back the same.
  if (value > -1e15 && value < 1e15) {
    const auto whole = static_cast<std::int64_t>(value);
    if (static_cast<double>(whole) == value) {
      if (whole == 0 && std::signbit(value)) return put(at, "-0.0");
      at = write_integer(at, whole);
      return put(at, ".0");
    }
  }
  if (!std::isfinite(value)) return put(at, "null");
  // The library's own shortest form, so that its choice of digits is kept.
  return nlohmann::detail::to_chars(at, at + kNumberRoom, value);
}

char* write_bool(char* at, bool value) { return value ? put(at, "true") : put(at, "false"); }

// ---------------------------------------------------------------------------
// The style object, walked along kStyleFields.

using StyleFields = std::remove_cvref_t<decltype(kStyleFields)>;
constexpr std::size_t kFieldCount = std::tuple_size_v<StyleFields>;

template <std::size_t I>
using FieldAt = std::remove_cvref_t<std::tuple_element_t<I, StyleFields>>;
template <std::size_t I>
using ValueAt = std::remove_cvref_t<decltype(std::declval<ResolvedStyle>().*FieldAt<I>::member)>;

// What precedes each written value: `"key":`, with a comma before all but the first.
struct StyleKeys {
  std::array<char, 1024> text{};
  std::array<std::uint16_t, kFieldCount> offset{};
  std::array<std::uint16_t, kFieldCount> length{};
  std::size_t size = 0;
  std::size_t strings = 0;
  std::size_t doubles = 0;
  std::size_t flags = 0;
};

template <std::size_t... I>
constexpr StyleKeys make_style_keys(std::index_sequence<I...>) {
  StyleKeys keys;
  const auto add = [&keys](std::size_t index, std::string_view key, bool in_json, int kind) {
    keys.offset[index] = static_cast<std::uint16_t>(keys.size);
    if (!in_json) return;
    if (keys.size != 0) keys.text[keys.size++] = ',';
    keys.text[keys.size++] = '"';
    for (std::size_t c = 0; c < key.size(); ++c) {
      // Keys are written as they are: one that needs an escape does not compile.
      if (!kPlain[static_cast<std::uint8_t>(key[c])]) throw "a style key needs an escape";
      keys.text[keys.size++] = key[c];
    }
    keys.text[keys.size++] = '"';
    keys.text[keys.size++] = ':';
    keys.length[index] = static_cast<std::uint16_t>(keys.size - keys.offset[index]);
    (kind == 0 ? keys.strings : kind == 1 ? keys.flags : keys.doubles) += 1;
  };
  (add(I, std::get<I>(kStyleFields).name, kInJson<I>,
       std::is_same_v<ValueAt<I>, std::string> ? 0
       : std::is_same_v<ValueAt<I>, bool>      ? 1
                                               : 2),
   ...);
  return keys;
}

constexpr StyleKeys kStyleKeys = make_style_keys(std::make_index_sequence<kFieldCount>{});
static_assert(kStyleKeys.size < kStyleKeys.text.size());

// The style object's bytes but those of its strings' contents, at most.
constexpr std::size_t kStyleRoom = 2 + kStyleKeys.size + 2 * kStyleKeys.strings +
                                   5 * kStyleKeys.flags + kNumberRoom * kStyleKeys.doubles;
// The same for a typical style, whose numbers are short.
constexpr std::size_t kStyleEstimate =
    2 + kStyleKeys.size + 2 * kStyleKeys.strings + 5 * kStyleKeys.flags + 4 * kStyleKeys.doubles;

// REQUIRES: room for kStyleRoom; a string makes room for itself and keeps that.
template <std::size_t I>
char* write_field(Writer& out, char* at, const ResolvedStyle& style) {
  if constexpr (kInJson<I>) {
    constexpr std::size_t offset = kStyleKeys.offset[I];
    constexpr std::size_t length = kStyleKeys.length[I];
    std::memcpy(at, kStyleKeys.text.data() + offset, length);
    at += length;
    const auto& value = style.*FieldAt<I>::member;
    if constexpr (std::is_same_v<ValueAt<I>, std::string>) {
      at = out.room(at, kStyleRoom + string_room(value.size()));
      at = write_string(at, value);
    } else if constexpr (std::is_same_v<ValueAt<I>, bool>) {
      at = write_bool(at, value);
    } else {
      static_assert(std::is_same_v<ValueAt<I>, double>);
      at = write_double(at, value);
    }
  }
  return at;
}

template <std::size_t... I>
void write_style(Writer& out, const ResolvedStyle& style, std::index_sequence<I...>) {
  out.room(kStyleRoom);
  char* at = out.at;
  *at++ = '{';
  ((at = write_field<I>(out, at, style)), ...);
  *at++ = '}';
  out.at = at;
}

void write_style(Writer& out, const ResolvedStyle& style) {
  write_style(out, style, std::make_index_sequence<kFieldCount>{});
}

// ---------------------------------------------------------------------------
// Nodes and patches, with the keys of node_to_json in its order.

void write_string(Writer& out, std::string_view text) {
  out.room(string_room(text.size()));
  out.at = write_string(out.at, text);
}

void write_raw(Writer& out, std::string_view text) {
  out.room(text.size());
  out.at = put(out.at, text);
}

void write_node(Writer& out, const RenderNode& node) {
  const std::string_view type = to_string(node.type);
  out.room(64 + type.size() + string_room(node.name.size()) + string_room(node.path.size()) +
           string_room(node.text.size()));
  char* at = out.at;
  at = put(at, "{\"type\":\"");
  at = put(at, type);  // a fixed name that needs no escape
  at = put(at, "\",\"name\":");
  at = write_string(at, node.name);
  at = put(at, ",\"path\":");
  at = write_string(at, node.path);
  if (!node.text.empty()) {
    at = put(at, ",\"text\":");
    at = write_string(at, node.text);
  }
  at = put(at, ",\"style\":");
  out.at = at;
  write_style(out, node.style);

  if (node.type == NodeType::qr) {
    const QrMatrix matrix = encode_qr(node.style.qrData);
    out.room(64 + matrix.modules.size());
    at = put(out.at, ",\"qrSize\":");
    at = write_integer(at, matrix.size);
    at = put(at, ",\"qrModules\":\"");
    for (std::uint8_t module : matrix.modules) *at++ = module != 0 ? '1' : '0';
    *at++ = '"';
    out.at = at;
  }
  if (node.type == NodeType::combobox) {
    write_raw(out, ",\"comboOptions\":[");
    bool first = true;
    for (const ComboOption& option : node.comboOptions) {
      out.room(32 + string_room(option.id.size()) + string_room(option.label.size()));
      at = out.at;
      if (!first) *at++ = ',';
      first = false;
      at = put(at, "{\"id\":");
      at = write_string(at, option.id);
      at = put(at, ",\"label\":");
      at = write_string(at, option.label);
      *at++ = '}';
      out.at = at;
    }
    write_raw(out, "],\"comboSelected\":");
    write_string(out, node.comboSelected);
  }

  write_raw(out, ",\"children\":[");
  bool first = true;
  for (const RenderNode& child : node.children) {
    if (!first) write_raw(out, ",");
    first = false;
    write_node(out, child);
  }
  write_raw(out, "]}");
}

void write_patch(Writer& out, const Patch& patch) {
  const std::string_view op = to_string(patch.kind);
  out.room(64 + op.size() + string_room(patch.path.size()) + string_room(patch.parentPath.size()));
  char* at = put(out.at, "{\"op\":\"");
  at = put(at, op);
  *at++ = '"';
  bool with_node = false;
  switch (patch.kind) {
    case PatchKind::insert:
      at = put(at, ",\"parentPath\":");
      at = write_string(at, patch.parentPath);
      at = put(at, ",\"index\":");
      at = write_integer(at, patch.index);
      with_node = true;
      break;
    case PatchKind::remove:
      at = put(at, ",\"path\":");
      at = write_string(at, patch.path);
      break;
    case PatchKind::update:
      at = put(at, ",\"path\":");
      at = write_string(at, patch.path);
      with_node = true;
      break;
    case PatchKind::replace:
      at = put(at, ",\"path\":");
      at = write_string(at, patch.path);
      at = put(at, ",\"parentPath\":");
      at = write_string(at, patch.parentPath);
      with_node = true;
      break;
    case PatchKind::editorvalue:
      at = put(at, ",\"path\":");
      at = write_string(at, patch.path);
      out.at = at;
      write_raw(out, ",\"text\":");
      write_string(out, patch.node.text);
      at = out.at;
      break;
  }
  out.at = at;
  if (with_node) {
    write_raw(out, ",\"node\":");
    write_node(out, patch.node);
  }
  write_raw(out, "}");
}

// ---------------------------------------------------------------------------
// Sizes to reserve: the bytes of the text but what escapes add, with short
// numbers and short style strings, whose sizes are not read: that would walk
// every style twice. A text that comes out longer only grows the string.

constexpr std::size_t kStyleStringsEstimate = 96;

std::size_t node_estimate(const RenderNode& node) {
  std::size_t size = 96 + kStyleEstimate + kStyleStringsEstimate + node.name.size() +
                     node.path.size() + node.text.size();
  // A symbol has 441 modules at least, and takes some 16 modules per byte of data.
  if (node.type == NodeType::qr) size += 48 + 441 + 16 * node.style.qrData.size();
  if (node.type == NodeType::combobox) {
    size += 48 + node.comboSelected.size();
    for (const ComboOption& option : node.comboOptions) {
      size += 24 + option.id.size() + option.label.size();
    }
  }
  for (const RenderNode& child : node.children) size += 1 + node_estimate(child);
  return size;
}

std::size_t patch_estimate(const Patch& patch) {
  std::size_t size = 64 + patch.path.size() + patch.parentPath.size();
  switch (patch.kind) {
    case PatchKind::insert:
    case PatchKind::update:
    case PatchKind::replace:
      return size + node_estimate(patch.node);
    case PatchKind::editorvalue:
      return size + patch.node.text.size();
    default:
      return size;
  }
}

}  // namespace

std::string node_json(const RenderNode& node) {
  std::string text;
  {
    Writer out(text, node_estimate(node));
    write_node(out, node);
  }
  return text;
}

std::string patches_json(const std::vector<Patch>& patches) {
  std::size_t estimate = 2;
  for (const Patch& patch : patches) estimate += 1 + patch_estimate(patch);
  std::string text;
  {
    Writer out(text, estimate);
    write_raw(out, "[");
    bool first = true;
    for (const Patch& patch : patches) {
      if (!first) write_raw(out, ",");
      first = false;
      write_patch(out, patch);
    }
    write_raw(out, "]");
  }
  return text;
}

void append_json_string(std::string& out, std::string_view text) {
  Writer writer(out, string_room(text.size()));
  writer.at = write_string(writer.at, text);
}

void append_json_number(std::string& out, double value) {
  Writer writer(out, kNumberRoom);
  writer.at = write_double(writer.at, value);
}

}  // namespace Ombrix
