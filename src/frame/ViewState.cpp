#include "frame/ViewState.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "command/Dispatcher.h"
#include "frame/FrameReader.h"
#include "frame/ViewKernels.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

ViewState gView;
ViewUi gViewUi;
const unsigned kBrightnessPresets[10] = {25, 50, 75, 100, 150, 200, 250, 300, 350, 400};
const unsigned kDiffGains[4] = {8, 1, 4, 8};

namespace {

const FrameGeometry& G() {
  return gFramePool.geometry;
}

bool alternating = false;
bool alternationStop = false;

}  // namespace

bool ViewHasPicture() {
  return nOpenAvi > 0 && gFramePool.block != nullptr;
}

bool SetupView() {
  if (nOpenAvi <= 0) return true;
  const OpenAviFile& first = pOpenAviList[0];
  BitmapInfoHeader bi = first.biDecoded;
  int w = bi.biWidth, h = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
  size_t bytes = RgbStride(w) * static_cast<size_t>(h);
  if (gFramePool.block && w == G().width && h == G().height && bytes == G().frameBytes) return true;
  std::vector<uint8_t>().swap(gView.mainBitmap);
  if (!AllocateBuffers(w, h)) {
    Message(MB_OK | MB_ICONSTOP, "必要なメモリが確保できません!");
    return false;
  }
  try {
    gView.mainBitmap.assign(G().stride * static_cast<size_t>(h + 1), 0);
  } catch (const std::bad_alloc&) {
    FreeBuffers();
    // 8: the system's "not enough memory" code.
    Message(MB_OK | MB_ICONSTOP, nullptr, "画像を保持するBITMAPが作成できません! (%08lX)", 8ul);
    return false;
  }
  uint8_t* white = &gView.mainBitmap[G().stride * static_cast<size_t>(h)];
  white[0] = white[1] = white[2] = 0xFF;
  gView.cx = gView.cy = -1;
  gView.sx = gView.sy = 0;
  gView.pictureInBitmap = false;
  if (gViewUi.scrollRangesChanged) gViewUi.scrollRangesChanged();
  return true;
}

void DrawFrame(const uint8_t* src, unsigned flags, const ViewRect* rect) {
  if (!ViewHasPicture() || !src) return;
  const FrameGeometry& g = G();
  int mode = static_cast<int>(flags & DF_MODE_MASK);
  bool difference = (flags & DF_DIFFERENCE) != 0;
  unsigned factor = gView.brightness * (difference ? kDiffGains[gView.diffGain & 3] : 1);
  if (factor != 100) {
    uint8_t* scratch = gFramePool.Slot(kDisplayScratch);
    ScaleBrightness(scratch, src, g.frameBytes, factor);
    src = scratch;
  }
  if (flags & DF_CLEAR) std::memset(gView.mainBitmap.data(), 0, g.stride * static_cast<size_t>(g.height));
  gView.differenceStretch = difference;
  gView.lastMode = mode;
  gView.lastDifference = difference;
  uint8_t* view = gFramePool.Slot(kViewFrame);
  if (mode == 0 || mode == 1) {
    LineDoubleField(view, src, g.height, g.stride, mode);
    gView.pictureInBitmap = false;
  } else if (!gView.fitToWindow && (gView.zoom == 1 || rect)) {
    uint8_t* bmp = gView.mainBitmap.data();
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
    gView.pictureInBitmap = true;
  } else {
    FlipRows(view, src, g.height, g.stride);
    gView.pictureInBitmap = false;
  }
  gView.cx = gView.cy = -1;
}

const uint8_t* PreparedPicture() {
  if (!ViewHasPicture()) return nullptr;
  return gView.pictureInBitmap ? gView.mainBitmap.data() : gFramePool.Slot(kViewFrame);
}

void PaintView(bool clearFirst) {
  if (gViewUi.paint) gViewUi.paint(clearFirst);
}

void ShownSize(int* w, int* h) {
  const FrameGeometry& g = G();
  int z = gView.zoom;
  *w = g.width;
  *h = g.height;
  if (g.width * z > gView.viewWidth && gView.viewWidth > 0) *w = std::max(1, gView.viewWidth / z);
  if (g.height * z > gView.viewHeight && gView.viewHeight > 0) *h = std::max(1, gView.viewHeight / z);
  *w = std::min(*w, g.width);
  *h = std::min(*h, g.height);
}

