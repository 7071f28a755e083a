// Audio playback against a device double driven by a fake clock and against
// a null sink of the sound server; the audio position comparison on files
// whose soundtracks are shifted by a known number of samples.
#include <gtest/gtest.h>

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <cstdlib>

#include "TestSupport.h"
#include "audio/AudioCompare.h"
#include "audio/AudioPlay.h"
#include "frame/Capture.h"
#include "platform/AppState.h"
#include "platform/QtWaveOut.h"

namespace {

const char kPlayError[] = "オーディオの再生でエラーが発生しました!";

// 25 fps video with `seconds` of pink noise at 48 kHz mono; `audioFilter`
// shifts it.
std::string MakeAvi(const ScratchDir& dir, const std::string& name, double seconds,
                    const std::string& audioFilter) {
  std::string path = dir.File(name);
  std::string cmd =
      "ffmpeg -v error -y -f lavfi -i testsrc2=size=32x24:rate=25 -f lavfi -i "
      "anoisesrc=c=pink:r=48000:a=0.5:seed=7:d=" +
      std::to_string(seconds + 1) + " -t " + std::to_string(seconds) +
      (audioFilter.empty() ? "" : " -af " + audioFilter) +
      " -ac 1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '" + path + "'";
  EXPECT_EQ(0, RunCommand(cmd));
  return path;
}

bool Open(Capture& c, const std::string& path) {
  return c.table.OpenOne(path, 1);
}

// A device whose play position runs with the test's clock; `stalled` never
// plays anything.
class ClockDevice : public WaveOut {
 public:
  ClockDevice(const uint64_t& clock, bool stalled, int& resets)
      : clock_(clock), stalled_(stalled), resets_(resets) {}
  bool Open(const WaveFormatEx& wf) override {
    bytesPerMs_ = wf.nSamplesPerSec * wf.nBlockAlign / 1000.0;
    start_ = clock_;
    return true;
  }
  bool Prepare(WaveHeader& h) override {
    h.dwFlags |= WHDR_PREPARED;
    return true;
  }
  bool Unprepare(WaveHeader& h) override {
    h.dwFlags &= ~WHDR_PREPARED;
    return !(h.dwFlags & WHDR_INQUEUE);
  }
  bool Write(WaveHeader& h) override {
    h.dwFlags = (h.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    // A device that ran dry starts again from the new buffer.
    if (queued_ <= static_cast<uint64_t>(PlayedBytes()))
      start_ = clock_ - static_cast<uint64_t>(queued_ / bytesPerMs_);
    h.streamStart = queued_;
    queued_ += h.dwBufferLength;
    queue_.push_back(&h);
    return true;
  }
  void Poll() override {
    while (!queue_.empty() && queue_.front()->streamStart + queue_.front()->dwBufferLength <=
                                  static_cast<uint64_t>(PlayedBytes())) {
      queue_.front()->dwFlags = WHDR_DONE | (queue_.front()->dwFlags & WHDR_PREPARED);
      queue_.erase(queue_.begin());
    }
  }
  int64_t PlayedBytes() override {
    if (stalled_) return 0;
    return std::min<int64_t>(static_cast<int64_t>((clock_ - start_) * bytesPerMs_),
                             static_cast<int64_t>(queued_));
  }
  bool Reset() override {
    ++resets_;
    for (WaveHeader* h : queue_) h->dwFlags = WHDR_DONE | (h->dwFlags & WHDR_PREPARED);
    queue_.clear();
    queued_ = 0;
    start_ = clock_;
    return true;
  }
  bool Close() override { return true; }

 private:
  const uint64_t& clock_;
  bool stalled_;
  int& resets_;
  double bytesPerMs_ = 0;
  uint64_t start_ = 0, queued_ = 0;
  std::vector<WaveHeader*> queue_;
};

// Playback of a capture with a device made by `device`; the clock advances
// 10 ms at every rest and the shown frames are recorded.
struct PlayFixture {
  Capture capture;
  uint64_t clock = 0;
  uint32_t current = 0;
  std::vector<uint32_t> shown;
  int resets = 0;
  std::unique_ptr<AudioPlayer> player;

