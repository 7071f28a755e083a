// The record of an opened AVI file, its frame and audio indexes, the table of
// opened files with the global frame numbering over it, the effective frame
// rate, and the file I/O wrappers every reader of frame or audio data uses.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <string>
#include <vector>

#include "platform/VideoCodec.h"
#include "platform/Riff.h"
#include "platform/RiffFormats.h"
#include "platform/System.h"

// One 64-bit word per chunk: bits 0-37 data offset, 38-61 data size (0 = null
// frame), 62 "dc" chunk, 63 not a key frame.
using FrameIndexEntry = uint64_t;

constexpr uint64_t kIndexOffsetMask = (uint64_t{1} << 38) - 1;
constexpr uint32_t kIndexSizeMask = 0xFFFFFF;
constexpr uint64_t kIndexCompressed = uint64_t{1} << 62;
constexpr uint64_t kIndexNotKey = uint64_t{1} << 63;
// A chunk must be smaller than this to fit the size field.
constexpr uint32_t kMaxChunkSize = 0x1000000;

constexpr FrameIndexEntry MakeIndexEntry(uint64_t offset, uint32_t size, bool compressed, bool notKey) {
  return (offset & kIndexOffsetMask) | (static_cast<uint64_t>(size & kIndexSizeMask) << 38) |
         (compressed ? kIndexCompressed : 0) | (notKey ? kIndexNotKey : 0);
}
constexpr uint64_t IndexOffset(FrameIndexEntry e) {
  return e & kIndexOffsetMask;
}
constexpr uint32_t IndexSize(FrameIndexEntry e) {
  return static_cast<uint32_t>(e >> 38) & kIndexSizeMask;
}
constexpr bool IndexIsCompressed(FrameIndexEntry e) {
  return (e & kIndexCompressed) != 0;
}
constexpr bool IndexIsKey(FrameIndexEntry e) {
  return (e & kIndexNotKey) == 0;
}
constexpr bool IndexIsNull(FrameIndexEntry e) {
  return IndexSize(e) == 0;
}

