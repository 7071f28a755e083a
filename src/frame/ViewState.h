// The pixel side of the frame view: the prepared picture (DrawFrame),
// brightness and difference gain, zoom, fit-to-window, scrolling, the
// cross-hair and the pixel read-out. The window paints what this prepares.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "frame/FrameReader.h"

enum DrawFrameFlags : unsigned {
  DF_MODE_MASK = 0x0FFFFFFF,
  DF_COMPARE = 0x10000000,
  DF_CLEAR = 0x20000000,
  DF_DIFFERENCE = 0x40000000,
  DF_SHOWN = 0x80000000,
};

struct ViewRect {
  int left, top, right, bottom;
};

// What the view tells the window that paints it; every call may be ignored.
class ViewEvents {
 public:
  virtual ~ViewEvents() = default;
  virtual void Paint(bool clearFirst) { (void)clearFirst; }
  // Repaint of picture strips after the cross-hair moved (x, y, w, h in window pixels).
  virtual void PaintStrip(int x, int y, int w, int h) {
    (void)x;
    (void)y;
    (void)w;
    (void)h;
  }
  virtual void ScrollRangesChanged() {}
  // "表示/輝度%4.2lf(&D)" with the brightness factor.
  virtual void ShowBrightnessCaption(unsigned percent) { (void)percent; }
};

extern const unsigned kBrightnessPresets[10];
extern const unsigned kDiffGains[4];

// The pixel side of the view of one frame reader's pictures.
class ViewState {
 public:
  explicit ViewState(FrameReader& reader) : reader(reader) {}
  ViewState(const ViewState&) = delete;
  ViewState& operator=(const ViewState&) = delete;

  FrameReader& reader;
  ViewEvents* events = nullptr;

  int zoom = 1;  // 1..16
  bool fitToWindow = false;
  int viewWidth = 0, viewHeight = 0;  // VW, VH in window pixels
  int sx = 0, sy = 0;                 // picture pixel at the view's top-left
  unsigned brightness = 100;          // percent
  int diffGain = 0;                   // 0..3
  int lastMode = 2;
  bool lastDifference = false;
  int cx = -1, cy = -1;  // cross-hair
  bool pictureInBitmap = false;
  bool differenceStretch = false;  // STRETCH_ORSCANS for difference pictures
  // W × (H+1) top-down picture (stride of the frames); (0, H) is white.
  std::vector<uint8_t> mainBitmap;
  // The view is showing the reference picture (slot 4 or the shifted reference).
  int referenceSource = -1;

  // True while a file is open and the buffers exist.
  bool ViewHasPicture() const;
  // Makes the buffers and the main bitmap match the first open file; false
  // when they cannot be had (the message has been shown).
  bool SetupView();
  void DrawFrame(const uint8_t* src, unsigned flags, const ViewRect* rect = nullptr);
  void PaintView(bool clearFirst = false);
  // The prepared top-down picture (ViewFrame or the main bitmap).
  const uint8_t* PreparedPicture() const;
  // Inverts the cross-hair at (cx, cy); a second call restores the picture.
  void DrawCrossCursor(bool keep);
  // Scrolls so that the picture point is in the middle; returns its place in
  // the view in window pixels.
  void CenterOn(int x, int y, int* viewX = nullptr, int* viewY = nullptr);
  // Shown source size per axis at the current zoom (w, h picture pixels).
  void ShownSize(int* w, int* h) const;
  void ZoomIn();
  void ZoomOut();
  // Commands 44002..44015.
  void BrightnessCommand(int id);
  // Sets P and the preset check marks; the menu caption too unless quiet.
  void SetBrightness(unsigned percent, bool caption = true);
  void SetDiffGain(int index);
  // Redraws the current picture with mode 2 (after a view setting changed).
  void RedrawCurrent();
  // Pixel under the window point; false when no file is open.
  bool PixelAt(int viewX, int viewY, int* x, int* y, uint8_t rgb[3]) const;
  // "RGB=(%3d,%3d,%3d)" and "XY=(%3ld,%3ld)" into panes 3 and 2 (cleared when none).
  void ShowPixelReadout(int viewX, int viewY) const;
  // Sets the view area; keeps the scroll origin inside the picture.
  void SetViewArea(int width, int height);
  void ClampScroll();

  // Alternating field display (command 41006).
  bool AlternatingFields() const { return alternating_; }
  void RunAlternatingFields();
  void StopAlternatingFields() { alternationStop_ = true; }

 private:
  void AfterZoom();
  const FrameGeometry& G() const { return reader.framePool.geometry; }
  bool alternating_ = false;
  bool alternationStop_ = false;
};
