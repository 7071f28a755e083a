#include "audio/AudioPlay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

constexpr uint32_t kBufferFrames = 30;
constexpr uint64_t kWaitLimitMs = 5000;

// The engine's first sample of frame f (its own rounding), for f ≥ 0.
int64_t SampleOfFrame(double samplesPerFrame, double frame) {
  return static_cast<int64_t>(std::floor(frame * samplesPerFrame + 0.5));
}

}  // namespace

bool ReadSamples(ReadWave& engine, int64_t first, uint64_t count, std::vector<uint8_t>* out) {
  const uint16_t ba = engine.Format().nBlockAlign;
  const double spf = engine.SamplesPerFrame();
  out->assign(count * ba, 0);
  if (!ba || spf <= 0) return false;
  int64_t total = static_cast<int64_t>(engine.TotalSamples());
  int64_t s0 = std::max<int64_t>(first, 0),
          s1 = std::min<int64_t>(first + static_cast<int64_t>(count), total);
  if (s0 >= s1) return true;
  // The frames that cover [s0, s1), found with the engine's own rounding.
  int64_t f0 = static_cast<int64_t>(s0 / spf);
  while (f0 > 0 && SampleOfFrame(spf, static_cast<double>(f0)) > s0) --f0;
  while (SampleOfFrame(spf, static_cast<double>(f0 + 1)) <= s0) ++f0;
  int64_t f1 = static_cast<int64_t>(std::ceil(s1 / spf));
  while (SampleOfFrame(spf, static_cast<double>(f1)) < s1) ++f1;
  if (f0 > UINT32_MAX || f1 - f0 > UINT32_MAX) return false;
  std::vector<uint8_t> piece;
  ReadWaveSettings settings;
  ReadWaveRequest request;
  request.firstFrame = static_cast<uint32_t>(f0);
  request.frameCount = static_cast<uint32_t>(f1 - f0);
  request.buffer = &piece;
  if (!engine.Run(kWaveFrameRangeToBuffer, settings, request)) return false;
  uint64_t from = static_cast<uint64_t>(s0 - SampleOfFrame(spf, static_cast<double>(f0))) * ba;
  uint64_t bytes = static_cast<uint64_t>(s1 - s0) * ba;
  if (from + bytes > piece.size()) bytes = piece.size() > from ? piece.size() - from : 0;
  std::memcpy(out->data() + static_cast<uint64_t>(s0 - first) * ba, piece.data() + from, bytes);
  return true;
}

AudioPlayer::AudioPlayer(OpenAviTable& table, AudioPlayHooks hooks)
    : table_(table), hooks_(std::move(hooks)), engine_(table) {
  if (!hooks_.ticks)
    hooks_.ticks = [] {
      return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
    };
  if (!hooks_.rest) hooks_.rest = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
}

bool AudioPlayer::Fill(WaveHeader& h, int64_t firstSample) {
  if (!ReadSamples(engine_, firstSample, h.dwBufferLength / blockAlign_, &scratch_)) return false;
  std::memcpy(h.lpData, scratch_.data(), h.dwBufferLength);
  return true;
}