// Allocates zero-filled memory that is only touched when used: big per-frame
// arrays allocated at open cost nothing until an operation writes them.
template <class T>
struct ZeroedAllocator {
  using value_type = T;
  ZeroedAllocator() = default;
  template <class U>
  ZeroedAllocator(const ZeroedAllocator<U>&) {}
  T* allocate(size_t n) {
    void* p = std::calloc(n, sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) { std::free(p); }
  // Elements made without a value keep the zeros calloc gave.
  template <class U>
  void construct(U* p) {
    (void)p;
  }
  template <class U, class... A>
  void construct(U* p, A&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
  }
  bool operator==(const ZeroedAllocator&) const { return true; }
};
template <class T>
using ZeroedVector = std::vector<T, ZeroedAllocator<T>>;

struct AviStreamSet {
  std::vector<FrameIndexEntry> pFrameIndex;
  std::vector<FrameIndexEntry> pWaveIndex;
  uint32_t FrameMax = 0;
  uint32_t WaveIndexAlloc = 0;
  uint32_t WaveIndexEntries = 0;
  // PCM: samples; compressed audio: bytes.
  uint32_t dwWaveSampleCounts = 0;
  // Changes whenever pWaveIndex is replaced (NextIndexStamp).
  unsigned long long waveStamp = 0;
  MainAVIHeader avih{};
  AVIStreamHeader strhVideo{};
  AVIStreamHeader strhAudio{};
};

// Frame mark: the frame (local number of set 0, -1 an unused slot), its
// number in the current set when the mark was made (-1 inside a deleted
// range) and the comment. Used slots first, sorted by frame.
struct FrameMark {
  int32_t lFrame = -1, lShown = -1;
  char szComment[72] = {};
};
static_assert(sizeof(FrameMark) == 80);

// Deletion range (first and last deleted frame, local numbers of set 0);
// the rest of the 80-byte entry is the comment of the mark file.
struct DeleteRange {
  int32_t lFrame1 = 0, lFrame2 = 0;
  char szComment[72] = {};
};
static_assert(sizeof(DeleteRange) == 80);

enum : int {
  kIndexParsing = -1,
  kIndexIdx1 = 0,
  kIndexScanned = 1,
  kIndexRebuilt = 2,
  kIndexDataAfterIdx1 = 3,
  kIndexOpenDml = 4,
};

// Facts the reader learns on the way that the record does not keep.
struct AviReadNotes {
  bool openDmlTried = false;    // an indx was found
  std::string openDmlFallback;  // reason when the indx could not be used
  // Reason when the audio's indx could not be used after the video's was:
  // the video keeps its OpenDML index and the audio has no chunks.
  std::string openDmlAudioFallback;
  bool idx1Clamped = false;            // idx1 runs past the end of the file
  bool scanStoppedAtCutChunk = false;  // the scan met a chunk cut by the end of the file
  uint64_t cutChunkPos = 0;
  uint64_t fileSize = 0;
};

struct OpenAviFile;

// How a record is opened and indexed. Whoever owns the record (the table of
// files, a headless driver) fills it in before opening it.
struct AviOpenOptions {
  // Command 48001: data after idx1 does not make index kind 3.
  bool ignoreDataAfterIdx1 = false;
  // The open dialog's check box: decode compressed audio at open.
  bool decodeAudioAtOpen = false;
  // Headless use: a missing idx1 is indexed by scanning without a question.
  bool scanMissingIndexSilently = false;
  // Threads the index scan may use for files of several RIFF parts: 0 one
  // per processor when the file is in the page cache, 1 every file on the
  // calling thread, 2 or more that many whatever the cache holds.
  unsigned scanThreads = 0;
  // Tests: when >= 0, the in-place index write fails at that step as if the
  // disk had failed there.
  int idx1WriteFailAtStep = -1;
  // A rebuilt index is written back into the file only after a confirmation;
  // off for `mirdex --rebuild-index`, which was asked to write it.
  bool confirmIndexWriteBack = true;
  // Opens a stream's decoder; null in programs without decoders (the
  // report), which only name the codec.
  VideoCodecOpener videoCodecOpener = nullptr;
  // What the audio and index-editing code plug in (empty: not available yet).
  std::function<bool(OpenAviFile*)> decodeAudioStream;
  std::function<bool(OpenAviFile*)> changeOpenAviParam;
};

// The frame reader's record of the last frame read from a file (kinds as in
// VideoCodec.h, plus 0x10 "located, not read"), read by the reference check.
struct FrameReadRecord {
  int refKind = 0;
  uint32_t globalFrame = 0, localFrame = 0;
  const FrameIndexEntry* entry = nullptr;
  int fileIndex = -1;
  uint32_t refFrame = 0, refFrame2 = 0, refBase = 0;
  std::string refFileName;
};
// The frame reader's own per-file state (frame getter); it checks that it
// still belongs to the decoder and index it was made for.
struct FrameReaderState;

struct OpenAviFile {
  std::string szFileName;
  char szCodecName[129] = {};
  uint32_t fccVideoType = 0;
  uint32_t fccVideoHandler = 0;
  // Null for uncompressed video; see fCodecFailed.
  std::shared_ptr<VideoDecompressor> hicDecompress;  // one owner; see VideoCodecOpener
  bool fCodecFailed = false;  // the codec could not be opened (frames cannot be decoded)
  std::unique_ptr<RiffFile> hmmioAvi;
  std::vector<uint8_t> pbiVideo;
  BitmapInfoHeader biDecoded{};
  std::vector<uint8_t> pwfAudio;  // at least 18 bytes once read
  uint32_t cbVideoFormat = 0;
  uint32_t cbAudioFormat = 0;
  uint64_t dwRiffDataPos = 0;
  uint64_t dwAvihPos = 0;
  uint64_t dwVideoStrhPos = 0;
  int nIndexKind = 0;
  char cVideoStream = 0;
  char cAudioStream = 0;
  int fAllKeyFrames = 0;
  int nAudioKind = 0;  // 1 none, 0 PCM, -1 compressed
  int fReadError = 0;
  int fCodecConfigurable = 0;
  int nOpenCommand = 0;
  ZeroedVector<uint64_t> pFieldShift;  // 8 bytes per frame of set 0
  std::vector<FrameMark> marks;
  std::vector<DeleteRange> deleteRanges;
  AviStreamSet* pCurrentSet = nullptr;
  AviStreamSet sets[2];
  std::vector<int32_t> pFrameOffset;
  std::string szPCMFile;
  // Holds the work file's lock while the record is open, so the start-up
  // clean-up of another run leaves it alone.
  WorkFile pcmWorkFile;
  std::unique_ptr<RiffFile> hmmioPCM;
  uint32_t dwIndexPCM = 0;
  uint32_t dwSamplesPCM = 0;
  std::vector<FrameIndexEntry> pIndexPCM;
  unsigned long long pcmStamp = 0;  // changes whenever pIndexPCM is replaced
  WaveFormatEx wfPCM{};
  // Second handle for OpenDML reads; null when none.
  std::unique_ptr<RiffFile> hAvi2;
  // Filled by the frame reader.
  FrameReadRecord frameInfo;
  std::shared_ptr<FrameReaderState> frameReader;
  // Kept when the record is closed: it is reopened the same way.
  AviOpenOptions options;
  // What the last open or index scan of the record learned.
  AviReadNotes readNotes;

