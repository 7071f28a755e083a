// Compressed AVI audio decoded to the PCM work file, over files the ffmpeg
// tool makes; the samples are compared with ffmpeg's own decode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"
#include "audio/AudioDecode.h"
#include "avi/AviReader.h"
#include "platform/AppState.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A short AVI with raw video and a sine tone in `codec`.
std::string MakeAvi(const ScratchDir& dir, const std::string& codec, double seconds = 1.5, int channels = 2,
                    int rate = 44100) {
  std::string path = dir.File(codec + ".avi");
  std::string cmd =
      "ffmpeg -v error -y -f lavfi -i testsrc2=size=32x24:rate=10 -f lavfi -i sine=f=440:sample_rate=" +
      std::to_string(rate) + " -t " + std::to_string(seconds) + " -ac " + std::to_string(channels) +
      " -c:v rawvideo -pix_fmt bgr24 -c:a " + codec + " '" + path + "'";
  return RunCommand(cmd) == 0 ? path : std::string();
}

// The data chunk of the work file, read through the record's audio routing.
std::string WorkFileData(OpenAviFile* avi) {
  std::string data;
  for (uint32_t i = 0; i < avi->dwIndexPCM; ++i) {
    uint32_t size = IndexSize(avi->pIndexPCM[i]);
    std::string piece(size, '\0');
    EXPECT_GE(MyAviSeek(avi, nullptr, IndexOffset(avi->pIndexPCM[i]), 0, true), 0);
    EXPECT_EQ(MyAviRead(avi, nullptr, piece.data(), size, true), size);
    data += piece;
  }
  return data;
}

bool OpenRecord(OpenAviFile* avi, const std::string& path, bool decode) {
  avi->szFileName = path;
  avi->options.decodeAudioAtOpen = decode;
  avi->options.decodeAudioStream = [](OpenAviFile* a) { return DecodeAudioStream(a); };
  return CloseOpenAvi(avi, 1);
}

}  // namespace

TEST(AudioDecode, SamplesEqualFfmpegsDecodeAndTheWorkFileGoesWithTheRecord) {
  ScratchDir dir;
  RecordingHost host;
  for (const char* codec : {"libmp3lame", "ac3", "mp2", "adpcm_ima_wav", "pcm_alaw", "pcm_mulaw"}) {
    SCOPED_TRACE(codec);
    std::string path = MakeAvi(dir, codec);
    ASSERT_FALSE(path.empty());
    OpenAviFile avi;
    ASSERT_TRUE(OpenRecord(&avi, path, true));
    ASSERT_EQ(avi.nAudioKind, -1);
    ASSERT_TRUE(avi.hmmioPCM);
    std::string expected;
    ASSERT_EQ(0, RunCommand("ffmpeg -v error -i '" + path + "' -vn -f s16le -", &expected));
    ASSERT_GT(expected.size(), 100000u);
    std::string ours = WorkFileData(&avi);
    EXPECT_EQ(ours.size(), expected.size());
    EXPECT_TRUE(ours == expected);
    EXPECT_EQ(avi.dwSamplesPCM, ours.size() / 4);
    EXPECT_FALSE(host.status[0].empty());

    // The work file is a WAVE file of the decoded format with the signature.
    std::string file = ReadFileBytes(avi.szPCMFile);
    ASSERT_GT(file.size(), 44u);
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(file.substr(8, 4), "WAVE");
    EXPECT_NE(file.find("This file is made by Mirdex Ver 1.02."), std::string::npos);

    std::string work = avi.szPCMFile;
    CloseOpenAvi(&avi, 0);
    EXPECT_FALSE(Exists(work));
    EXPECT_TRUE(avi.szPCMFile.empty());
  }
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(host.titleSuffixes.back(), "");
}

TEST(AudioDecode, PiecesOfTheWorkFileAndFailureLeavesNothing) {
  ScratchDir dir;
  RecordingHost host;
  std::string path = MakeAvi(dir, "pcm_alaw", 1.0, 1, 8000);
  ASSERT_FALSE(path.empty());
  OpenAviFile avi;
  ASSERT_TRUE(OpenRecord(&avi, path, false));
  ASSERT_FALSE(avi.hmmioPCM);
  // 8000 mono samples, 16000 bytes: three pieces of 6000 and the rest.
  ASSERT_TRUE(DecodeAudioStream(&avi, 6000));
  ASSERT_EQ(avi.dwIndexPCM, 3u);
  EXPECT_EQ(IndexSize(avi.pIndexPCM[0]), 6000u);
  EXPECT_EQ(IndexSize(avi.pIndexPCM[2]), 4000u);
  EXPECT_EQ(IndexOffset(avi.pIndexPCM[1]), IndexOffset(avi.pIndexPCM[0]) + 6000);
  EXPECT_EQ(avi.dwSamplesPCM, 8000u);
  // Open already: nothing happens.
  EXPECT_TRUE(DecodeAudioStream(&avi, 100));
  EXPECT_EQ(avi.dwIndexPCM, 3u);

  // A format no codec knows fails, reports once and leaves no work file.
  ASSERT_TRUE(OpenRecord(&avi, path, false));
  avi.pwfAudio[0] = 0x77;
  avi.pwfAudio[1] = 0x77;
  EXPECT_FALSE(DecodeAudioStream(&avi));
  EXPECT_TRUE(avi.szPCMFile.empty());
  EXPECT_FALSE(avi.hmmioPCM);
  EXPECT_TRUE(avi.pIndexPCM.empty());
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "オーディオのデコードに失敗しました!");

  // Esc during the decode is silent and also leaves nothing.
  ASSERT_TRUE(OpenRecord(&avi, path, false));
  host.onPump = [](int) { ME.fAbort = 1; };
  EXPECT_FALSE(DecodeAudioStream(&avi));
  host.onPump = nullptr;
  ME.fAbort = 0;
  EXPECT_TRUE(avi.szPCMFile.empty());
  EXPECT_EQ(host.boxes.size(), 1u);
  CloseOpenAvi(&avi, 0);
}
