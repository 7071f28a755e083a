// The one road from a frame number to pixels: the frame buffers, ReadFrame
// and ShowFrame, and the conversion between a file's uncompressed format and
// 24-bit frames.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "avi/OpenAvi.h"
#include "frame/Convert.h"

// Program-wide geometry of the frame buffers.
struct FrameGeometry {
  int width = 0, height = 0;
  int halfWidth = 0, halfHeight = 0;
  int negWidth = 0, negHeight = 0, negHalfWidth = 0, negHalfHeight = 0;
  size_t lineBytes = 0;  // 3·W
  size_t stride = 0;     // 3·W rounded up to 4
  size_t frameBytes = 0;
};

enum FrameSlot : int {
  kCurrentFrame = 0,
  kAdjustedFrame = 1,
  kReferenceFrame = 2,
  kShiftedReference = 3,
  kWorkFrame4 = 4,
  kViewFrame = 5,
  kCompareFrame = 6,
  kCompareAdjusted = 7,
  kWorkFrame8 = 8,
  kWorkFrame9 = 9,
  kRawChunk = 10,
  kDecodeTarget = 11,
  kDisplayScratch = 12,
  kFrameSlots = 13,
};

constexpr int kFrameArrays = 11;

struct FramePool {
  FrameGeometry geometry;
  uint8_t* block = nullptr;  // 13 frames, consecutive
  uint8_t* undoRecords = nullptr;
  size_t undoRecordCount = 0;  // 6-byte records
  uint8_t* undoSteps = nullptr;
  size_t undoStepCount = 0;  // 8-byte steps
  uint8_t* arrayBlock = nullptr;
  uint8_t* arrays[kFrameArrays] = {};
  size_t arrayBytes[kFrameArrays] = {};

  uint8_t* Slot(int slot) const {
    return block ? block + geometry.frameBytes * static_cast<size_t>(slot) : nullptr;
  }
};

enum ReadFrameFlags : unsigned {
  RF_NO_SCROLL = 0x001,
  RF_KEEP_POSITION = 0x002,
  RF_NO_RECORD = 0x004,
  RF_NO_SWITCH = 0x008,
  RF_NO_SHIFT_DISPLAY = 0x010,
  RF_KEEP_CORRECTION = 0x020,
  RF_NO_TITLE = 0x040,
  RF_NO_NUMBER_TEXT = 0x080,
  RF_RAW_INTO_DEST = 0x100,
  RF_HEAD_ONLY = 0x200,
  RF_SWAP_FIELDS = 0x400,
  RF_APPLY_FIELD_SHIFT = 0x800,
  // A frame that an intra-only decoder makes stays as the decoder's picture
  // (its Picture()): nothing is converted into dest. Frames read any other
  // way fill dest as usual.
  RF_DECODER_PICTURE_ONLY = 0x1000,
};
constexpr uint32_t kHeadOnlyBytes = 0x114;
constexpr int kRefLocated = 0x10;

// What reading a frame tells whoever shows it; every call may be ignored.
class FrameReaderEvents {
 public:
  virtual ~FrameReaderEvents() = default;
  virtual void SetScrollPosition(uint32_t frame) { (void)frame; }
  virtual void SetFrameNumberText(uint32_t frame) { (void)frame; }
  virtual void ShowTimeCode(uint32_t frame) { (void)frame; }
  // The current file changed: the title names it.
  virtual void RefreshTitle() {}
  // DrawFrame + PaintView of the picture (ShowFrame).
  virtual void ShowPicture(const uint8_t* frame) { (void)frame; }
  // The waveform strip of global frame frameNo (-1: the shown frame, when it
  // is not drawn yet).
  virtual void DrawWaveForm(int64_t frameNo) { (void)frameNo; }
  // Resets the frame-correction inputs (unless RF_KEEP_CORRECTION).
  virtual void ResetCorrection() {}
};

// The one road from a frame number of a table of files to pixels: the frame
// pool of the table's geometry, one chunk buffer, the shown frame numbers.
// Each capture has its own reader; the decoders' positions live on the
// records of its table.
class FrameReader {
 public:
  explicit FrameReader(OpenAviTable& table) : table(table) {}
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;
  ~FrameReader() { FreeBuffers(); }

  OpenAviTable& table;
  FramePool framePool;
  // Off: frames are delivered in the field-split layout.
  bool mixedFields = true;
  // Shown frame and the one shown before it (global numbers).
  uint32_t currentFrame = 0, previousFrame = 0;
  // Null: nobody shows what is read.
  FrameReaderEvents* events = nullptr;

  // Frees and rebuilds the pool for W × H; on failure everything is freed
  // and the geometry is 0 × 0 (the caller reports it).
  bool AllocateBuffers(int width, int height);
  void FreeBuffers();
  uint8_t* Slot(int slot) const { return framePool.Slot(slot); }

  // avi null: frameNo is a global number over the table. dest null:
  // bookkeeping only. True when the frame (black for a null frame) is in dest.
  bool ReadFrame(OpenAviFile* avi, uint8_t* dest, uint8_t* adjustedDest, uint32_t frameNo, unsigned flags);
  // ReadFrame, then the picture to whoever shows it.
  bool ShowFrame(OpenAviFile* avi, uint8_t* dest, uint8_t* adjustedDest, uint32_t frameNo, unsigned flags);
  // The frame shown with the current buffers and the field shift (the usual call).
  bool ShowCurrent(uint32_t frameNo, unsigned extraFlags = 0);

  // The bytes of the last good RF_RAW_INTO_DEST or RF_HEAD_ONLY read: dest,
  // or the chunk buffer when the chunk did not fit a frame (dest untouched).
  const uint8_t* RawData() const { return rawData_; }
  size_t RawSize() const { return rawSize_; }

  // Forgets every file's frame getter (after the file set changed).
  void ForgetFrameReaders();
  // Chunks handed to decoders by ReadFrame so far (stepping costs one each).
  uint64_t FrameDecodeCount() const { return decodeCount_; }

 private:
  bool LocateGlobal(uint32_t frameNo, int* file, uint32_t* base);
  FrameReaderState& StateOf(OpenAviFile* avi);

  // The one chunk buffer for every file, with libavcodec's input padding.
  ChunkBytes chunk_;
  uint64_t decodeCount_ = 0;
  const uint8_t* rawData_ = nullptr;
  size_t rawSize_ = 0;
};

// The file a reference chunk of `avi` names: the recorded name when it
// exists, else the same base name beside `avi`.
std::string ResolveReferencePath(const OpenAviFile* avi, const std::string& name);

enum class ConvertDirection { ToRgb, FromRgb };
// ToRgb: a chunk of the file's uncompressed format into a 24-bit frame
// (destSize bytes); FromRgb: a 24-bit frame into the file's format. Returns
// false when the format is not supported or the data does not fit.
bool ConvertFromStreamFormat(const OpenAviFile* avi, const uint8_t* src, size_t srcSize, uint8_t* dest,
                             size_t destSize, ConvertDirection direction, size_t* written = nullptr);
