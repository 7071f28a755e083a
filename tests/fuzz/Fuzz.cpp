// libFuzzer targets for every parser of file contents, one source built into
// one executable per target (the compile definition MX_FUZZ_<target> picks it):
//   avi_reader  an AVI file opened as the program opens it, then scanned
//   convert     the pixel converter over a made-up stream format
//   bmp_header  a BITMAPINFOHEADER with its palette or masks, then converted
//   wave_fmt    a WAVE fmt chunk: parsed, and read by Quendrix inside a file
//   wave        a WAVE file opened by the reader, then written and read back
//   profile     an INI file read and written by the profile engine
//   reference   a reference chunk of a DV or "RefCodec" stream
//   marks       stored frame marks and deletion ranges of a file
// Sanitizers catch bad accesses; the targets abort where a result breaks what
// its readers rely on.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Riff.h"
#include "platform/RiffFormats.h"

#if defined(MX_FUZZ_avi_reader)
#include "avi/AviReader.h"
#include "avi/OpenAvi.h"
#elif defined(MX_FUZZ_convert)
#include "frame/FrameReader.h"
#elif defined(MX_FUZZ_bmp_header)
#include "frame/Convert.h"
#elif defined(MX_FUZZ_wave_fmt)
#include "quendrix/WaveAdjust.h"
#elif defined(MX_FUZZ_wave)
#include "audio/WaveFile.h"
#elif defined(MX_FUZZ_profile)
#include "platform/Profile.h"
#elif defined(MX_FUZZ_reference)
#include "platform/VideoCodec.h"
#elif defined(MX_FUZZ_marks)
#include "avi/DeletionView.h"
#include "edit/Marks.h"
#else
#error "define MX_FUZZ_<target>"
#endif

namespace {

class FuzzHost : public Host {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned style) override {
    unsigned type = style & MB_TYPEMASK;
    return type == MB_YESNO ? IDYES : type == MB_OKCANCEL ? IDCANCEL : IDOK;
  }
  void SetStatusText(int, const std::string&) override {}
  void SetTitle(const std::string&) override {}
  void Pump() override {}
};

// The bytes as a file (a memory file named through /proc/self/fd).
[[maybe_unused]] std::string AsFile(const char* tag, const uint8_t* data, size_t size) {
  int fd = memfd_create(tag, 0);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    ssize_t w = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (w <= 0) std::abort();
    done += static_cast<size_t>(w);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

[[maybe_unused]] void Rewrite(const std::string& path, const uint8_t* data, size_t size) {
  int fd = std::atoi(path.c_str() + std::strlen("/proc/self/fd/"));
  if (ftruncate(fd, 0) != 0) std::abort();
  size_t done = 0;
  while (done < size) {
    ssize_t w = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (w <= 0) std::abort();
    done += static_cast<size_t>(w);
  }
}

}  // namespace

#if defined(MX_FUZZ_avi_reader)

// Every input is opened (answering "yes" to the index question, so the scan
// runs too) and, when it opens, every index entry must lie inside the input;
// the scan on one thread and on two must agree.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzHost host;
  static const std::string path = AsFile("avi", nullptr, 0);
  SetHost(&host);
  Rewrite(path, data, size);
  OpenAviFile avi;
  avi.szFileName = path;
  ME.fAbort = 0;
  if (CloseOpenAvi(&avi, 1)) {
    // The counts every reader goes by describe the arrays.
    const AviStreamSet& set = avi.sets[0];
    if (set.FrameMax != set.pFrameIndex.size() || set.WaveIndexEntries != set.pWaveIndex.size() ||
        avi.pFieldShift.size() != set.FrameMax)
      std::abort();
    for (const auto* index : {&avi.sets[0].pFrameIndex, &avi.sets[0].pWaveIndex})
      for (FrameIndexEntry e : *index)
        if (IndexOffset(e) + IndexSize(e) > size) std::abort();
    // Whatever opens, the converters can take.
    if (!FrameSizeUsable(avi.VideoFormat().biWidth, avi.VideoFormat().biHeight)) std::abort();
    // The scan over whatever the file holds, without writing: on one thread,
    // then part by part on two, which must find exactly the same.
    avi.options.scanThreads = 1;
    bool once = RebuildAviIndex(&avi, false);
    std::vector<FrameIndexEntry> video = avi.sets[0].pFrameIndex, audio = avi.sets[0].pWaveIndex;
    uint32_t samples = avi.sets[0].dwWaveSampleCounts;
    avi.options.scanThreads = 2;
    bool twice = RebuildAviIndex(&avi, false);
    if (once != twice || video != avi.sets[0].pFrameIndex || audio != avi.sets[0].pWaveIndex ||
        samples != avi.sets[0].dwWaveSampleCounts)
      std::abort();
    for (FrameIndexEntry e : avi.sets[0].pFrameIndex)
      if (IndexOffset(e) + IndexSize(e) > size) std::abort();
  }
  CloseOpenAvi(&avi, 0);
  return 0;
}

