// mirdex --save: the files opened as one timeline, saved as a new AVI file by
// the same operation and driver as the menu command. It decodes, so it runs
// in the codec library main() loads on demand.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioEncode.h"
#include "command/CommandIds.h"
#include "edit/Marks.h"
#include "frame/Capture.h"
#include "platform/Host.h"
#include "platform/Riff.h"
#include "platform/VideoCodec.h"
#include "process/AviSave.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr, "mirdex --save: %s\n", why);
  return 2;
}

bool ParseClip(const char* text, AviSaveOptions* o) {
  int32_t v[4];
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    char* end = nullptr;
    long n = std::strtol(p, &end, 10);
    if (end == p || n < -65536 || n > 65536 || *end != (i == 3 ? '\0' : ',')) return false;
    v[i] = static_cast<int32_t>(n);
    p = end + 1;
  }
  o->clipTop = v[0];
  o->clipBottom = v[1];
  o->clipLeft = v[2];
  o->clipRight = v[3];
  return true;
}

int Save(int argc, char** argv, const char* markFile) {
  if (argc < 1) return Usage("no output file");
  const std::string out = argv[0];
  AviSaveOptions options;
  options.forceMixedFields = true;
  long long first = -1, last = -1;
  const char* audioCodec = nullptr;
  int k = 1;
  for (; k < argc && std::strncmp(argv[k], "--", 2) == 0; ++k) {
    const char* a = argv[k];
    const bool hasValue = k + 1 < argc;
    if (std::strcmp(a, "--copy") == 0) {
      options.copy = true;
    } else if (std::strcmp(a, "--uncompressed") == 0) {
      options.copy = false;
      options.codec = 0;
    } else if (std::strcmp(a, "--dv-reference") == 0) {
      options.dvReference = true;
    } else if (std::strcmp(a, "--video-only") == 0) {
      options.audio.videoOnly = true;
    } else if (std::strcmp(a, "--codec") == 0 && hasValue) {
      const char* c = argv[++k];
      if (std::strlen(c) != 4) return Usage("--codec needs a FOURCC of four characters");
      options.codec = MakeFourCC(c[0], c[1], c[2], c[3]);
      options.copy = false;
      bool known = false;
      for (const VideoEncoderInfo& e : VideoEncoderList())
        known = known || SameFourCCNoCase(e.fourcc, options.codec);
      if (!known) {
        std::fprintf(stderr, "mirdex --save: no encoder for %s; these are:\n", c);
        for (const VideoEncoderInfo& e : VideoEncoderList())
          std::fprintf(stderr, "  %s  %s\n", FourCCText(e.fourcc).c_str(), e.description.c_str());
        return 2;
      }
    } else if (std::strcmp(a, "--audio-codec") == 0 && hasValue) {
      audioCodec = argv[++k];
    } else if (std::strcmp(a, "--clip") == 0 && hasValue) {
      if (!ParseClip(argv[++k], &options)) return Usage("--clip needs TOP,BOTTOM,LEFT,RIGHT");
    } else if (std::strcmp(a, "--range") == 0 && hasValue) {
      char* end = nullptr;
      const char* text = argv[++k];
      first = std::strtoll(text, &end, 10);
      if (end == text || *end != '-' || first < 0) return Usage("--range needs A-B with A <= B");
      const char* second = end + 1;
      last = std::strtoll(second, &end, 10);
      if (end == second || *end || last < first) return Usage("--range needs A-B with A <= B");
    } else {
      return Usage((std::string("unknown option ") + a).c_str());
    }
  }
  std::vector<std::string> inputs(argv + k, argv + argc);
  if (inputs.empty()) return Usage("no input file");

  auto shown = std::make_unique<ShownCapture>();
  OpenAviTable& table = shown->table;
  table.openOptions.scanMissingIndexSilently = true;
  table.openOptions.decodeAudioAtOpen = true;
  if (!table.OpenChosenFiles(kCmdOpenAdd, nullptr, inputs) ||
      table.nOpenAvi != static_cast<int>(inputs.size()))
    return 2;
  if (markFile && !ViewThroughMarkFile(table, markFile)) return 2;
  const BitmapInfoHeader bi = table.pOpenAviList[0].biDecoded;
  if (!shown->reader.AllocateBuffers(bi.biWidth, bi.biHeight < 0 ? -bi.biHeight : bi.biHeight)) {
    std::fprintf(stderr, "必要なメモリが確保できません!\n");
    return 2;
  }

  FrameRangeChoice range;
  range.kind = 0;
  if (first >= 0) {
    const uint32_t total = table.TotalFrames();
    if (last >= total) {
      std::fprintf(stderr, "mirdex: the range %lld-%lld is outside frames 0-%lld\n", first, last,
                   static_cast<long long>(total) - 1);
      return 1;
    }
    range.kind = 1;
    shown->navigation.selection.start = first;
    shown->navigation.selection.end = last;
  }
  if (audioCodec && !options.audio.videoOnly) {
    ReadWave wave(table);
    if (wave.State() != TableAudio::kNone) {
      const WaveFormatEx wf = wave.Format();
      if (!MakeEncodedFormatByName(audioCodec, wf.nSamplesPerSec, wf.nChannels, &options.audio.format)) {
        std::fprintf(stderr, "mirdex: no audio encoder %s for %u Hz, %u channels\n", audioCodec,
                     wf.nSamplesPerSec, wf.nChannels);
        return 1;
      }
      options.audio.encodeAudio = true;
    }
  }

  FrameOperationDriver driver(*shown);
  driver.suppressDisplay = true;  // there is no window to show frames in
  AviSaveOperation op(out, options, range);
  const int ok = driver.Run(op);
  return ok == 1 && op.Saved() ? 0 : 1;
}

}  // namespace

// argv: what follows "--save"; `markFile` null: no mark file.
extern "C" __attribute__((visibility("default"))) int MirdexSaveAviMain(int argc, char** argv,
                                                                        const char* markFile) {
  TerminalHost host(stderr, TerminalHost::ProgressFrom::kTitle);
  HostScope scope(&host);
  return Save(argc, argv, markFile);
}
