// The sound output that audio playback writes to: buffers are prepared,
// queued, and come back marked done once the device has played them. The
// program's device sits on Qt Multimedia; tests put a double in its place.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/RiffFormats.h"

enum : uint32_t { WHDR_DONE = 0x1, WHDR_PREPARED = 0x2, WHDR_INQUEUE = 0x10 };

struct WaveHeader {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  // A free buffer is marked done.
  uint32_t dwFlags = WHDR_DONE;
  // Where the buffer starts in the bytes written since the device was opened
  // or reset; set by Write.
  uint64_t streamStart = 0;
};

class WaveOut {
 public:
  virtual ~WaveOut() = default;
  // False when there is no device or it refuses the format.
  virtual bool Open(const WaveFormatEx& format) = 0;
  virtual bool Prepare(WaveHeader& header) = 0;
  virtual bool Unprepare(WaveHeader& header) = 0;
  // Queues a prepared buffer behind the ones already queued.
  virtual bool Write(WaveHeader& header) = 0;
  // Brings the done flags of the queued buffers up to date.
  virtual void Poll() = 0;
  // Bytes played since the open or the last reset; -1 when the device cannot
  // tell (playback then times the picture by the clock).
  virtual int64_t PlayedBytes() = 0;
  // Drops everything queued; the buffers come back done.
  virtual bool Reset() = 0;
  virtual bool Close() = 0;
};

using WaveOutFactory = std::function<std::unique_ptr<WaveOut>()>;