#elif defined(MX_FUZZ_convert)

// The input gives a stream format (bit count, compression, size, masks or
// palette) and the chunk bytes; the frame buffer is exactly as large as the
// format needs, so a write past it or a read past the chunk is caught.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  static const uint16_t kBits[] = {1, 4, 8, 16, 24, 32, 2, 0};
  uint16_t bits = kBits[data[0] & 7];
  uint32_t compression = (data[0] >> 3) & 3;
  int32_t width = 1 + (data[1] | (data[2] & 1) << 8);   // 1..512
  int32_t height = 1 + (data[3] | (data[2] & 2) << 7);  // 1..512
  if (data[2] & 4) height = -height;                    // top-down
  uint32_t clrUsed = data[4] & 0x80 ? data[4] & 0x7F : 0;
  size_t extra = std::min<size_t>(data[5] * 4u, size - 8);  // masks or palette
  std::vector<uint8_t> format(40 + extra);
  BitmapInfoHeader bi{};
  bi.biSize = 40;
  bi.biWidth = width;
  bi.biHeight = height;
  bi.biPlanes = 1;
  bi.biBitCount = bits;
  bi.biCompression = compression;
  bi.biClrUsed = clrUsed;
  StoreBitmapInfoHeader(bi, format.data());
  std::memcpy(format.data() + 40, data + 8, extra);
  const uint8_t* chunk = data + 8 + extra;
  size_t chunkSize = size - 8 - extra;

  static OpenAviFile avi;
  avi.pbiVideo = format;
  int rows = height < 0 ? -height : height;
  size_t frameBytes = RgbStride(width) * static_cast<size_t>(rows);
  // Exact sizes: the sanitizer sees any byte outside them.
  std::vector<uint8_t> src(chunk, chunk + chunkSize), rgb(frameBytes);
  ConvertFromStreamFormat(&avi, src.data(), src.size(), rgb.data(), rgb.size(), ConvertDirection::ToRgb);
  std::vector<uint8_t> back(static_cast<size_t>(width) * 4 * static_cast<size_t>(rows) + (data[6] & 7));
  ConvertFromStreamFormat(&avi, rgb.data(), rgb.size(), back.data(), back.size(), ConvertDirection::FromRgb);
  return 0;
}

#elif defined(MX_FUZZ_bmp_header)

// The input is a video format as a stream's strf holds it, the chunk bytes
// behind it. The palette must lie inside the format, the header must store
// back to its own bytes, and a small picture is converted into an exact
// buffer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BitmapInfo info;
  if (!ParseBitmapInfo(data, size, &info)) return 0;
  size_t formatSize = std::min(size, std::max<size_t>(52, info.headerSize + 4 * size_t{info.paletteEntries}));
  if (!ParseBitmapInfo(data, formatSize, &info)) std::abort();
  if (info.paletteEntries &&
      (info.palette < data + 40 || info.palette + 4 * size_t{info.paletteEntries} > data + formatSize))
    std::abort();
  if (info.hasMasks != (info.header.biCompression == kBiBitfields && formatSize >= 52)) std::abort();
  uint8_t stored[kBitmapInfoHeaderBytes];
  StoreBitmapInfoHeader(info.header, stored);
  if (std::memcmp(stored, data, sizeof stored) != 0) std::abort();
  if (!FrameSizeUsable(info.Width(), info.header.biHeight) ||
      static_cast<int64_t>(info.Width()) * info.Rows() > (1 << 18))
    return 0;
  std::vector<uint8_t> chunk(data + formatSize, data + size);
  std::vector<uint8_t> rgb(RgbStride(info.Width()) * static_cast<size_t>(info.Rows()));
  ConvertToRgb(data, formatSize, chunk.data(), chunk.size(), rgb.data(), rgb.size());
  size_t bytes = StreamFrameBytes(data, formatSize);
  if (bytes && bytes <= (size_t{4} << 20)) {
    std::vector<uint8_t> back(bytes);
    ConvertFromRgb(data, formatSize, rgb.data(), rgb.size(), back.data(), back.size());
  }
  return 0;
}

