#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Ombrix {

// Row-major modules of a QR symbol, 1 dark and 0 light, without quiet zone.
struct QrMatrix {
  std::int32_t size = 0;
  std::vector<std::uint8_t> modules;
};

// Encodes at error correction level MEDIUM; size 0 for empty or unencodable text.
QrMatrix encode_qr(const std::string& text);

}  // namespace Ombrix
