#pragma once
// The font style set: bold, italic, underline and strike-out as bits, the way the settings
// store keeps them and the drawing surface applies them.
#include <cstdint>

namespace trawlex {

using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

}  // namespace trawlex