#elif defined(MX_FUZZ_wave_fmt)

// The input is a fmt chunk: parsed (extensible tail included) and stored
// back, then read by Quendrix inside a WAVE file with a little data.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzHost host;
  SetHost(&host);
  WaveFormatInfo info = ParseWaveFormatInfo(data, size);
  if (info.extensible) {
    if (size < kWaveFormatExtensibleBytes || info.wf.cbSize < 22) std::abort();
    uint8_t stored[kWaveFormatExtensibleBytes];
    StoreWaveFormatExtensible(info, stored);
    if (std::memcmp(stored, data, sizeof stored) != 0) std::abort();
  } else if (info.effectiveTag != info.wf.wFormatTag) {
    std::abort();
  }

  auto chunk = [](const char* id, const uint8_t* p, size_t n) {
    std::string c(id, 4);
    uint8_t le[4];
    PutLE32(le, static_cast<uint32_t>(n));
    c.append(reinterpret_cast<const char*>(le), 4);
    c.append(reinterpret_cast<const char*>(p), n);
    if (n & 1) c.push_back('\0');
    return c;
  };
  std::string body = "WAVE" + chunk("fmt ", data, size) + chunk("data", data, std::min<size_t>(size, 256));
  std::string file = "RIFF" + chunk("xxxx", nullptr, 0).substr(4, 4) + body;
  PutLE32(file.data() + 4, static_cast<uint32_t>(body.size()));
  static const std::string in = AsFile("wave-in", nullptr, 0), out = AsFile("wave-out", nullptr, 0);
  Rewrite(in, reinterpret_cast<const uint8_t*>(file.data()), file.size());
  AdjustOptions options;
  options.range = 16;  // small periods keep the buffers small
  AdjustSession session;
  AdjustCallbacks callbacks;
  callbacks.chooseOutput = [](const FileDialogRequest&, std::string* path) {
    *path = out;
    return true;
  };
  callbacks.addLine = [](const std::string&) {};
  AdjustWave(in, options, &session, callbacks);
  return 0;
}

#elif defined(MX_FUZZ_wave)

// Every input is opened as a WAVE file; what the reader gives must lie inside
// the input and read as far as it says. The format and the first data are
// then written (as RF64 past a low limit) and must read back the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in = AsFile("wave-in", nullptr, 0), out = AsFile("wave-out", nullptr, 0);
  Rewrite(in, data, size);
  WaveReader reader;
  std::string message, note;
  if (!reader.Open(in, 0, &message, &note)) {
    if (message.empty()) std::abort();
    return 0;
  }
  const WaveFileInfo info = reader.Info();
  if (info.BlockAlign() == 0 || info.fmt.size() < 14 || info.dataOffset > size ||
      info.dataBytes > size - info.dataOffset || info.dataBytes > info.declaredBytes ||
      info.truncated != (info.dataBytes < info.declaredBytes) || info.truncated == note.empty() ||
      (info.truncated && info.dataBytes % info.BlockAlign() != 0))
    std::abort();
  // Reads stop at the end of the data, not of the buffer.
  const size_t n = static_cast<size_t>(std::min<uint64_t>(info.dataBytes, 4096));
  std::vector<uint8_t> head(n + 16), tail(n + 16);
  if (reader.ReadData(0, head.data(), n) != static_cast<int64_t>(n) ||
      reader.ReadData(0, tail.data(), tail.size()) !=
          static_cast<int64_t>(std::min<uint64_t>(info.dataBytes, n + 16)) ||
      std::memcmp(head.data(), data + info.dataOffset, n) != 0 ||
      reader.ReadData(info.dataBytes - n, tail.data(), tail.size()) != static_cast<int64_t>(n) ||
      reader.ReadData(info.dataBytes, tail.data(), 1) != 0)
    std::abort();
  if (info.fmt.size() < 16) return 0;

  const size_t whole = n - n % info.BlockAlign();
  WaveWriter writer(64 + size % 4096);
  if (!writer.Create(out, info.fmt.data(), info.fmt.size()) || !writer.Append(head.data(), whole) ||
      !writer.Finish())
    std::abort();
  WaveReader back;
  if (!back.Open(out, 0, &message) || back.Info().fmt != info.fmt || back.Info().dataBytes != whole ||
      back.Info().rf64 != writer.Rf64() ||
      back.ReadData(0, tail.data(), tail.size()) != static_cast<int64_t>(whole) ||
      std::memcmp(tail.data(), head.data(), whole) != 0)
    std::abort();
  return 0;
}

#elif defined(MX_FUZZ_profile)

