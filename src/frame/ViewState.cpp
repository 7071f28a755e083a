#include "frame/ViewState.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "command/CommandIds.h"
#include "frame/FrameReader.h"
#include "frame/ViewKernels.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

const unsigned kBrightnessPresets[10] = {25, 50, 75, 100, 150, 200, 250, 300, 350, 400};
const unsigned kDiffGains[4] = {8, 1, 4, 8};

bool ViewState::ViewHasPicture() const {
  // The reader's pool may have been made for the reader alone (SetupView
  // not run): then there is no bitmap to draw into.
  return reader.table.nOpenAvi > 0 && reader.framePool.block != nullptr &&
         mainBitmap.size() >= G().stride * static_cast<size_t>(G().height + 1);
}

bool ViewState::SetupView() {
  if (reader.table.nOpenAvi <= 0) return true;
  const OpenAviFile& first = reader.table.pOpenAviList[0];
  BitmapInfoHeader bi = first.biDecoded;
  int w = bi.biWidth, h = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
  size_t bytes = RgbStride(w) * static_cast<size_t>(h);
  if (reader.framePool.block && w == G().width && h == G().height && bytes == G().frameBytes) return true;
  std::vector<uint8_t>().swap(mainBitmap);
  if (!reader.AllocateBuffers(w, h)) {
    Message(MB_OK | MB_ICONSTOP, "必要なメモリが確保できません!");
    return false;
  }
  try {
    mainBitmap.assign(G().stride * static_cast<size_t>(h + 1), 0);
  } catch (const std::bad_alloc&) {
    reader.FreeBuffers();
    // 8: the system's "not enough memory" code.
    Message(MB_OK | MB_ICONSTOP, nullptr, "画像を保持するBITMAPが作成できません! (%08lX)", 8ul);
    return false;
  }
  uint8_t* white = &mainBitmap[G().stride * static_cast<size_t>(h)];
  white[0] = white[1] = white[2] = 0xFF;
  cx = cy = -1;
  sx = sy = 0;
  pictureInBitmap = false;
  if (events) events->ScrollRangesChanged();
  return true;
}

void ViewState::DrawFrame(const uint8_t* src, unsigned flags, const ViewRect* rect) {
  if (!ViewHasPicture() || !src) return;
  const FrameGeometry& g = G();
  int mode = static_cast<int>(flags & DF_MODE_MASK);
  bool difference = (flags & DF_DIFFERENCE) != 0;
  unsigned factor = brightness * (difference ? kDiffGains[diffGain & 3] : 1);
  if (factor != 100) {
    uint8_t* scratch = reader.framePool.Slot(kDisplayScratch);
    ScaleBrightness(scratch, src, g.frameBytes, factor);
    src = scratch;
  }
  if (flags & DF_CLEAR) std::memset(mainBitmap.data(), 0, g.stride * static_cast<size_t>(g.height));
  differenceStretch = difference;
  lastMode = mode;
  lastDifference = difference;
  uint8_t* view = reader.framePool.Slot(kViewFrame);
  if (mode == 0 || mode == 1) {
    LineDoubleField(view, src, g.height, g.stride, mode);
    pictureInBitmap = false;
  } else if (!fitToWindow && (zoom == 1 || rect)) {
    uint8_t* bmp = mainBitmap.data();
    if (!rect) {
      FlipRows(bmp, src, g.height, g.stride);
    } else {
      // The whole frame stretched (nearest pixel) into the rectangle.
      int l = std::clamp(std::min(rect->left, rect->right), 0, g.width);
      int r = std::clamp(std::max(rect->left, rect->right), 0, g.width);
      int t = std::clamp(std::min(rect->top, rect->bottom), 0, g.height);
      int b = std::clamp(std::max(rect->top, rect->bottom), 0, g.height);
      int rw = r - l, rh = b - t;
      for (int y = 0; y < rh; ++y) {
        int srcTopRow = static_cast<int>(static_cast<int64_t>(y) * g.height / rh);
        const uint8_t* s = src + g.stride * static_cast<size_t>(g.height - 1 - srcTopRow);
        uint8_t* d = bmp + g.stride * static_cast<size_t>(t + y) + 3 * static_cast<size_t>(l);
        for (int x = 0; x < rw; ++x) {
          int sxp = static_cast<int>(static_cast<int64_t>(x) * g.width / rw);
          std::memcpy(d + 3 * static_cast<size_t>(x), s + 3 * static_cast<size_t>(sxp), 3);
        }
      }
    }
    pictureInBitmap = true;
  } else {
    FlipRows(view, src, g.height, g.stride);
    pictureInBitmap = false;
  }
  cx = cy = -1;
}

const uint8_t* ViewState::PreparedPicture() const {
  if (!ViewHasPicture()) return nullptr;
  return pictureInBitmap ? mainBitmap.data() : reader.framePool.Slot(kViewFrame);
}

void ViewState::PaintView(bool clearFirst) {
  if (events) events->Paint(clearFirst);
}

