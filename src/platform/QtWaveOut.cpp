#include "platform/QtWaveOut.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>
#include <deque>

namespace {

class QtWaveOut : public WaveOut {
 public:
  ~QtWaveOut() override { Close(); }

  bool Open(const WaveFormatEx& wf) override {
    Close();
    if (wf.wFormatTag != 1 || !wf.nBlockAlign || !wf.nSamplesPerSec || !wf.nChannels) return false;
    QAudioFormat f;
    f.setSampleRate(static_cast<int>(wf.nSamplesPerSec));
    f.setChannelCount(wf.nChannels);
    if (wf.wBitsPerSample == 8)
      f.setSampleFormat(QAudioFormat::UInt8);
    else if (wf.wBitsPerSample == 16)
      f.setSampleFormat(QAudioFormat::Int16);
    else
      return false;
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(f)) return false;
    sink_ = std::make_unique<QAudioSink>(device, f);
    blockAlign_ = wf.nBlockAlign;
    bytesPerSec_ = static_cast<uint64_t>(wf.nSamplesPerSec) * wf.nBlockAlign;
    if (!Start()) {
      sink_.reset();
      return false;
    }
    return true;
  }

  bool Prepare(WaveHeader& h) override {
    if (!sink_ || !h.lpData) return false;
    h.dwFlags |= WHDR_PREPARED;
    return true;
  }

  bool Unprepare(WaveHeader& h) override {
    if (h.dwFlags & WHDR_INQUEUE) return false;  // still playing
    h.dwFlags &= ~WHDR_PREPARED;
    return true;
  }

  bool Write(WaveHeader& h) override {
    if (!sink_ || !(h.dwFlags & WHDR_PREPARED) || (h.dwFlags & WHDR_INQUEUE)) return false;
    if (!io_ && !Start()) return false;
    h.dwFlags = (h.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    h.streamStart = queuedEnd_;
    queuedEnd_ += h.dwBufferLength;
    queue_.push_back(&h);
    Poll();
    return true;
  }

  void Poll() override {
    if (!sink_) return;
    Feed();
    uint64_t played = static_cast<uint64_t>(PlayedBytes());
    while (!queue_.empty() && queue_.front()->streamStart + queue_.front()->dwBufferLength <= played) {
      queue_.front()->dwFlags = (queue_.front()->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
      queue_.pop_front();
    }
  }

  int64_t PlayedBytes() override {
    if (!sink_ || !io_) return 0;
    // The sink counts what it took; what still waits in its buffer has not
    // been heard yet.
    int64_t processed =
        static_cast<int64_t>(static_cast<double>(sink_->processedUSecs()) * bytesPerSec_ / 1e6);
    int64_t waiting = sink_->bufferSize() - sink_->bytesFree();
    if (sink_->state() == QAudio::IdleState) waiting = 0;
    int64_t p = std::clamp<int64_t>(processed - std::max<int64_t>(waiting, 0), 0, static_cast<int64_t>(fed_));
    p -= p % blockAlign_;
    played_ = std::max(played_, p);
    return played_;
  }

  bool Reset() override {
    if (!sink_) return false;
    sink_->reset();
    io_ = nullptr;
    for (WaveHeader* h : queue_) h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    queue_.clear();
    queuedEnd_ = fed_ = 0;
    played_ = 0;
    return true;
  }

  bool Close() override {
    if (!sink_) return true;
    Reset();
    sink_->stop();
    sink_.reset();
    return true;
  }

 private:
  bool Start() {
    io_ = sink_->start();
    queuedEnd_ = fed_ = 0;
    played_ = 0;
    return io_ && sink_->error() == QAudio::NoError;
  }

  // Hands the sink as much of the queued audio as it has room for.
  void Feed() {
    if (!io_) return;
    for (WaveHeader* h : queue_) {
      uint64_t end = h->streamStart + h->dwBufferLength;
      while (fed_ < end) {
        int64_t room = sink_->bytesFree();
        if (room <= 0) return;
        int64_t n = std::min<int64_t>(room, static_cast<int64_t>(end - fed_));
        int64_t w = io_->write(reinterpret_cast<const char*>(h->lpData + (fed_ - h->streamStart)), n);
        if (w <= 0) return;
        fed_ += static_cast<uint64_t>(w);
      }
    }
  }

  std::unique_ptr<QAudioSink> sink_;
  QIODevice* io_ = nullptr;
  std::deque<WaveHeader*> queue_;
  uint64_t queuedEnd_ = 0, fed_ = 0;
  int64_t played_ = 0;
  uint64_t bytesPerSec_ = 0;
  uint16_t blockAlign_ = 1;
};

}  // namespace

std::unique_ptr<WaveOut> MakeQtWaveOut() {
  return std::make_unique<QtWaveOut>();
}
