#include "app/WaveStrip.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "app/MainWindow.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "settings/MirdexSettings.h"

namespace {

constexpr QRgb kPens[2] = {qRgb(255, 255, 255), qRgb(255, 0, 0)};

// A line from (x0, y0) up to but without (x1, y1), so that a polyline sets
// each joint once; pixels outside the picture are skipped.
void LineTo(QRgb* bits, qsizetype pitch, int w, int h, int x0, int y0, int x1, int y1, QRgb colour) {
  if (x0 == x1) {
    // Most segments: several samples fall on one column.
    if (static_cast<unsigned>(x0) >= static_cast<unsigned>(w)) return;
    const int step = y0 < y1 ? 1 : -1;
    for (; y0 != y1; y0 += step)
      if (static_cast<unsigned>(y0) < static_cast<unsigned>(h)) bits[y0 * pitch + x0] = colour;
    return;
  }
  const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  while (x0 != x1 || y0 != y1) {
    if (static_cast<unsigned>(x0) < static_cast<unsigned>(w) &&
        static_cast<unsigned>(y0) < static_cast<unsigned>(h))
      bits[y0 * pitch + x0] = colour;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

WaveStrip* MainStrip() {
  MainWindow* w = TheMainWindow();
  return w ? dynamic_cast<WaveStrip*>(w->WaveArea()) : nullptr;
}

}  // namespace

void DrawWaveTraces(QImage& strip, const WaveFormatEx& format, const uint8_t* bytes, size_t count,
                    std::vector<RowBand>* lit) {
  const int channels = format.nChannels, bits = format.wBitsPerSample;
  if (!channels || !format.nBlockAlign || (bits != 8 && bits != 16)) return;
  const size_t n = count / format.nBlockAlign;
  const int w = strip.width(), h = strip.height();
  if (!n || w < 2 || h < 2 || strip.depth() != 32) return;
  const double step = static_cast<double>(w - 2) / static_cast<double>(n);
  const int lane = (h - 2) / channels;
  const size_t sampleBytes = static_cast<size_t>(bits / 8);
  QRgb* pixels = reinterpret_cast<QRgb*>(strip.bits());
  const qsizetype pitch = strip.bytesPerLine() / 4;
  for (int c = 0; c < channels; ++c) {
    const int baseline = lane / 2 + 1 + c * lane;
    const QRgb pen = kPens[c % 2];
    int x = 1, y = baseline, low = baseline, high = baseline;
    for (size_t i = 0; i < n; ++i) {
      const size_t at = (i * static_cast<size_t>(channels) + static_cast<size_t>(c)) * sampleBytes;
      if (at + sampleBytes > count) break;
      int s;
      if (bits == 8) {
        s = (bytes[at] - 128) >> 4;
      } else {
        s = static_cast<int16_t>(bytes[at] | (bytes[at + 1] << 8)) >> 10;
      }
      const int nx = static_cast<int>(1 + static_cast<double>(i) * step), ny = baseline - s;
      LineTo(pixels, pitch, w, h, x, y, nx, ny, pen);
      x = nx;
      y = ny;
      low = std::min(low, ny);
      high = std::max(high, ny);
    }
    if (lit) lit->push_back({std::max(low, 0), std::min(high, h - 1)});
  }
}

WaveStrip::WaveStrip(ShownCapture& shown, QWidget* parent)
    : QWidget(parent), shown_(shown), engine_(shown.table) {
  setObjectName("WaveArea");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedHeight(kWaveStripHeight);
  hide();
}

void WaveStrip::SetOn(bool on) {
  on_ = on;
  drawn_ = false;
  setVisible(on);
  Draw(-1);
}

uint64_t WaveStrip::TotalSamples() {
  // The engine keeps its chunk counts while the indexes stay the same.
  return engine_.TotalSamples();
}

void WaveStrip::Draw(int64_t frameNo) {
  // Switched off, the strip is not kept up to date: switching it on draws it.
  if (!on_ || image_.isNull() || drawing_) return;
  drawing_ = true;
  const TableAudio state = engine_.State();
  if (shown_.table.nOpenAvi == 0 || (state != TableAudio::kPcm && state != TableAudio::kDecoded)) {
    image_.fill(palette().color(QPalette::Window));
    lit_.assign(1, {0, image_.height() - 1});
    drawn_ = false;
  } else if (frameNo != -1 || !drawn_) {
    const uint32_t frame = frameNo < 0 ? shown_.reader.currentFrame : static_cast<uint32_t>(frameNo);
    // Only the rows the last traces reached need black again: during
    // playback this is most of the strip's cost otherwise.
    for (const RowBand& b : lit_)
      if (b.top <= b.bottom)
        std::fill_n(reinterpret_cast<QRgb*>(image_.scanLine(b.top)),
                    (b.bottom - b.top + 1) * (image_.bytesPerLine() / 4), qRgb(0, 0, 0));
    lit_.clear();
    // Only what the audio holds counts: the engine pads a frame past its end
    // with silence, which the strip leaves black.
    const SampleRange range = engine_.FrameRange(frame, 1);
    const uint64_t end = std::min(range.end, TotalSamples());
    const WaveFormatEx format = engine_.Format();
    if (range.first < end) {
      ReadWaveRequest request;
      request.firstFrame = frame;
      request.frameCount = 1;
      request.buffer = &audio_;
      if (engine_.Run(kWaveFrameRangeToBuffer, settings_, request)) {
        const size_t bytes = std::min<uint64_t>(audio_.size(), (end - range.first) * format.nBlockAlign);
        DrawWaveTraces(image_, format, audio_.data(), bytes, &lit_);
      }
    }
    drawn_ = true;
  }
  update();
  drawing_ = false;
}

void WaveStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // The one-pixel border keeps the window background; the strip's picture
  // shows inside it.
  const QColor background = palette().color(QPalette::Window);
  const int w = width(), h = height();
  if (image_.isNull() || w <= 2 || h <= 2) {
    p.fillRect(rect(), background);
    return;
  }
  p.fillRect(0, 0, w, 1, background);
  p.fillRect(0, h - 1, w, 1, background);
  p.fillRect(0, 1, 1, h - 2, background);
  p.fillRect(w - 1, 1, 1, h - 2, background);
  p.drawImage(QPoint(1, 1), image_, QRect(1, 1, w - 2, h - 2));
}

void WaveStrip::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  image_ = QImage(size(), QImage::Format_RGB32);
  if (!image_.isNull()) image_.fill(Qt::black);
  lit_.clear();
  drawn_ = false;
  Draw(-1);
}

void DrawWaveForm(int64_t frameNo) {
  if (WaveStrip* strip = MainStrip()) strip->Draw(frameNo);
}

void RegisterWaveStripCommands(MainWindow* window) {
  RegisterCommand(
      kCmdShowWave,
      [window](int id, CommandSource src) {
        mirdexSettings.showWave = ToggleCheck(id, src, mirdexSettings.showWave);
        if (auto* strip = dynamic_cast<WaveStrip*>(window->WaveArea()))
          strip->SetOn(mirdexSettings.showWave != 0);
      },
      [] { return true; });
}