void ClampScroll() {
  int w, h;
  ShownSize(&w, &h);
  gView.sx = std::clamp(gView.sx, 0, std::max(0, G().width - w));
  gView.sy = std::clamp(gView.sy, 0, std::max(0, G().height - h));
}

void SetViewArea(int width, int height) {
  gView.viewWidth = std::max(0, width);
  gView.viewHeight = std::max(0, height);
  ClampScroll();
}

void DrawCrossCursor(bool keep) {
  if (!ViewHasPicture() || gView.cx < 0 || gView.cy < 0) return;
  const FrameGeometry& g = G();
  int cx = std::min(gView.cx, g.width - 1), cy = std::min(gView.cy, g.height - 1);
  uint8_t* pic = const_cast<uint8_t*>(PreparedPicture());
  if (!gView.pictureInBitmap) {
    uint8_t* row = pic + g.stride * static_cast<size_t>(cy);
    for (size_t i = 0; i < g.lineBytes; ++i) row[i] ^= 0xFF;
    for (int y = 0; y < g.height; ++y) {
      if (y == cy) continue;
      uint8_t* p = pic + g.stride * static_cast<size_t>(y) + 3 * static_cast<size_t>(cx);
      p[0] ^= 0xFF;
      p[1] ^= 0xFF;
      p[2] ^= 0xFF;
    }
  } else {
    // The white pixel inverted over the row (W−1 wide) and the column (H−1 high).
    uint8_t* row = pic + g.stride * static_cast<size_t>(cy);
    for (size_t i = 0; i + 3 < g.lineBytes + 1 && i < 3 * static_cast<size_t>(g.width - 1); ++i)
      row[i] ^= 0xFF;
    for (int y = 0; y < g.height - 1; ++y) {
      uint8_t* p = pic + g.stride * static_cast<size_t>(y) + 3 * static_cast<size_t>(cx);
      p[0] ^= 0xFF;
      p[1] ^= 0xFF;
      p[2] ^= 0xFF;
    }
  }
  if (gViewUi.paintStrip) {
    int z = gView.zoom;
    if (gView.fitToWindow && g.width > 0 && g.height > 0) {
      int x = cx * gView.viewWidth / g.width, y = cy * gView.viewHeight / g.height;
      gViewUi.paintStrip(x, 0, std::max(1, gView.viewWidth / g.width), gView.viewHeight);
      if (y >= 4) gViewUi.paintStrip(0, y, gView.viewWidth, std::max(1, gView.viewHeight / g.height));
    } else {
      int x = (cx - gView.sx) * z, y = (cy - gView.sy) * z;
      gViewUi.paintStrip(x, 0, z, gView.viewHeight);
      if (y >= 4) gViewUi.paintStrip(0, y, gView.viewWidth, z);
    }
  }
  if (!keep) gView.cx = gView.cy = -1;
}

void CenterOn(int x, int y, int* viewX, int* viewY) {
  const FrameGeometry& g = G();
  int z = gView.zoom;
  int vw = gView.viewWidth / z, vh = gView.viewHeight / z;
  int sx = x - vw / 2, sy = y - vh / 2;
  if (sx + vw > g.width) sx = g.width - vw;
  if (sy + vh > g.height) sy = g.height - vh;
  if (sx < 0) sx = 0;
  if (sy < 0) sy = 0;
  gView.sx = sx;
  gView.sy = sy;
  if (viewX) *viewX = (x - sx) * z;
  if (viewY) *viewY = (y - sy) * z;
}

void RedrawCurrent() {
  if (!ViewHasPicture()) {
    PaintView(true);
    return;
  }
  DrawFrame(gFramePool.Slot(kAdjustedFrame), 2);
  PaintView(false);
}

namespace {
void AfterZoom() {
  if (ViewHasPicture()) DrawFrame(gFramePool.Slot(kAdjustedFrame), 2);
  if (gViewUi.scrollRangesChanged) gViewUi.scrollRangesChanged();
  const FrameGeometry& g = G();
  CenterOn(gView.sx + g.width / 2 / std::max(1, gView.zoom),
           gView.sy + g.height / 2 / std::max(1, gView.zoom));
  ClampScroll();
  PaintView(true);
}
}  // namespace

void SetFitToWindow(bool on) {
  gView.fitToWindow = on;
}

void ZoomIn() {
  const FrameGeometry& g = G();
  if (gView.fitToWindow) {
    gView.fitToWindow = false;
    SetCheck(kCmdFitWindow, false, false);
    int z = 1;
    for (int c = 15; c >= 1; --c) {
      if (g.width * c <= gView.viewWidth || g.height * c <= gView.viewHeight) {
        z = c;
        break;
      }
    }
    gView.zoom = z;
  }
  if (gView.zoom < 16) {
    DrawCrossCursor(false);
    ++gView.zoom;
  }
  AfterZoom();
}

