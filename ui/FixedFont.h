// A small bitmap font for text over the camera pictures and in "Ball Display": the printable
// ASCII characters of the X11 misc-fixed 6x13 font (public domain; see FixedFont6x13.cpp and
// scripts/font-table, which made the table from Debian's xfonts-base).
//
// Every glyph fills a cell of kFixedFontWidth x kFixedFontHeight pixels, rows top-down; the
// baseline lies under row kFixedFontAscent - 1. In a row byte bit 7 is the leftmost column
// (only the top 6 bits are used). Text advances by the cell width; there is no kerning.
//
// Threads: constant data, safe from any thread.
#pragma once

#include <cstdint>

namespace epipolar {

inline constexpr int kFixedFontWidth = 6;
inline constexpr int kFixedFontHeight = 13;
inline constexpr int kFixedFontAscent = 11;
inline constexpr int kFixedFontFirst = 32;   // space
inline constexpr int kFixedFontGlyphs = 95;  // 32 (space) to 126 (~)

extern const std::uint8_t kFixedFontRows[kFixedFontGlyphs][kFixedFontHeight];

// The kFixedFontHeight row bytes of character `c`; characters without a glyph (control
// characters, bytes of 127 and above, such as UTF-8 sequences) show as '?'.
inline const std::uint8_t* fixedFontGlyph(char c) {
  const int code = static_cast<unsigned char>(c);
  if (code < kFixedFontFirst || code >= kFixedFontFirst + kFixedFontGlyphs) {
    return kFixedFontRows['?' - kFixedFontFirst];
  }
  return kFixedFontRows[code - kFixedFontFirst];
}

}  // namespace epipolar
