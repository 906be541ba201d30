#include "app_model/qr.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <qrcodegen.hpp>

namespace Ombrix {

QrMatrix encode_qr(const std::string& text) {
  QrMatrix matrix;
  if (text.empty()) return matrix;
  try {
    using qrcodegen::QrCode;
    // The text is handed over as a C string, so a zero byte ends it.
    const QrCode code = QrCode::encodeText(text.c_str(), QrCode::Ecc::MEDIUM);
    const int size = code.getSize();
    std::vector<std::uint8_t> modules(static_cast<std::size_t>(size) * size, 0);
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        modules[static_cast<std::size_t>(y) * size + x] = code.getModule(x, y) ? 1 : 0;
      }
    }
    matrix.size = size;
    matrix.modules = std::move(modules);
  } catch (...) {
    // Too long for any symbol, or out of memory: nothing to paint.
    return QrMatrix{};
  }
  return matrix;
}

}  // namespace Ombrix