// The input is an INI file: its sections and keys are read, a value is
// written and must read back.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char templ[] = "/tmp/mx-profile-fuzz-XXXXXX";
    if (!mkdtemp(templ)) std::abort();
    return std::string(templ);
  }();
  const std::string path = dir + "/fuzz.ini";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  ForgetProfileCache();
  std::vector<std::string> sections = GetProfileSections(path);
  char buf[16];
  for (size_t i = 0; i < sections.size() && i < 8; ++i) {
    GetProfileText(sections[i], "key", "default", path);
    GetProfileText(sections[i], "", "", buf, sizeof buf, path);
  }
  if (WriteProfileText("Fuzz", "k", "v", path) && GetProfileText("Fuzz", "k", "", path) != "v") std::abort();
  return 0;
}

#elif defined(MX_FUZZ_reference)

// The first byte picks the stream handler; the rest is the chunk.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const uint32_t kHandlers[] = {FourCC("dvrs"), FourCC("cdvc"), FourCC("dvsd"), FourCC("DVRS")};
  uint32_t handler = kHandlers[data[0] & 3];
  // An exact copy: the sanitizer sees any read past the chunk.
  std::vector<uint8_t> chunk(data + 1, data + size);
  ReferenceInfo info;
  ReferenceCheck check = DetectReference(handler, chunk.data(), chunk.size(), info);
  if (check == ReferenceCheck::kNone) return 0;
  if (info.fileName.find('\0') != std::string::npos) std::abort();
  if ((check == ReferenceCheck::kNameTooLong) != (info.fileName.size() >= 260)) std::abort();
  uint64_t offset;
  uint32_t bytes;
  ReferencedDataLocation(info, offset, bytes);
  return 0;
}

#elif defined(MX_FUZZ_marks)

// The first byte gives the file's length (100..355 frames); the rest up to
// the first line end is a "FrameMark" value, the rest a "DeleteRange" value.
// What is read must be sorted, without overlaps, inside the file, with short
// comments; stored and read again it must store the same text.
void MarksTable(OpenAviTable& t, uint32_t frames) {
  t.AllocOpenAviTable(1);
  t.nOpenAvi = 1;
  OpenAviFile& avi = t.pOpenAviList[0];
  avi.nAudioKind = 1;
  avi.sets[0].FrameMax = frames;
  avi.sets[0].pFrameIndex.assign(frames, MakeIndexEntry(4096, 100, true, false));
  t.SelectOpenAvi(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzHost host;
  SetHost(&host);
  if (size < 1) return 0;
  const uint32_t frames = 100 + data[0];
  std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t nl = body.find('\n');
  std::string markValue = body.substr(0, nl), rangeValue = nl == std::string::npos ? "" : body.substr(nl + 1);
  OpenAviTable t;
  MarksTable(t, frames);
  ParseFrameMarks(t, 0, markValue);
  ParseDeleteRanges(t, 0, rangeValue);
  const OpenAviFile& avi = t.pOpenAviList[0];
  int64_t previous = -1;
  for (const FrameMark& m : avi.marks) {
    if (m.lFrame <= previous || m.lFrame >= static_cast<int64_t>(frames)) std::abort();
    if (!std::memchr(m.szComment, 0, kMaxCommentLength + 1)) std::abort();
    previous = m.lFrame;
  }
  previous = -1;
  uint32_t deleted = 0;
  for (const DeleteRange& r : avi.deleteRanges) {
    if (r.lFrame1 <= previous || r.lFrame2 < r.lFrame1 || r.lFrame2 >= static_cast<int64_t>(frames))
      std::abort();
    if (!std::memchr(r.szComment, 0, kMaxCommentLength + 1)) std::abort();
    previous = r.lFrame2;
    deleted += static_cast<uint32_t>(r.lFrame2 - r.lFrame1 + 1);
  }
  const std::string marks = FormatFrameMarks(avi), ranges = FormatDeleteRanges(avi);
  OpenAviTable again;
  MarksTable(again, frames);
  ParseFrameMarks(again, 0, marks);
  ParseDeleteRanges(again, 0, ranges);
  if (FormatFrameMarks(again.pOpenAviList[0]) != marks || FormatDeleteRanges(again.pOpenAviList[0]) != ranges)
    std::abort();
  // The view of the file holds the frames the ranges leave.
  t.deleteRangesOn = true;
  if (!ChangeOpenAviParam(&t.pOpenAviList[0], true, 0) || avi.Set().FrameMax != frames - deleted)
    std::abort();
  return 0;
}

#endif
