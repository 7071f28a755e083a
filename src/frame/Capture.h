// A capture as the program holds it: a table of files and a frame reader
// with its pool over them. The window owns one, with the view and the
// navigation, for the files it shows; a comparison, composite or copy opens
// the second file into a capture of its own.
#pragma once
#include <cstdint>

#include "audio/AudioDecode.h"
#include "avi/OpenAvi.h"
#include "frame/FrameReader.h"
#include "frame/Navigation.h"
#include "frame/ViewState.h"

struct Capture {
  // A capture is read to be shown: its files open with their decoders, and
  // compressed audio can be decoded to its work file.
  Capture() {
    table.openOptions.videoCodecOpener = VideoDecompressorOpener();
    table.openOptions.decodeAudioStream = [](OpenAviFile* avi) { return DecodeAudioStream(avi); };
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  OpenAviTable table;
  FrameReader reader{table};
};

// Everything the frame reader, the view and the navigation of the shown
// capture tell the window; every call may be ignored.
class FrameWindow : public ViewEvents, public NavigationEvents {
 public:
  virtual void SetScrollPosition(uint32_t frame) { (void)frame; }
  // Resets the frame-correction inputs after a new frame was read.
  virtual void ResetCorrection() {}
  // The waveform strip follows the frame shown (-1: the shown frame, when it
  // is not drawn yet).
  virtual void DrawWaveForm(int64_t frameNo) { (void)frameNo; }
};

// The capture the window shows, with its view and navigation. What reading a
// frame changes reaches the navigation (frame number, time code), the view
// (the picture) and the window.
class ShownCapture : public Capture, private FrameReaderEvents {
 public:
  ShownCapture() { reader.events = this; }

  ViewState view{reader};
  Navigation navigation{table, reader, view};

  // Null: nothing shows the capture (tests, headless forms).
  void SetWindow(FrameWindow* window) {
    window_ = window;
    view.events = window;
    navigation.events = window;
  }
  FrameWindow* Window() const { return window_; }

 private:
  void SetScrollPosition(uint32_t frame) override {
    if (window_) window_->SetScrollPosition(frame);
  }
  void SetFrameNumberText(uint32_t frame) override { navigation.SetFrameNumberText(frame); }
  void ShowTimeCode(uint32_t frame) override { navigation.ShowFrameTimeCode(frame); }
  void RefreshTitle() override { table.SetMainTitle(nullptr); }
  void ShowPicture(const uint8_t* frame) override {
    view.DrawFrame(frame, 2 | DF_SHOWN);
    view.PaintView(false);
  }
  void ResetCorrection() override {
    if (window_) window_->ResetCorrection();
  }
  void DrawWaveForm(int64_t frameNo) override {
    if (window_) window_->DrawWaveForm(frameNo);
  }

  FrameWindow* window_ = nullptr;
};