void ViewState::ShownSize(int* w, int* h) const {
  const FrameGeometry& g = G();
  int z = zoom;
  *w = g.width;
  *h = g.height;
  if (g.width * z > viewWidth && viewWidth > 0) *w = std::max(1, viewWidth / z);
  if (g.height * z > viewHeight && viewHeight > 0) *h = std::max(1, viewHeight / z);
  *w = std::min(*w, g.width);
  *h = std::min(*h, g.height);
}

void ViewState::ClampScroll() {
  int w, h;
  ShownSize(&w, &h);
  sx = std::clamp(sx, 0, std::max(0, G().width - w));
  sy = std::clamp(sy, 0, std::max(0, G().height - h));
}

void ViewState::SetViewArea(int width, int height) {
  viewWidth = std::max(0, width);
  viewHeight = std::max(0, height);
  ClampScroll();
}

void ViewState::DrawCrossCursor(bool keep) {
  if (!ViewHasPicture() || cx < 0 || cy < 0) return;
  const FrameGeometry& g = G();
  int crossX = std::min(cx, g.width - 1), crossY = std::min(cy, g.height - 1);
  uint8_t* pic = const_cast<uint8_t*>(PreparedPicture());
  if (!pictureInBitmap) {
    uint8_t* row = pic + g.stride * static_cast<size_t>(crossY);
    for (size_t i = 0; i < g.lineBytes; ++i) row[i] ^= 0xFF;
    for (int y = 0; y < g.height; ++y) {
      if (y == crossY) continue;
      uint8_t* p = pic + g.stride * static_cast<size_t>(y) + 3 * static_cast<size_t>(crossX);
      p[0] ^= 0xFF;
      p[1] ^= 0xFF;
      p[2] ^= 0xFF;
    }
  } else {
    // The white pixel inverted over the row (W−1 wide) and the column (H−1 high).
    uint8_t* row = pic + g.stride * static_cast<size_t>(crossY);
    for (size_t i = 0; i + 3 < g.lineBytes + 1 && i < 3 * static_cast<size_t>(g.width - 1); ++i)
      row[i] ^= 0xFF;
    for (int y = 0; y < g.height - 1; ++y) {
      uint8_t* p = pic + g.stride * static_cast<size_t>(y) + 3 * static_cast<size_t>(crossX);
      p[0] ^= 0xFF;
      p[1] ^= 0xFF;
      p[2] ^= 0xFF;
    }
  }
  if (events) {
    int z = zoom;
    if (fitToWindow && g.width > 0 && g.height > 0) {
      int x = crossX * viewWidth / g.width, y = crossY * viewHeight / g.height;
      events->PaintStrip(x, 0, std::max(1, viewWidth / g.width), viewHeight);
      if (y >= 4) events->PaintStrip(0, y, viewWidth, std::max(1, viewHeight / g.height));
    } else {
      int x = (crossX - sx) * z, y = (crossY - sy) * z;
      events->PaintStrip(x, 0, z, viewHeight);
      if (y >= 4) events->PaintStrip(0, y, viewWidth, z);
    }
  }
  if (!keep) cx = cy = -1;
}

void ViewState::CenterOn(int x, int y, int* viewX, int* viewY) {
  const FrameGeometry& g = G();
  int z = zoom;
  int vw = viewWidth / z, vh = viewHeight / z;
  int left = x - vw / 2, top = y - vh / 2;
  if (left + vw > g.width) left = g.width - vw;
  if (top + vh > g.height) top = g.height - vh;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  sx = left;
  sy = top;
  if (viewX) *viewX = (x - left) * z;
  if (viewY) *viewY = (y - top) * z;
}

void ViewState::RedrawCurrent() {
  if (!ViewHasPicture()) {
    PaintView(true);
    return;
  }
  DrawFrame(reader.framePool.Slot(kAdjustedFrame), 2);
  PaintView(false);
}

void ViewState::AfterZoom() {
  if (ViewHasPicture()) DrawFrame(reader.framePool.Slot(kAdjustedFrame), 2);
  if (events) events->ScrollRangesChanged();
  const FrameGeometry& g = G();
  CenterOn(sx + g.width / 2 / std::max(1, zoom), sy + g.height / 2 / std::max(1, zoom));
  ClampScroll();
  PaintView(true);
}

void ViewState::ZoomIn() {
  const FrameGeometry& g = G();
  if (fitToWindow) {
    fitToWindow = false;
    CurrentHost().SetCheck(kCmdFitWindow, false, false);
    int z = 1;
    for (int c = 15; c >= 1; --c) {
      if (g.width * c <= viewWidth || g.height * c <= viewHeight) {
        z = c;
        break;
      }
    }
    zoom = z;
  }
  if (zoom < 16) {
    DrawCrossCursor(false);
    ++zoom;
  }
  AfterZoom();
}

void ViewState::ZoomOut() {
  const FrameGeometry& g = G();
  if (fitToWindow) {
    fitToWindow = false;
    CurrentHost().SetCheck(kCmdFitWindow, false, false);
    // Start one above the largest zoom at which the picture fits both ways,
    // so that zooming out from the fitted picture lands on that zoom.
    int z = 1;
    while (z < 16 && g.width * z < viewWidth && g.height * z < viewHeight) ++z;
    zoom = z;
  }
  if (zoom > 1) {
    DrawCrossCursor(false);
    --zoom;
  }
  AfterZoom();
}