  explicit PlayFixture(WaveOutFactory device = {}, bool fakeClock = true) {
    AudioPlayHooks hooks;
    hooks.makeDevice =
        device ? device
               : WaveOutFactory([this] { return std::make_unique<ClockDevice>(clock, stalled, resets); });
    hooks.currentFrame = [this] { return current; };
    hooks.goToFrame = [this](uint32_t f) {
      current = f;
      shown.push_back(f);
    };
    if (fakeClock) {
      hooks.ticks = [this] { return clock; };
      hooks.rest = [this] { clock += 10; };
    }
    player = std::make_unique<AudioPlayer>(capture.table, hooks);
  }
  bool stalled = false;
};

}  // namespace

TEST(AudioPlay, ShortSelectionJumpAndStalledDevice) {
  ScratchDir dir;
  const std::string avi = MakeAvi(dir, "a.avi", 8, "");
  {
    // Fewer than 30 frames: one buffer, and the picture ends on the last.
    RecordingHost host;
    PlayFixture f;
    ASSERT_TRUE(Open(f.capture, avi));
    f.current = 40;
    f.player->Play(42001, 40, 51, 0, 0);
    EXPECT_EQ(f.player->BufferStarts(), std::vector<uint32_t>{40});
    ASSERT_FALSE(f.shown.empty());
    EXPECT_EQ(f.shown.back(), 51u);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.status[0].back(), "オーディオ再生終了");
    EXPECT_EQ(ME.fBusy + ME.fAudioPlaying, 0);
  }
  {
    // The user moves the picture to frame 150 while frame ~10 plays: the
    // sound drops what was queued and goes on from there.
    RecordingHost host;
    PlayFixture f;
    ASSERT_TRUE(Open(f.capture, avi));
    host.onPump = [&](int) {
      if (f.clock >= 400 && f.clock < 410) f.current = 150;
    };
    f.player->Play(42000, 0, 199, 0, 0);
    const std::vector<uint32_t>& starts = f.player->BufferStarts();
    ASSERT_GE(starts.size(), 4u);
    EXPECT_EQ(std::vector<uint32_t>(starts.begin(), starts.begin() + 4),
              (std::vector<uint32_t>{0, 30, 150, 180}));
    EXPECT_GE(f.resets, 1);
    for (uint32_t s : f.shown) EXPECT_TRUE(s < 20 || s >= 150) << s;
    EXPECT_EQ(f.shown.back(), 199u);
    EXPECT_TRUE(host.boxes.empty());
  }
  {
    // A device that never finishes a buffer: five seconds, then the error.
    RecordingHost host;
    PlayFixture f;
    f.stalled = true;
    ASSERT_TRUE(Open(f.capture, avi));
    f.player->Play(42000, 0, 199, 0, 0);
    EXPECT_EQ(f.player->LastError(), "Play wave timeout!\n");
    EXPECT_GE(f.clock, 5000u);
    EXPECT_LT(f.clock, 5100u);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, kPlayError);
    EXPECT_EQ(ME.fBusy + ME.fAudioPlaying, 0);
  }
}

// Run by its own test entry with the server address pointing nowhere.
TEST(AudioPlaySound, NoServerGivesThePlaybackError) {
  if (!std::getenv("MX_NO_SOUND_SERVER")) GTEST_SKIP() << "runs with MX_NO_SOUND_SERVER=1 only";
  ScratchDir dir;
  const std::string avi = MakeAvi(dir, "a.avi", 2, "");
  RecordingHost host;
  PlayFixture f([] { return MakeQtWaveOut(); });
  ASSERT_TRUE(Open(f.capture, avi));
  f.player->Play(42000, 0, 49, 0, 0);
  EXPECT_EQ(f.player->LastError(), "waveOutOpen() failed!");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, kPlayError);
}