  // Moving (the table grows) leaves pCurrentSet pointing at the old place;
  // AllocOpenAviTable re-points it.
  OpenAviFile() { pCurrentSet = &sets[0]; }

  bool IsOpen() const { return hmmioAvi != nullptr; }
  AviStreamSet& Set() { return *pCurrentSet; }
  const AviStreamSet& Set() const { return *pCurrentSet; }
  const BitmapInfoHeader VideoFormat() const;
  const WaveFormatEx AudioFormat() const;
};

// ---- the table of opened files ----
struct FramePlace {
  int file = 0;
  uint32_t frame = 0;  // local
};

// The files opened one after another, numbered end to end as one timeline,
// and the current file. The window owns one table for what it shows; a
// second capture (comparison, composite, copy) gets a table of its own.
class OpenAviTable {
 public:
  // Installs the deletion view as every opened file's last open step.
  OpenAviTable();
  OpenAviTable(const OpenAviTable&) = delete;
  OpenAviTable& operator=(const OpenAviTable&) = delete;
  // Whoever set the hooks may be gone by now.
  ~OpenAviTable() {
    beforeClose = nullptr;
    CloseAllOpenAvi();
  }

  std::vector<OpenAviFile> pOpenAviList;  // capacity = size(); the first nOpenAvi are open
  int nOpenAvi = 0;
  int nOpenAviIndex = 0;
  uint32_t dwFrameBase = 0;
  OpenAviFile* pCurrentOpenAvi = nullptr;
  // Whether deletion ranges are applied (the current sets are set 1).
  bool deleteRangesOn = false;
  // How the files of this table are opened; each record takes a copy when
  // it is opened (the open dialog's check box, command 48001, the hooks of
  // the audio and index-editing code).
  AviOpenOptions openOptions;
  // The fixed-rate option and its text (settings FrameRate / FrameRateList).
  bool fixedRateOn = false;
  std::string fixedRateText;
  // The window's own work around the files of its table: after a file joined
  // the table through a dialog, the recent list, the command line or a drop
  // (its marks are read), and before the files are closed (they are saved).
  // Empty for the headless forms and second captures.
  std::function<void(int file)> afterFileOpened;
  std::function<void()> beforeClose;

  // Grows the table to `count` zero records and re-points every pCurrentSet.
  bool AllocOpenAviTable(int count);
  // Makes file `index` current (nOpenAviIndex, dwFrameBase, pCurrentOpenAvi).
  void SelectOpenAvi(int index);
  // Closes every file of the table.
  void CloseAllOpenAvi();

  // Global frame numbers over the current sets (set0 false) or over set 0.
  uint32_t TotalFrames(bool set0 = false) const;
  // A number past the end maps to the last frame of the last file.
  FramePlace GlobalToLocal(uint32_t global, bool set0 = false) const;
  uint32_t LocalToGlobal(int file, uint32_t local, bool set0 = false) const;
  // Conversion between the two numberings through each file's deletion ranges.
  uint32_t CurrentToSet0Global(uint32_t global) const;
  // A deleted frame maps to the kept frame before its range (never below 0).
  uint32_t Set0ToCurrentGlobal(uint32_t global) const;

