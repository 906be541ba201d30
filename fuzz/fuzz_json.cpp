// The direct JSON writer against the JSON library, byte for byte: random
// strings, doubles, render trees and patch lists made from the input.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/internal/json_writer.h"
#include "app_model/render_node.h"
#include "app_model/style.h"

namespace {

using Json = nlohmann::ordered_json;

// Reads the input front to back; past its end every read yields zero, so
// that every tree ends.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

  std::uint64_t word(std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value = value << 8 | byte();
    return value;
  }

  // Bytes as they come, or pieces that the escapes and the UTF-8 automaton
  // treat specially, glued together.
  std::string text() {
    static const char* const kPieces[] = {"\"",
                                          "\\",
                                          "/",
                                          "\b",
                                          "\f",
                                          "\n",
                                          "\r",
                                          "\t",
                                          "\x1f",
                                          "\x7f",
                                          "\xc3\xa9",
                                          "\xe2\x82\xac",
                                          "\xf0\x9f\x98\x80",
                                          "\xc3",
                                          "\xe2\x82",
                                          "\xf0\x9f\x98",
                                          "\x80",
                                          "\xbf",
                                          "\xc0\x80",
                                          "\xed\xa0\x80",
                                          "\xf4\x90\x80\x80",
                                          "\xf5",
                                          "\xff",
                                          "plain",
                                          "App/Row 1/Item"};
    constexpr std::size_t kPieceCount = sizeof kPieces / sizeof kPieces[0];
    const std::uint8_t head = byte();
    std::string text;
    if (head < 128) {
      const std::size_t length = std::min<std::size_t>(head % 64, size_ - std::min(at_, size_));
      text.assign(reinterpret_cast<const char*>(data_ + at_), length);
      at_ += length;
      return text;
    }
    for (std::size_t count = head % 8; count > 0; --count) {
      const std::uint8_t piece = byte();
      if (piece < kPieceCount) {
        text += kPieces[piece];
      } else {
        text.push_back(static_cast<char>(piece));
      }
    }
    text.push_back('\0');  // a NUL inside the text, as std::string allows
    const std::uint8_t tail = byte();
    if (tail % 2 == 0) text.pop_back();
    // Now and then a long text, whose escapes may outgrow the size reserved.
    if (tail % 16 == 1) {
      const std::string piece = text.empty() ? std::string("x") : text;
      while (text.size() < 300) text += piece;
    }
    return text;
  }

  // Whole numbers most often, as styles hold them; any bit pattern too.
  double number() {
    switch (byte() % 8) {
      case 0:
      case 1:
        return static_cast<double>(static_cast<std::int16_t>(word(2)));
      case 2:
        return static_cast<double>(static_cast<std::int64_t>(word(8)) >> (byte() % 64));
      case 3: {
        static const double kSpecial[] = {0.0,
                                          -0.0,
                                          1e15,
                                          -1e15,
                                          1e15 - 1,
                                          1e16,
                                          1e-4,
                                          1e-5,
                                          0.1,
                                          std::numeric_limits<double>::min(),
                                          std::numeric_limits<double>::denorm_min(),
                                          std::numeric_limits<double>::max(),
                                          std::numeric_limits<double>::lowest(),
                                          std::numeric_limits<double>::epsilon(),
                                          std::numeric_limits<double>::quiet_NaN(),
                                          -std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity()};
        return kSpecial[byte() % (sizeof kSpecial / sizeof kSpecial[0])];
      }
      case 4:
        return static_cast<double>(static_cast<std::int32_t>(word(4))) /
               static_cast<double>(1 + word(2));
      default: {
        const std::uint64_t bits = word(8);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
      }
    }
  }

  bool done() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Every field of the style that the renderer is told of, by its type; the walk
// follows the table.
void fill_style(Input& in, Ombrix::ResolvedStyle& style) {
  Ombrix::for_each_style_field([&in, &style](auto i) {
    constexpr auto& field = std::get<i>(Ombrix::kStyleFields);
    if constexpr (field.shown != Ombrix::StyleShown::hidden) {
      auto& value = style.*std::remove_cvref_t<decltype(field)>::member;
      using Value = std::remove_cvref_t<decltype(value)>;
      if constexpr (std::is_same_v<Value, std::string>) {
        if (in.byte() % 4 == 0) value = in.text();
      } else if constexpr (std::is_same_v<Value, bool>) {
        value = in.byte() % 2 != 0;
      } else {
        if (in.byte() % 2 == 0) value = in.number();
      }
    }
  });
}

Ombrix::RenderNode make_node(Input& in, int depth, int& budget) {
  Ombrix::RenderNode node;
  --budget;
  // Two kinds past the last one: the writers must agree on those as well.
  node.type = static_cast<Ombrix::NodeType>(in.byte() % 16);
  node.name = in.text();
  node.path = in.text();
  if (in.byte() % 2 == 0) node.text = in.text();
  fill_style(in, node.style);
  if (node.type == Ombrix::NodeType::qr && in.byte() % 4 != 0) node.style.qrData.clear();
  for (int options = in.byte() % 3; options > 0; --options) {
    node.comboOptions.push_back({in.text(), in.text()});
  }
  node.comboSelected = in.text();
  for (int children = in.byte() % 4; children > 0 && depth < 6 && budget > 0; --children) {
    node.children.push_back(make_node(in, depth + 1, budget));
  }
  return node;
}

[[noreturn]] void differ(const char* what, const std::string& direct, const std::string& library) {
  std::fprintf(stderr, "%s: the writers differ\n direct:  %s\n library: %s\n", what, direct.c_str(),
               library.c_str());
  std::abort();
}

void compare(const char* what, const std::string& direct, const std::string& library) {
  if (direct != library) differ(what, direct, library);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const auto dump = [](const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  switch (in.byte() % 4) {
    case 0:  // strings
      while (!in.done()) {
        const std::string text = in.text();
        std::string direct;
        Ombrix::append_json_string(direct, text);
        compare("string", direct, dump(Json(text)));
      }
      break;
    case 1:  // doubles
      while (!in.done()) {
        const double value = in.number();
        std::string direct;
        Ombrix::append_json_number(direct, value);
        compare("double", direct, dump(Json(value)));
      }
      break;
    case 2: {  // a tree
      int budget = 64;
      const Ombrix::RenderNode tree = make_node(in, 0, budget);
      compare("tree", Ombrix::node_json(tree), Ombrix::reference_node_json(tree));
      break;
    }
    default: {  // a patch list
      std::vector<Ombrix::Patch> patches;
      int budget = 64;
      for (int count = in.byte() % 8; count > 0; --count) {
        Ombrix::Patch patch;
        patch.kind = static_cast<Ombrix::PatchKind>(in.byte() % 6);
        patch.path = in.text();
        patch.parentPath = in.text();
        patch.index = static_cast<std::int32_t>(in.word(4));
        if (in.byte() % 2 == 0) patch.node = make_node(in, 3, budget);
        patches.push_back(std::move(patch));
      }
      compare("patches", Ombrix::patches_json(patches), Ombrix::reference_patches_json(patches));
      break;
    }
  }
  return 0;
}