void ZoomOut() {
  const FrameGeometry& g = G();
  if (gView.fitToWindow) {
    gView.fitToWindow = false;
    SetCheck(kCmdFitWindow, false, false);
    // Start one above the largest zoom at which the picture fits both ways,
    // so that zooming out from the fitted picture lands on that zoom.
    int z = 1;
    while (z < 16 && g.width * z < gView.viewWidth && g.height * z < gView.viewHeight) ++z;
    gView.zoom = z;
  }
  if (gView.zoom > 1) {
    DrawCrossCursor(false);
    --gView.zoom;
  }
  AfterZoom();
}

void SetBrightness(unsigned percent, bool caption) {
  gView.brightness = percent;
  for (int i = 0; i < 10; ++i) SetCheck(44002 + i, kBrightnessPresets[i] == percent, false);
  if (caption) ShowBrightnessCaption(percent);
}

void BrightnessCommand(int id) {
  unsigned p = gView.brightness;
  if (id >= 44002 && id <= 44011) {
    p = kBrightnessPresets[id - 44002];
  } else if (id == 44012) {
    if (p > 0) p = p >= 10 ? p - 10 : 0;
  } else if (id == 44014) {
    if (p > 0) p -= 1;
  } else if (id == 44013) {
    if (p < 510) p += 10;
  } else if (id == 44015) {
    if (p < 510) p += 1;
  }
  SetBrightness(p);
  RedrawCurrent();
}

void SetDiffGain(int index) {
  gView.diffGain = index & 3;
  for (int i = 1; i <= 3; ++i) SetCheck(47028 + i, gView.diffGain == i, false);
}

bool PixelAt(int viewX, int viewY, int* x, int* y, uint8_t rgb[3]) {
  if (!ViewHasPicture()) return false;
  const FrameGeometry& g = G();
  int px, py;
  if (gView.fitToWindow && gView.viewWidth > 0 && gView.viewHeight > 0) {
    px = static_cast<int>(static_cast<int64_t>(viewX) * g.width / gView.viewWidth);
    py = static_cast<int>(static_cast<int64_t>(viewY) * g.height / gView.viewHeight);
  } else {
    px = viewX / gView.zoom + gView.sx;
    py = viewY / gView.zoom + gView.sy;
  }
  if (px < 0 || py < 0 || px >= g.width || py >= g.height) return false;
  int slot = gView.referenceSource >= 0 ? gView.referenceSource : kAdjustedFrame;
  const uint8_t* frame = gFramePool.Slot(slot);
  const uint8_t* p = frame + g.stride * static_cast<size_t>(g.height - 1 - py) + 3 * static_cast<size_t>(px);
  rgb[0] = p[2];
  rgb[1] = p[1];
  rgb[2] = p[0];
  *x = px;
  *y = py;
  return true;
}

void ShowPixelReadout(int viewX, int viewY) {
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

bool AlternatingFields() {
  return alternating;
}

void StopAlternatingFields() {
  alternationStop = true;
}

void RunAlternatingFields() {
  if (alternating || !ViewHasPicture()) return;
  if (!mixedFields) SetCheck(kCmdMixField, true, true);
  alternating = true;
  alternationStop = false;
  ME.fAbort = 0;
  // Only the view commands reach the window while fields alternate.
  PushBusyState({10032, 11032, 10106, 10111, 10113, 10114, 10115, 12114, 12115, 13037,
                 13038, 13039, 13040, 44000, 44003, 44004, 44005, 44006, 44007, 44008,
                 44009, 44010, 44011, 44012, 44013, 44014, 44015, 21029, 21031});
  RefreshUi();
  int mode = 1;
  while (!alternationStop && !ME.fAbort && ViewHasPicture()) {
    DrawFrame(gFramePool.Slot(kAdjustedFrame), static_cast<unsigned>(mode));
    PaintView(false);
    for (int slice = 0; slice < 5 && !alternationStop && !ME.fAbort; ++slice) {
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
      while (std::chrono::steady_clock::now() < until && !alternationStop && !ME.fAbort) {
        CurrentHost().Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    mode ^= 1;
  }
  ME.fAbort = 0;
  PopBusyState();
  alternating = false;
  RefreshUi();
  RedrawCurrent();
}