  void SetFixedFrameRate(bool on, const std::string& text);
  // The configured text as a rate (rate ÷ scale), 0 when it does not parse.
  double ConfiguredFrameRate() const;
  double EffectiveFrameRate() const;

  // Purposes 40000, 40001, 40005..40011; shows the open dialog for `avi`.
  // For 40000 `avi` is the table's first record; for 40001 it is ignored.
  bool OpenAviDialog(int purpose, OpenAviFile* avi);
  // Opens `paths` as the dialog would after the user chose them (used by the
  // dialog itself, by recent files, the command line and dropped files).
  bool OpenChosenFiles(int purpose, OpenAviFile* avi, const std::vector<std::string>& paths);
  // Commands 40000 open (closes the table, then the open dialog), 40001
  // append (dialog with several names), 40002 close all. The dispatcher asks
  // about unsaved corrections before 40000 and 40002. Each sets the title.
  bool CommandOpen(int commandId);
  // Commands 50100+i (recent file i: pass its path) and 50402 (the file named
  // on the command line or dropped on the window): closes the table and opens
  // `path` as the main file, as the open dialog would.
  bool OpenNamedFile(const std::string& path);
  // Closes the table and opens `path` alone, in CloseOpenAvi's `mode`, with
  // no dialog around it: the headless drivers.
  bool OpenOne(const std::string& path, int mode);
  // The append checks: 0 accepted, else bits 1 size, 2 audio format, 4 already open.
  int CompareWithTable(const OpenAviFile* avi) const;

  std::string MainTitleText(const char* extra) const;
  void SetMainTitle(const char* extra) const;

 private:
  void StoreName(OpenAviFile* avi, const std::string& path) const;
};

// ---- effective frame rate ----
// Parses "numerator/denominator" or a plain number into (rate, scale).
bool ParseFrameRateText(const std::string& text, uint32_t* rate, uint32_t* scale);
// First audio sample of frame f.
uint32_t FirstSampleOfFrame(uint32_t frame, uint32_t samplesPerSec, double rate);

// ---- file I/O wrappers ----
// Every read of frame or audio data goes through these. `handle` null means
// the record's own handle by the routing rule: audio of compressed audio goes
// to the PCM work file, OpenDML files use hAvi2, the rest hmmioAvi. Positions
// are 64-bit on every path. Results: -1 on failure, else the position or count.
int64_t MyAviSeek(OpenAviFile* avi, RiffFile* handle, uint64_t position, int origin, bool audio);
int64_t MyAviRead(OpenAviFile* avi, RiffFile* handle, void* buffer, uint32_t count, bool audio);
int64_t MyAviWrite(OpenAviFile* avi, RiffFile* handle, const void* buffer, uint32_t count, bool audio);
// Opens a second handle for writing into the file in place.
bool MyAviOpen(OpenAviFile* avi, std::unique_ptr<RiffFile>* handle, bool audio);
bool MyAviClose(OpenAviFile* avi, std::unique_ptr<RiffFile>* handle, bool audio);
// The descriptor behind the routing rule, its buffered writes flushed, for
// bulk reads by position (pread) that leave the handle's position alone; -1
// when there is none.
int MyAviDescriptor(OpenAviFile* avi, bool audio);

// ---- format comparisons ----
bool IsDvCodec(const OpenAviFile* avi);
bool IsSameVideoFormat(const OpenAviFile* a, const OpenAviFile* b);
// Handlers that mean uncompressed video: "DIB " and "DIB\0" in either case, and 0.
bool IsUncompressedHandler(uint32_t fccHandler);
// The 24-bit form every frame is decoded to.
BitmapInfoHeader DecodedFormat(const BitmapInfoHeader& bi);

// ---- dialogs, commands, title ----
const char* OpenAviDialogTitle(int purpose);
std::string AppendRefusalText(const OpenAviFile* avi, int difference);
