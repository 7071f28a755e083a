// The waveform strip below the picture: the audio of the shown frame, one
// lane per channel, redrawn on every frame shown (stepping, playback, the
// frames an operation shows) and by command 44026 switched on and off.
#pragma once
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "audio/ReadWave.h"

class MainWindow;
class ShownCapture;

// Two lanes of 64 pixels, the whole 16-bit swing of each stereo channel,
// inside a one-pixel border; one more row so that the lowest swing of the
// second channel (32 below a baseline one row under its lane's middle)
// shows too.
constexpr int kWaveStripHeight = 131;

// Rows [top, bottom] of a picture; empty when top > bottom.
struct RowBand {
  int top = 0, bottom = -1;
};

// Draws the traces of `bytes` of PCM audio in `format` into `strip` (32-bit),
// which the caller filled: one lane of (height - 2) / channels rows per
// channel, channel 0 white, channel 1 red (further channels take the two pens
// in turn). 8- and 16-bit samples only; other sizes draw nothing. Adds the
// rows each trace may have set to `lit`.
void DrawWaveTraces(QImage& strip, const WaveFormatEx& format, const uint8_t* bytes, size_t count,
                    std::vector<RowBand>* lit = nullptr);

class WaveStrip : public QWidget {
 public:
  WaveStrip(ShownCapture& shown, QWidget* parent);

  // frameNo -1: the shown frame, and only when nothing is drawn yet.
  void Draw(int64_t frameNo);
  // Whether the waveform is switched on (the menu check).
  void SetOn(bool on);
  bool On() const { return on_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The engine's count of samples, kept while the audio indexes it was
  // counted from stay the same: counting walks every audio chunk.
  uint64_t TotalSamples();

  ShownCapture& shown_;
  ReadWave engine_;
  ReadWaveSettings settings_;
  std::vector<uint8_t> audio_;
  QImage image_;
  // The rows that are not black; all of them after a fill with the window
  // background, so that the next black fill covers the whole picture.
  std::vector<RowBand> lit_;
  bool on_ = false, drawn_ = false, drawing_ = false;
};

// The main window's strip for frame frameNo (-1: the shown frame when not
// drawn yet); what audio playback and the audio edits call after changing
// the frame or the samples.
void DrawWaveForm(int64_t frameNo);
// Command 44026.
void RegisterWaveStripCommands(MainWindow* window);