TEST(AudioPlaySound, PictureFollowsTheNullSink) {
  if (std::getenv("MX_NO_SOUND_SERVER")) GTEST_SKIP();
  if (QMediaDevices::defaultAudioOutput().isNull()) {
    if (std::getenv("MX_REQUIRE_SOUND")) FAIL() << "no sound server";
    GTEST_SKIP() << "no sound server (make test starts one)";
  }
  ScratchDir dir;
  const std::string avi = MakeAvi(dir, "a.avi", 13, "");
  RecordingHost host;
  WaveOut* device = nullptr;
  PlayFixture f(
      [&] {
        auto d = MakeQtWaveOut();
        device = d.get();
        return d;
      },
      false);
  ASSERT_TRUE(Open(f.capture, avi));
  // Samples the frame shown against the frame the sink has played, for ten
  // seconds of sound.
  int samples = 0, near = 0, worst = 0;
  const double bytesPerFrame = 48000 * 2 / 25.0;
  host.onPump = [&](int) {
    QCoreApplication::processEvents();
    if (!device) return;
    int64_t played = device->PlayedBytes();
    if (played <= 0) return;
    if (played > 10 * 48000 * 2) {
      ME.fAbort = 1;
      return;
    }
    int diff = std::abs(static_cast<int>(f.current) - static_cast<int>(played / bytesPerFrame));
    ++samples;
    near += diff <= 1;
    worst = std::max(worst, diff);
  };
  f.player->Play(42000, 0, 324, 0, 0);
  EXPECT_EQ(f.player->LastError(), "");
  EXPECT_GT(samples, 1000);
  EXPECT_GE(near, samples * 95 / 100) << near << " of " << samples;
  EXPECT_LE(worst, 3);
}

TEST(AudioCompare, FindsAKnownShiftBothWaysAndNotIdenticalTracks) {
  ScratchDir dir;
  const std::string a = MakeAvi(dir, "a.avi", 4, "");
  const std::string later = MakeAvi(dir, "later.avi", 4, "adelay=delays=137S");
  const std::string earlier = MakeAvi(dir, "earlier.avi", 4, "atrim=start_sample=251");
  RecordingHost host;
  Capture one, two;
  ASSERT_TRUE(Open(one, a));
  ASSERT_TRUE(Open(two, later));
  AudioCompareResult r = CompareAudioPosition(one.table, two.table, 50, 50);
  EXPECT_EQ(r.kind, AudioCompareResult::kFound);
  EXPECT_EQ(r.offset, -137);
  EXPECT_EQ(host.status[0].back(), "ﾌﾚｰﾑ50.0の音声は" + later + "に比べ137ｻﾝﾌﾟﾙ/0.1ﾌﾚｰﾑ/0.00秒進んでいます");
  ASSERT_TRUE(Open(two, earlier));
  r = CompareAudioPosition(one.table, two.table, 50, 50);
  EXPECT_EQ(r.kind, AudioCompareResult::kFound);
  EXPECT_EQ(r.offset, 251);
  EXPECT_EQ(ME.fBusy, 0);

  // The same soundtrack at the same frames: every offset is 0, which is no
  // match; a file this short leaves no room for displaced pairs.
  const std::string shortA = MakeAvi(dir, "s1.avi", 1.2, ""), shortB = MakeAvi(dir, "s2.avi", 1.2, "");
  ASSERT_TRUE(Open(one, shortA));
  ASSERT_TRUE(Open(two, shortB));
  r = CompareAudioPosition(one.table, two.table, 15, 15);
  EXPECT_EQ(r.kind, AudioCompareResult::kNotDecided);
  EXPECT_EQ(host.status[0].back(), "音声位置比較: 判定できません");
  // Frame 5 has no 10 frames before it.
  r = CompareAudioPosition(one.table, two.table, 5, 5);
  EXPECT_EQ(r.kind, AudioCompareResult::kNoRoom);
  EXPECT_EQ(host.boxes.back().text, "音声位置の比較には前後10フレームの余裕が必要です.");
}
