// Writing processed frames back over their chunks in the open file, with the
// file's own codec: the chunk keeps its size and place, the index does not
// change.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "avi/OpenAvi.h"

class FrameWriteBack {
 public:
  FrameWriteBack();
  ~FrameWriteBack();
  FrameWriteBack(const FrameWriteBack&) = delete;
  FrameWriteBack& operator=(const FrameWriteBack&) = delete;

  // Compresses `frame` (24-bit blue-green-red, interleaved rows bottom-up,
  // `stride` bytes a row, the owner's width and height) with the owner's
  // codec and writes it over the stored chunk of the owner's set-0 frame
  // `localFrame` in one positioned write. `globalFrame` names the frame in
  // messages. Returns "" when written, else the error text (nothing of this
  // frame written). The compressor is opened once per owner and kept.
  std::string Write(OpenAviFile* owner, uint32_t globalFrame, uint32_t localFrame, const uint8_t* frame,
                    size_t stride);
  // End of run: the compressor and any reference file are closed.
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};
