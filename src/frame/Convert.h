// The program's own pixel conversions: uncompressed stream formats to and from
// 24-bit blue-green-red bottom-up frames, and the field-split row layout.
#pragma once
#include <cstddef>
#include <cstdint>

// Bytes of one 24-bit row: 3·W rounded up to a multiple of 4.
inline size_t RgbStride(int width) {
  return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
}

enum class FieldDirection { Split, Join };

// Field-split layout: buffer row i holds interleaved row 2i+1 for i < H/2 and
// row 2i−H for i ≥ H/2 (rows bottom-up), so the top half of the shown picture
// holds one field and the bottom half the other; `swapped` exchanges them.
// Split writes dest row i from src row map(i); Join is the exact inverse. An
// odd height keeps its top row in place and splits the rows below it.
void SplitFields(uint8_t* dest, const uint8_t* src, int height, size_t stride, FieldDirection direction,
                 bool swapped);
// Interleaved row that field-split row i holds.
int FieldSplitSourceRow(int i, int height, bool swapped);

// Decodes one uncompressed frame (`format` is the stream's BITMAPINFOHEADER
// with its masks or palette, `formatSize` bytes) into a 24-bit bottom-up frame
// of RgbStride(W)·|H| bytes at dest. Handles 1, 4, 8 (palette, RLE4, RLE8),
// 16 and 32 bits (default masks or bit fields) and 24 bits, bottom-up or
// top-down. False for unsupported formats and for data that does not fit the
// format (a short chunk, a palette index past the palette); dest is then
// undefined and the caller blanks it.
bool ConvertToRgb(const uint8_t* format, size_t formatSize, const uint8_t* src, size_t srcSize, uint8_t* dest,
                  size_t destSize);

// Encodes a 24-bit bottom-up frame back into the stream's format (24, 16 and
// 32 bits only). Returns the bytes written to dest, or 0 when the format is
// not supported or dest is too small.
size_t ConvertFromRgb(const uint8_t* format, size_t formatSize, const uint8_t* rgb, size_t rgbSize,
                      uint8_t* dest, size_t destCapacity);

// Bytes one frame of the format occupies in the file (rows padded to 4 bytes),
// 0 when the format is not an uncompressed one we can convert.
size_t StreamFrameBytes(const uint8_t* format, size_t formatSize);