void ViewState::SetBrightness(unsigned percent, bool caption) {
  brightness = percent;
  for (int i = 0; i < 10; ++i)
    CurrentHost().SetCheck(kCmdBrightness025 + i, kBrightnessPresets[i] == percent, false);
  if (caption && events) events->ShowBrightnessCaption(percent);
}

void ViewState::BrightnessCommand(int id) {
  unsigned p = brightness;
  if (id >= kCmdBrightness025 && id <= kCmdBrightness400) {
    p = kBrightnessPresets[id - kCmdBrightness025];
  } else if (id == kCmdDarker10) {
    if (p > 0) p = p >= 10 ? p - 10 : 0;
  } else if (id == kCmdDarker01) {
    if (p > 0) p -= 1;
  } else if (id == kCmdBrighter10) {
    if (p < 510) p += 10;
  } else if (id == kCmdBrighter01) {
    if (p < 510) p += 1;
  }
  SetBrightness(p);
  RedrawCurrent();
}

void ViewState::SetDiffGain(int index) {
  diffGain = index & 3;
  for (int i = 1; i <= 3; ++i) CurrentHost().SetCheck(kCmdDiffGain1 + i - 1, diffGain == i, false);
}

bool ViewState::PixelAt(int viewX, int viewY, int* x, int* y, uint8_t rgb[3]) const {
  if (!ViewHasPicture()) return false;
  const FrameGeometry& g = G();
  int px, py;
  if (fitToWindow && viewWidth > 0 && viewHeight > 0) {
    px = static_cast<int>(static_cast<int64_t>(viewX) * g.width / viewWidth);
    py = static_cast<int>(static_cast<int64_t>(viewY) * g.height / viewHeight);
  } else {
    px = viewX / zoom + sx;
    py = viewY / zoom + sy;
  }
  if (px < 0 || py < 0 || px >= g.width || py >= g.height) return false;
  int slot = referenceSource >= 0 ? referenceSource : kAdjustedFrame;
  const uint8_t* frame = reader.framePool.Slot(slot);
  const uint8_t* p = frame + g.stride * static_cast<size_t>(g.height - 1 - py) + 3 * static_cast<size_t>(px);
  rgb[0] = p[2];
  rgb[1] = p[1];
  rgb[2] = p[0];
  *x = px;
  *y = py;
  return true;
}

void ViewState::ShowPixelReadout(int viewX, int viewY) const {
  int x, y;
  uint8_t rgb[3];
  if (!PixelAt(viewX, viewY, &x, &y, rgb)) {
    if (!ViewHasPicture()) {
      Status(3, "%s", "");
      Status(2, "%s", "");
    }
    return;
  }
  Status(3, "RGB=(%3d,%3d,%3d)", rgb[0], rgb[1], rgb[2]);
  Status(2, "XY=(%3ld,%3ld)", static_cast<long>(x), static_cast<long>(y));
}

void ViewState::RunAlternatingFields() {
  if (alternating_ || !ViewHasPicture()) return;
  if (!reader.mixedFields) CurrentHost().SetCheck(kCmdMixField, true, true);
  alternating_ = true;
  alternationStop_ = false;
  ME.fAbort = 0;
  // Only the view commands reach the window while fields alternate.
  CurrentHost().PushBusyState(
      {kCmdKeySpace,      kCmdShiftSpace,     kCmdKeyMultiply,    kCmdKeyDivide,     kCmdKeyF2,
       kCmdKeyF3,         kCmdKeyF4,          kCmdCtrlF3,         kCmdCtrlF4,        kCmdCtrlShiftLeft,
       kCmdCtrlShiftUp,   kCmdCtrlShiftRight, kCmdCtrlShiftDown,  kCmdFitWindow,     kCmdBrightness050,
       kCmdBrightness075, kCmdBrightness100,  kCmdBrightness150,  kCmdBrightness200, kCmdBrightness250,
       kCmdBrightness300, kCmdBrightness350,  kCmdBrightness400,  kCmdDarker10,      kCmdBrighter10,
       kCmdDarker01,      kCmdBrighter01,     kCmdNextFieldShift, kCmdPrevFieldShift});
  CurrentHost().RefreshUi();
  int mode = 1;
  while (!alternationStop_ && !ME.fAbort && ViewHasPicture()) {
    DrawFrame(reader.framePool.Slot(kAdjustedFrame), static_cast<unsigned>(mode));
    PaintView(false);
    for (int slice = 0; slice < 5 && !alternationStop_ && !ME.fAbort; ++slice) {
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
      while (std::chrono::steady_clock::now() < until && !alternationStop_ && !ME.fAbort) {
        CurrentHost().Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    mode ^= 1;
  }
  ME.fAbort = 0;
  CurrentHost().PopBusyState();
  alternating_ = false;
  CurrentHost().RefreshUi();
  RedrawCurrent();
}
