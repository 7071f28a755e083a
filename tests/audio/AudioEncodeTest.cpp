// PCM encoded block by block into the offered formats; the streams, put in a
// WAVE file with their format, are read back by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <cmath>

#include "TestSupport.h"
#include "audio/AudioCodec.h"
#include "audio/AudioEncode.h"
#include "platform/Riff.h"

namespace {

// One second of a stereo tone at 44.1 kHz, 16 bits.
std::string Tone() {
  std::string pcm;
  for (int i = 0; i < 44100; ++i) {
    int16_t v = static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 44100));
    Put16(pcm, static_cast<uint16_t>(v));
    Put16(pcm, static_cast<uint16_t>(-v));
  }
  return pcm;
}

const EncodableFormat* Find(const std::vector<EncodableFormat>& list, uint16_t tag) {
  for (const auto& f : list)
    if (f.tag == tag) return &f;
  return nullptr;
}

}  // namespace

TEST(AudioEncode, OfferedFormatsRoundTripThroughAWaveFile) {
  ScratchDir dir;
  RecordingHost host;
  std::vector<EncodableFormat> offered = EncodableAudioFormats();
  struct Case {
    const char* codec;  // libavcodec's name, as ffprobe gives it
    AVCodecID id;
    uint16_t bits;
    int frame;  // samples per codec frame (ADPCM: from the format's extra bytes)
  } cases[] = {{"pcm_s16le", AV_CODEC_ID_PCM_S16LE, 16, 1},
               {"pcm_alaw", AV_CODEC_ID_PCM_ALAW, 8, 1},
               {"pcm_mulaw", AV_CODEC_ID_PCM_MULAW, 8, 1},
               {"mp3", AV_CODEC_ID_MP3, 0, 1152},
               {"ac3", AV_CODEC_ID_AC3, 0, 1536},
               {"mp2", AV_CODEC_ID_MP2, 0, 1152},
               {"adpcm_ima_wav", AV_CODEC_ID_ADPCM_IMA_WAV, 4, 0}};
  std::string tone = Tone();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    uint16_t tag = AudioTagOfCodec(c.id);
    const EncodableFormat* f = Find(offered, tag);
    if (c.id == AV_CODEC_ID_MP3 && !f) continue;  // no MP3 encoder on this machine
    ASSERT_NE(f, nullptr);
    EXPECT_NE(std::find(f->bits.begin(), f->bits.end(), c.bits), f->bits.end());
    EXPECT_NE(std::find(f->rates.begin(), f->rates.end(), 44100u), f->rates.end());

    AudioEncoder enc;
    enc.source = {kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
    ASSERT_TRUE(MakeEncodedFormat(tag, 44100, 2, c.bits, 0, &enc.destination));
    const uint32_t block = 17640;  // a tenth of a second
    ASSERT_TRUE(enc.EncodeAudioStream(0, nullptr, block, nullptr, nullptr));
    std::string stream;
    for (uint32_t at = 0; at < tone.size(); at += block) {
      uint32_t n = std::min<uint32_t>(block, static_cast<uint32_t>(tone.size()) - at);
      const uint8_t* out = nullptr;
      uint32_t outBytes = 0;
      bool last = at + n == tone.size();
      ASSERT_TRUE(enc.EncodeAudioStream(last ? 2 : 1, reinterpret_cast<const uint8_t*>(tone.data()) + at, n,
                                        &out, &outBytes));
      stream.append(reinterpret_cast<const char*>(out), outBytes);
    }
    uint32_t total = 0;
    ASSERT_TRUE(enc.EncodeAudioStream(3, nullptr, 0, nullptr, &total));
    EXPECT_EQ(total, stream.size());

    std::string fmt(enc.destination.begin(), enc.destination.end());
    std::string path = dir.File(std::string(c.codec) + ".wav");
    std::string wave = "WAVE" + Chunk("fmt ", fmt) + Chunk("data", stream);
    ASSERT_TRUE(WriteFileBytes(path, "RIFF" + std::string(4, '\0') + wave));
    std::string riff = ReadFileBytes(path);
    uint32_t size = static_cast<uint32_t>(riff.size() - 8);
    for (int i = 0; i < 4; ++i) riff[4 + i] = static_cast<char>(size >> (8 * i));
    ASSERT_TRUE(WriteFileBytes(path, riff));

    std::string probe;
    ASSERT_EQ(
        0, RunCommand("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 '" +
                          path + "'",
                      &probe));
    EXPECT_EQ(probe, std::string(c.codec) + ",44100,2\n");
    std::string decoded;
    ASSERT_EQ(0, RunCommand("ffmpeg -v error -i '" + path + "' -f s16le -", &decoded));
    // The decode runs over by less than one codec frame (the padded last
    // one), after the encoder delay an MP3 header announces (nCodecDelay).
    long samples = static_cast<long>(decoded.size() / 4);
    const long delay = c.id == AV_CODEC_ID_MP3 ? GetLE16(enc.destination.data() + 28) : 0;
    const long frame = c.frame ? c.frame : GetLE16(enc.destination.data() + 18);
    EXPECT_GE(samples - delay, 44100);
    EXPECT_LT(samples - delay, 44100 + frame) << "delay " << delay;
  }
  EXPECT_TRUE(host.boxes.empty());
}

TEST(AudioEncode, FailuresAreReportedOnce) {
  RecordingHost host;
  AudioEncoder enc;
  enc.source = {kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
  // A tag no encoder makes.
  enc.destination.assign(18, 0);
  enc.destination[0] = 0x77;
  enc.destination[1] = 0x77;
  EXPECT_FALSE(enc.EncodeAudioStream(0, nullptr, 4096, nullptr, nullptr));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "オーディオのエンコード初期化に失敗しました!");
  // Blocks without an initialised encoder, or cut inside a sample.
  uint8_t pcm[6] = {};
  EXPECT_FALSE(enc.EncodeAudioStream(1, pcm, 4, nullptr, nullptr));
  ASSERT_TRUE(MakeEncodedFormat(AudioTagOfCodec(AV_CODEC_ID_PCM_ALAW), 44100, 2, 8, 0, &enc.destination));
  ASSERT_TRUE(enc.EncodeAudioStream(0, nullptr, 4096, nullptr, nullptr));
  EXPECT_FALSE(enc.EncodeAudioStream(1, pcm, 6, nullptr, nullptr));
  ASSERT_EQ(host.boxes.size(), 3u);
  EXPECT_EQ(host.boxes[2].text, "オーディオのエンコードでエラーが発生しました!");
  EXPECT_TRUE(enc.EncodeAudioStream(3, nullptr, 0, nullptr, nullptr));
}