void AudioPlayer::Play(int command, uint32_t first, uint32_t last, uint32_t playSync, int32_t waveDelayMs) {
  TableAudio state = engine_.State();
  if (state != TableAudio::kPcm && state != TableAudio::kDecoded) return;
  if (command_ != 0) {
    // A playback that is winding up: stop it and come back afterwards.
    if (windingUp_) {
      ME.fAbort = 1;
      if (hooks_.postAgain) hooks_.postAgain(command);
    }
    return;
  }
  command_ = command;
  error_.clear();
  bufferStarts_.clear();
  ME.fAbort = 0;
  ME.fBusy = 1;
  ME.fAudioPlaying = 1;
  if (hooks_.setInterfaceBusy) hooks_.setInterfaceBusy(true);
  auto finishFlags = [&] {
    ME.fAudioPlaying = 0;
    ME.fBusy = 0;
    if (hooks_.setInterfaceBusy) hooks_.setInterfaceBusy(false);
    command_ = 0;
    windingUp_ = false;
  };

  const WaveFormatEx wf = engine_.Format();
  const double rate = table_.EffectiveFrameRate();
  blockAlign_ = wf.nBlockAlign;
  samplesPerFrame_ = engine_.SamplesPerFrame();
  delaySamples_ =
      static_cast<int64_t>(std::llround(static_cast<double>(waveDelayMs) * wf.nSamplesPerSec / 1000.0));
  const uint64_t bytesPerSec = static_cast<uint64_t>(wf.nSamplesPerSec) * blockAlign_;
  std::vector<uint8_t> buffer;
  uint64_t half = 0;
  try {
    double size = rate > 0 ? std::floor(static_cast<double>(bytesPerSec) * 61 / rate) : -1;
    if (!blockAlign_ || size <= 0 || size > 1e9) throw std::bad_alloc();
    buffer.assign(static_cast<size_t>(size), 0);
    half = static_cast<uint64_t>(size) / 2;
  } catch (const std::bad_alloc&) {
    Message(MB_OK | MB_ICONSTOP, "必要なメモリ(オーディオ再生用)が確保できません!");
    finishFlags();
    return;
  }

  WaveHeader h[2];
  h[0].lpData = buffer.data();
  h[1].lpData = buffer.data() + half;
  uint32_t firstOf[2] = {0, 0}, lastOf[2] = {0, 0};
  std::unique_ptr<WaveOut> device = hooks_.makeDevice ? hooks_.makeDevice() : nullptr;
  bool opened = device && device->Open(wf);
  if (!opened) error_ = "waveOutOpen() failed!";

  if (opened) {
    Status(0, "オーディオ再生中 ESC:終了");
    const int64_t floorNext = command == 42000 ? -30 : static_cast<int64_t>(first) - 30;
    int64_t next = first;
    int cur = 0;
    int64_t lastShown = -1;
    int64_t lastDisplayed = hooks_.currentFrame ? hooks_.currentFrame() : first;
    bool stop = false;
    while (!stop) {
      if (next <= static_cast<int64_t>(last)) {
        uint32_t n = static_cast<uint32_t>(std::min<int64_t>(last - next + 1, kBufferFrames));
        uint32_t from = static_cast<uint32_t>(next);
        WaveHeader& b = h[cur];
        uint64_t samples =
            static_cast<uint64_t>(SampleOfFrame(samplesPerFrame_, static_cast<double>(from) + n) -
                                  SampleOfFrame(samplesPerFrame_, from));
        b.dwBufferLength =
            static_cast<uint32_t>(std::min<uint64_t>(samples * blockAlign_, half - half % blockAlign_));
        if (!Fill(b, SampleOfFrame(samplesPerFrame_, from) - delaySamples_)) {
          error_ = "ReadWave() failed!";
          break;
        }
        firstOf[cur] = from;
        lastOf[cur] = from + n - 1;
        if (!device->Prepare(b)) {
          error_ = Fmt("waveOutPrepareHeader()=%08lX failed!", 1UL);
          break;
        }
        if (!device->Write(b)) {
          error_ = "waveOutWrite() failed!";
          break;
        }
        bufferStarts_.push_back(from);
      }
      const uint64_t t0 = hooks_.ticks();
      cur ^= 1;
      WaveHeader& w = h[cur];
      device->Poll();
      if (!(w.dwFlags & WHDR_DONE)) {
        for (;;) {
          device->Poll();
          if (w.dwFlags & WHDR_DONE) {
            if (!device->Unprepare(w)) {
              error_ = "waveOutUnrepareHeader() failed!";
              stop = true;
            }
            break;
          }
          const uint64_t now = hooks_.ticks();
          int64_t shown;
          int64_t played = device->PlayedBytes();
          if (played >= 0) {
            int64_t into = played - static_cast<int64_t>(w.streamStart);
            shown = into < 0
                        ? -1
                        : firstOf[cur] + static_cast<int64_t>(static_cast<double>(into) / bytesPerSec * rate);
          } else {
            shown = firstOf[cur] + static_cast<int64_t>(static_cast<double>(now - t0) / 1000.0 * rate);
          }
          bool changed = false;
          if (shown >= 0 && shown != lastShown && shown <= lastOf[cur] &&
              (lastShown < 0 || shown > lastShown)) {
            int64_t show = std::min<int64_t>(shown + playSync, last);
            lastShown = shown;
            lastDisplayed = show;
            if (hooks_.goToFrame) hooks_.goToFrame(static_cast<uint32_t>(show));
            changed = true;
          }
          CurrentHost().Pump();
          if (ME.fAbort || !ME.fBusy) {
            stop = true;
            break;
          }
          if (now >= t0 + kWaitLimitMs) {
            error_ = "Play wave timeout!\n";
            stop = true;
            break;
          }
          int64_t current = hooks_.currentFrame ? hooks_.currentFrame() : lastDisplayed;
          if (current != lastDisplayed) {
            // The user moved the picture: the sound follows it.
            if (!device->Reset()) {
              error_ = "waveOutReset() failed!";
              stop = true;
              break;
            }
            if (!device->Unprepare(h[0]) || !device->Unprepare(h[1])) {
              error_ = "waveOutUnrepareHeader() failed!";
              stop = true;
              break;
            }
            next = std::max<int64_t>(current - 30, floorNext);
            lastShown = -1;
            lastDisplayed = current;
            break;
          }
          if (!changed) hooks_.rest();
        }
      } else if (next > static_cast<int64_t>(last) && (h[cur ^ 1].dwFlags & WHDR_DONE)) {
        break;  // everything queued has been played
      }
      if (stop) break;
      next += kBufferFrames;
    }
  }
  windingUp_ = true;
  Finish(device.get(), h, opened);
  if (error_.empty() && !ME.fAbort) {
    if (hooks_.goToFrame) hooks_.goToFrame(last);
  } else if (!error_.empty()) {
    Message(MB_OK | MB_ICONEXCLAMATION, "オーディオの再生でエラーが発生しました!");
  }
  finishFlags();
}

void AudioPlayer::Finish(WaveOut* device, WaveHeader* h, bool opened) {
  if (!opened) return;
  auto fail = [&](const char* text) {
    if (error_.empty()) error_ = text;
  };
  device->Poll();
  if (!(h[0].dwFlags & WHDR_DONE) || !(h[1].dwFlags & WHDR_DONE)) {
    if (!device->Reset()) fail("waveOutReset() failed!");
  }
  if (!device->Unprepare(h[0]) || !device->Unprepare(h[1])) fail("waveOutUnrepareHeader() failed!");
  if (!device->Close()) fail("waveOutClose() failed!");
  Status(0, "オーディオ再生終了");
}
