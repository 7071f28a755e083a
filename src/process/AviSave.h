// "AVIファイルに保存": the frames of the current view written as a new AVI
// file, copied as stored, recompressed with a chosen codec, uncompressed
// 24-bit, or as DV reference records that point into the source; the audio
// of every 30 frames as PCM or encoded. Runs through the batch driver.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioEncode.h"
#include "audio/ReadWave.h"
#include "avi/AviOutput.h"
#include "process/FrameOperation.h"

class VideoCompressor;
class VideoEncoder;

struct AviSaveOptions {
  // "再圧縮なし": each frame's chunk as stored.
  bool copy = false;
  // The chosen codec's FOURCC, 0 uncompressed 24-bit.
  uint32_t codec = 0;
  // The configure step's text for the codec ("name=value:...").
  std::string codecOptions;
  // Copy mode: a kept segment that starts with a delta frame is written as
  // it is instead of being recompressed up to the next key frame.
  bool keepDeltaSegments = false;
  // "再圧縮フレーム数": the least number of frames such a run recompresses.
  uint32_t recompressFrames = 0;
  // DV sources: reference records into the source instead of frame data.
  bool dvReference = false;
  // Pixels removed from each side; a negative number adds black.
  int32_t clipTop = 0, clipBottom = 0, clipLeft = 0, clipRight = 0;
  AudioOutputChoice audio;
  // The command came with Shift or Ctrl: interleaved frames are forced.
  bool forceMixedFields = false;
};

// "保存するAVIファイル名は開いているAVIファイル名です!" when `path` is one
// of the table's files, by any name (a link, another path to it); else "".
std::string OpenedFileRefusal(const OpenAviTable& table, const std::string& path);
// The save dialog's rule: a name without ".avi" (case ignored) gets it.
std::string WithAviExtension(const std::string& path);

class AviSaveOperation : public FrameOperation {
 public:
  AviSaveOperation(std::string output, AviSaveOptions options, FrameRangeChoice range);
  ~AviSaveOperation() override;

  int Command() const override;
  std::string Name() const override { return "AVIファイル保存"; }
  const FrameRangeChoice* RangeChoice() const override { return &range_; }
  bool NeedsMixedFields() const override { return options_.forceMixedFields; }
  // The loop showed the frames it wrote, or none of them.
  bool ShowsCurrentFrameAtEnd() const override { return true; }
  bool SetUp(FrameOperationDriver& d) override;
  void LogStart(FrameOperationDriver& d) override;
  // Reads through the writer: each frame is written as it is read.
  bool Read(FrameOperationDriver& d) override;
  void Display(FrameOperationDriver& d) override;
  void End(FrameOperationDriver& d) override;

  // Size of one RIFF part of the output (tests make it small).
  uint64_t partLimit = uint64_t{1} << 30;
  // Whether the run left a finished file at the output name.
  bool Saved() const { return saved_; }
  // Frames written by recompression with the source's own codec.
  uint32_t RecompressedFrames() const { return recompressed_; }

 private:
  enum class Mode { kCopy, kRecompress, kUncompressed, kDvReference };

  bool Prepare(FrameOperationDriver& d);
  bool WriteAudioBlock(FrameOperationDriver& d);
  bool WriteReference(FrameOperationDriver& d, OpenAviFile* file, FrameIndexEntry entry);
  bool WriteCopy(FrameOperationDriver& d, OpenAviFile* file, uint32_t local, FrameIndexEntry entry,
                 bool segmentStart);
  bool WriteDecoded(FrameOperationDriver& d, const OpenAviFile* file);
  bool CompressWithSourceCodec(FrameOperationDriver& d, OpenAviFile* file, uint32_t local, bool first);
  // The decoded frame (adjusted slot) joined to interleaved rows and clipped.
  const uint8_t* ClippedFrame(FrameOperationDriver& d);
  bool Fail(FrameOperationDriver& d, const std::string& text);

  std::string output_;
  AviSaveOptions options_;
  FrameRangeChoice range_;
  Mode mode_ = Mode::kCopy;
  AviOutput out_;
  bool created_ = false, saved_ = false, stopped_ = false;
  // The frame of this pass was decoded (the display shows it).
  bool decoded_ = false;
  // The file whose last picture went to the encoder as the decoder made it.
  const OpenAviFile* pictureFile_ = nullptr;
  int outWidth_ = 0, outHeight_ = 0;
  size_t outStride_ = 0;
  std::vector<uint8_t> clipped_;
  std::unique_ptr<VideoEncoder> encoder_;
  std::vector<uint8_t> chunk_;

  // Audio.
  bool audio_ = false, encodeAudio_ = false;
  std::unique_ptr<ReadWave> wave_;
  ReadWaveSettings waveSettings_;
  std::vector<uint8_t> audioBuffer_;
  AudioEncoder audioEncoder_;
  uint16_t audioBlockAlign_ = 1;
  uint64_t audioTotal_ = 0;

  // Copy mode's recompressed runs with the source's codec.
  bool inRun_ = false;
  uint32_t runFrames_ = 0, recompressed_ = 0;
  int lastFile_ = -1;
  int64_t lastSet0_ = -1;
  uint32_t planned_ = 0;
  const OpenAviFile* codecFile_ = nullptr;
  std::unique_ptr<VideoCompressor> sourceCompressor_;
  std::unique_ptr<VideoEncoder> sourceEncoder_;
};
