#include "avi/OpenAvi.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "command/CommandIds.h"
#include "avi/AviReader.h"
#include "avi/DeletionView.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/DialogText.h"
#include "platform/Paths.h"
#include "settings/Settings.h"

const BitmapInfoHeader OpenAviFile::VideoFormat() const {
  return ParseBitmapInfoHeader(pbiVideo.data(), pbiVideo.size());
}
const WaveFormatEx OpenAviFile::AudioFormat() const {
  return ParseWaveFormat(pwfAudio.data(), pwfAudio.size());
}

BitmapInfoHeader DecodedFormat(const BitmapInfoHeader& bi) {
  BitmapInfoHeader d{};
  d.biSize = 40;
  d.biWidth = bi.biWidth;
  d.biHeight = bi.biHeight;
  d.biPlanes = bi.biPlanes;
  d.biBitCount = 24;
  d.biCompression = 0;
  int64_t stride = (static_cast<int64_t>(bi.biWidth) * 3 + 3) & ~int64_t{3};
  int64_t h = bi.biHeight < 0 ? -static_cast<int64_t>(bi.biHeight) : bi.biHeight;
  // Dimensions are checked at open, so this fits.
  d.biSizeImage = static_cast<uint32_t>(stride * h);
  return d;
}

// ---- the table ----

OpenAviTable::OpenAviTable() {
  // While the first file opens it is not counted yet: its rate is its own
  // (0), or the configured one.
  openOptions.changeOpenAviParam = [this](OpenAviFile* a) {
    bool first = nOpenAvi == 0 || a == pOpenAviList.data();
    double rate = !first ? EffectiveFrameRate() : fixedRateOn ? ConfiguredFrameRate() : 0.0;
    return ChangeOpenAviParam(a, deleteRangesOn, rate);
  };
}

bool OpenAviTable::AllocOpenAviTable(int count) {
  if (count > static_cast<int>(pOpenAviList.size())) {
    try {
      pOpenAviList.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
      Message(MB_OK | MB_ICONSTOP, "必要なメモリ(AVIファイル情報用)が確保できません!");
      return false;
    }
  }
  for (auto& avi : pOpenAviList) avi.pCurrentSet = &avi.sets[deleteRangesOn ? 1 : 0];
  if (nOpenAvi > 0 && nOpenAviIndex < static_cast<int>(pOpenAviList.size()))
    pCurrentOpenAvi = &pOpenAviList[static_cast<size_t>(nOpenAviIndex)];
  return true;
}

void OpenAviTable::SelectOpenAvi(int index) {
  if (nOpenAvi <= 0) {
    nOpenAviIndex = 0;
    dwFrameBase = 0;
    pCurrentOpenAvi = nullptr;
    return;
  }
  index = std::clamp(index, 0, nOpenAvi - 1);
  uint32_t base = 0;
  for (int i = 0; i < index; ++i) base += pOpenAviList[static_cast<size_t>(i)].Set().FrameMax;
  nOpenAviIndex = index;
  dwFrameBase = base;
  pCurrentOpenAvi = &pOpenAviList[static_cast<size_t>(index)];
}

void OpenAviTable::CloseAllOpenAvi() {
  if (beforeClose && nOpenAvi > 0) beforeClose();
  for (auto& avi : pOpenAviList) CloseOpenAvi(&avi, 0);
  nOpenAvi = 0;
  SelectOpenAvi(0);
}

static uint32_t FramesOf(const OpenAviFile& avi, bool set0) {
  return set0 ? avi.sets[0].FrameMax : avi.Set().FrameMax;
}

uint32_t OpenAviTable::TotalFrames(bool set0) const {
  uint64_t total = 0;
  for (int i = 0; i < nOpenAvi; ++i) total += FramesOf(pOpenAviList[static_cast<size_t>(i)], set0);
  return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}

FramePlace OpenAviTable::GlobalToLocal(uint32_t global, bool set0) const {
  FramePlace place;
  uint64_t before = 0;
  for (int i = 0; i < nOpenAvi; ++i) {
    uint32_t n = FramesOf(pOpenAviList[static_cast<size_t>(i)], set0);
    if (global < before + n) {
      place.file = i;
      place.frame = static_cast<uint32_t>(global - before);
      return place;
    }
    before += n;
  }
  // Past the end: the last frame of the last file (that has frames).
  for (int i = nOpenAvi - 1; i >= 0; --i) {
    uint32_t n = FramesOf(pOpenAviList[static_cast<size_t>(i)], set0);
    if (n) {
      place.file = i;
      place.frame = n - 1;
      return place;
    }
  }
  place.file = nOpenAvi > 0 ? nOpenAvi - 1 : 0;
  return place;
}

uint32_t OpenAviTable::LocalToGlobal(int file, uint32_t local, bool set0) const {
  uint64_t g = local;
  for (int i = 0; i < file && i < nOpenAvi; ++i) g += FramesOf(pOpenAviList[static_cast<size_t>(i)], set0);
  return static_cast<uint32_t>(std::min<uint64_t>(g, UINT32_MAX));
}

// Kept frame k of a file as a frame of set 0, through its deletion ranges.
static uint32_t KeptToSet0(const OpenAviFile& avi, uint32_t k) {
  return static_cast<uint32_t>(std::min<int64_t>(UndeletedFrameNo(avi, k), UINT32_MAX));
}

uint32_t OpenAviTable::CurrentToSet0Global(uint32_t global) const {
  if (!deleteRangesOn || nOpenAvi == 0) return global;
  FramePlace p = GlobalToLocal(global, false);
  const OpenAviFile& avi = pOpenAviList[static_cast<size_t>(p.file)];
  return LocalToGlobal(p.file, KeptToSet0(avi, p.frame), true);
}

uint32_t OpenAviTable::Set0ToCurrentGlobal(uint32_t global) const {
  if (!deleteRangesOn || nOpenAvi == 0) return global;
  FramePlace p = GlobalToLocal(global, true);
  const OpenAviFile& avi = pOpenAviList[static_cast<size_t>(p.file)];
  // The deleted frames before it; a frame inside a range counts its range up
  // to and including itself, so it lands on the kept frame before the range,
  // which for a range at frame 0 is the last kept frame of an earlier file.
  int64_t deleted = 0;
  for (const DeleteRange& r : avi.deleteRanges) {
    if (r.lFrame1 > static_cast<int64_t>(p.frame)) break;
    deleted += std::min<int64_t>(r.lFrame2, p.frame) - r.lFrame1 + 1;
  }
  int64_t g = static_cast<int64_t>(LocalToGlobal(p.file, 0, false)) + p.frame - deleted;
  return static_cast<uint32_t>(std::max<int64_t>(g, 0));
}

// ---- frame rate ----

namespace {
// A decimal text as digits and the count of digits behind the point.
bool ParseDecimal(const std::string& text, unsigned __int128* digits, int* fraction) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return false;
  unsigned __int128 v = 0;
  int frac = 0, count = 0;
  bool point = false, any = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      // Digits beyond what matters for a 28-bit pair are dropped.
      if (count < 30) {
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (point) ++frac;
        if (v) ++count;
      }
      any = true;
    } else if (c == ' ' || c == '\t') {
      break;
    } else {
      return false;
    }
  }
  if (!any) return false;
  *digits = v;
  *fraction = frac;
  return true;
}
}  // namespace

bool ParseFrameRateText(const std::string& text, uint32_t* rate, uint32_t* scale) {
  size_t slash = text.find('/');
  unsigned __int128 r, s;
  if (slash != std::string::npos) {
    int fr, fs;
    if (!ParseDecimal(text.substr(0, slash), &r, &fr) || !ParseDecimal(text.substr(slash + 1), &s, &fs))
      return false;
    // Multiplying both by ten until both are whole is the same as aligning the
    // digits behind the point.
    for (; fr < fs; ++fr) r *= 10;
    for (; fs < fr; ++fs) s *= 10;
    while (r >= 268435455u || s >= 268435455u) {
      r /= 10;
      s /= 10;
    }
  } else {
    int f;
    if (!ParseDecimal(text, &r, &f)) return false;
    s = 100000000;
    for (int i = f; i < 8; ++i) r *= 10;
    for (int i = 8; i < f; ++i) r /= 10;
    // The pair is stored in 32-bit header fields.
    while (r > UINT32_MAX) {
      r /= 10;
      s /= 10;
    }
  }
  if (r == 0 || s == 0) return false;
  *rate = static_cast<uint32_t>(r);
  *scale = static_cast<uint32_t>(s);
  return true;
}

void OpenAviTable::SetFixedFrameRate(bool on, const std::string& text) {
  fixedRateOn = on;
  fixedRateText = text;
}

double OpenAviTable::ConfiguredFrameRate() const {
  uint32_t rate, scale;
  return ParseFrameRateText(fixedRateText, &rate, &scale) ? static_cast<double>(rate) / scale : 0.0;
}

double OpenAviTable::EffectiveFrameRate() const {
  uint32_t rate, scale;
  if (fixedRateOn && ParseFrameRateText(fixedRateText, &rate, &scale))
    return static_cast<double>(rate) / scale;
  if (nOpenAvi > 0) {
    const AVIStreamHeader& h = pOpenAviList[0].sets[0].strhVideo;
    if (h.dwScale && h.dwRate) return static_cast<double>(h.dwRate) / h.dwScale;
  }
  return 30000.0 / 1001.0;
}

uint32_t FirstSampleOfFrame(uint32_t frame, uint32_t samplesPerSec, double rate) {
  if (!(rate > 0)) return 0;
  double v = std::floor(frame * (samplesPerSec / rate) + 0.5);
  return v >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(v);
}

// ---- I/O wrappers ----

static RiffFile* Route(OpenAviFile* avi, RiffFile* handle, bool audio) {
  if (handle) return handle;
  if (audio && avi->nAudioKind == -1) return avi->hmmioPCM.get();
  if (avi->nIndexKind == kIndexOpenDml && avi->hAvi2) return avi->hAvi2.get();
  return avi->hmmioAvi.get();
}

int64_t MyAviSeek(OpenAviFile* avi, RiffFile* handle, uint64_t position, int origin, bool audio) {
  RiffFile* f = Route(avi, handle, audio);
  if (!f || position > static_cast<uint64_t>(INT64_MAX)) return -1;
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  int64_t got = f->Seek(static_cast<int64_t>(position), whence);
  if (got < 0 || (origin == 0 && static_cast<uint64_t>(got) != position)) return -1;
  return got;
}

int64_t MyAviRead(OpenAviFile* avi, RiffFile* handle, void* buffer, uint32_t count, bool audio) {
  RiffFile* f = Route(avi, handle, audio);
  if (!f || !f->ReadExact(buffer, count)) return -1;
  return count;
}

int64_t MyAviWrite(OpenAviFile* avi, RiffFile* handle, const void* buffer, uint32_t count, bool audio) {
  (void)avi;
  (void)audio;
  // Writing needs a handle opened for it.
  if (!handle || !handle->Write(buffer, count)) return -1;
  return count;
}

bool MyAviOpen(OpenAviFile* avi, std::unique_ptr<RiffFile>* handle, bool audio) {
  const std::string& name = audio && avi->nAudioKind == -1 ? avi->szPCMFile : avi->szFileName;
  auto f = std::make_unique<RiffFile>();
  if (name.empty() || !f->Open(name.c_str(), RiffFile::ModeReadWrite)) {
    handle->reset();
    return false;
  }
  *handle = std::move(f);
  return true;
}

bool MyAviClose(OpenAviFile* avi, std::unique_ptr<RiffFile>* handle, bool audio) {
  (void)avi;
  (void)audio;
  if (!*handle) return true;
  bool ok = (*handle)->Close();
  handle->reset();
  return ok;
}

int MyAviDescriptor(OpenAviFile* avi, bool audio) {
  RiffFile* f = Route(avi, nullptr, audio);
  if (!f || !f->IsOpen()) return -1;
  f->Flush();
  return f->Descriptor();
}

// ---- comparisons ----

bool IsUncompressedHandler(uint32_t fcc) {
  // Handlers compare without case elsewhere: "dib " is "DIB " too.
  return fcc == 0 || SameFourCCNoCase(fcc, FourCC("DIB ")) ||
         SameFourCCNoCase(fcc, MakeFourCC('D', 'I', 'B', 0));
}

bool IsDvCodec(const OpenAviFile* avi) {
  uint32_t h = avi->fccVideoHandler;
  return SameFourCCNoCase(h, FourCC("cdvc")) || SameFourCCNoCase(h, FourCC("dvsd")) ||
         SameFourCCNoCase(h, FourCC("dvis")) || SameFourCCNoCase(h, FourCC("dvrs"));
}

bool IsSameVideoFormat(const OpenAviFile* a, const OpenAviFile* b) {
  return a->fccVideoType == b->fccVideoType && SameFourCCNoCase(a->fccVideoHandler, b->fccVideoHandler) &&
         std::strcmp(a->szCodecName, b->szCodecName) == 0 && a->cbVideoFormat == b->cbVideoFormat &&
         a->pbiVideo == b->pbiVideo;
}

// ---- dialogs and commands ----

const char* OpenAviDialogTitle(int purpose) {
  switch (purpose) {
    case kCmdOpen:
      return "Mirdex / 開くAVIファイル名入力";
    case kCmdOpenAdd:
      return "Mirdex / 追加で開くAVIファイル名入力";
    case kCmdCopyVideoFromAvi:
      return "Mirdex / ビデオコピーAVIファイル名入力";
    case kCmdCopyLuminanceFromAvi:
      return "Mirdex / ビデオ輝度コピーAVIファイル名入力";
    case kCmdShakeCorrectFromAvi:
      return "Mirdex / ビデオゆれ補正AVIファイル名入力";
    case kCmdNoiseCompositeAvi:
      return "Mirdex / ビデオ合成AVIファイル名入力";
    case kCmdCompareVideoAvi:
      return "Mirdex / ビデオ比較AVIファイル名入力";
    case kCmdReadAudioFromAvi:
      return "Mirdex / オーディオ読込AVIファイル名入力";
    case kCmdCompareAudioPosAvi:
      return "Mirdex / オーディオ比較AVIファイル名入力";
    default:
      return nullptr;
  }
}

// The open dialog's recent folders, most recent first (the dialog shows them).
constexpr uint32_t kFolderCapacity = 4096;

static Setting OpenFolderSetting() {
  Setting s;
  s.section = "Folder";
  s.key = "Open";
  s.flags = kSetText | kFolderCapacity;
  return s;
}

int OpenAviTable::CompareWithTable(const OpenAviFile* avi) const {
  int diff = 0;
  if (nOpenAvi <= 0) return 0;
  const OpenAviFile& first = pOpenAviList[0];
  BitmapInfoHeader a = avi->VideoFormat(), b = first.VideoFormat();
  if (a.biWidth != b.biWidth || std::llabs(a.biHeight) != std::llabs(b.biHeight)) diff |= 1;
  if (avi->nAudioKind == 0 || avi->nAudioKind == -1) {
    for (int i = 0; i < nOpenAvi; ++i) {
      const OpenAviFile& o = pOpenAviList[static_cast<size_t>(i)];
      if (o.nAudioKind != 0 && o.nAudioKind != -1) continue;
      if (o.cbAudioFormat != avi->cbAudioFormat || o.pwfAudio != avi->pwfAudio) diff |= 2;
      break;
    }
  }
  for (int i = 0; i < nOpenAvi; ++i) {
    const OpenAviFile& o = pOpenAviList[static_cast<size_t>(i)];
    if (&o != avi && o.IsOpen() && EqualsNoCase(o.szFileName.c_str(), avi->szFileName.c_str())) diff |= 4;
  }
  return diff;
}

std::string AppendRefusalText(const OpenAviFile* avi, int diff) {
  std::string s = Fmt("%sは", avi->szFileName.c_str());
  if (diff & 4) return s + "既に開かれています!";
  if (diff & 1) s += "ビデオのサイズ";
  if ((diff & 3) == 3) s += "と";
  if (diff & 2) s += "オーディオの形式";
  return s + "が異なります!";
}

void OpenAviTable::StoreName(OpenAviFile* avi, const std::string& path) const {
  avi->szFileName = path;
  avi->options = openOptions;
}

bool OpenAviTable::OpenChosenFiles(int purpose, OpenAviFile* avi, const std::vector<std::string>& paths) {
  if (!OpenAviDialogTitle(purpose) || paths.empty()) return false;
  bool decode =
      openOptions.decodeAudioAtOpen || purpose == kCmdReadAudioFromAvi || purpose == kCmdCompareAudioPosAvi;
  bool saved = openOptions.decodeAudioAtOpen;
  openOptions.decodeAudioAtOpen = decode;
  struct Restore {
    bool& flag;
    bool v;
    ~Restore() { flag = v; }
  } restore{openOptions.decodeAudioAtOpen, saved};

  if (purpose == kCmdOpenAdd) {
    bool tableWasEmpty = nOpenAvi == 0;
    if (!AllocOpenAviTable(nOpenAvi + static_cast<int>(paths.size()))) return false;
    bool appended = false;
    for (const std::string& path : paths) {
      OpenAviFile* rec = &pOpenAviList[static_cast<size_t>(nOpenAvi)];
      CloseOpenAvi(rec, 0);
      StoreName(rec, path);
      rec->nOpenCommand = purpose;
      int mode = tableWasEmpty && paths.size() == 1 ? 1 : 2;
      ME.fAbort = 0;
      if (!CloseOpenAvi(rec, mode)) {
        if (ME.fAbort) break;
        Message(MB_OK | MB_ICONSTOP, nullptr, "%sが開けません!", path.c_str());
        continue;
      }
      int diff = CompareWithTable(rec);
      if (diff) {
        Message(MB_OK | MB_ICONSTOP, AppendRefusalText(rec, diff).c_str());
        CloseOpenAvi(rec, 0);
        continue;
      }
      ++nOpenAvi;
      appended = true;
      if (afterFileOpened) afterFileOpened(nOpenAvi - 1);
    }
    if (appended) SelectOpenAvi(nOpenAviIndex);
    return appended;
  }

  StoreName(avi, paths[0]);
  avi->nOpenCommand = purpose;
  if (avi->IsOpen() && decode && avi->nAudioKind == -1 && !avi->hmmioPCM) CloseOpenAvi(avi, 0);
  if (!avi->IsOpen()) {
    StoreName(avi, paths[0]);
    if (!CloseOpenAvi(avi, 1)) return false;
  }
  if (purpose == kCmdOpen) {
    nOpenAvi = std::max(nOpenAvi, 1);
    SelectOpenAvi(0);
    if (afterFileOpened) afterFileOpened(0);
  }
  return true;
}

bool OpenAviTable::OpenAviDialog(int purpose, OpenAviFile* avi) {
  const char* title = OpenAviDialogTitle(purpose);
  if (!title) return false;
  FileDialogRequest req;
  req.title = title;
  if (avi && !avi->szFileName.empty()) {
    req.initialDir = DirectoryPart(avi->szFileName);
  } else {
    std::vector<std::string> recent = SplitHistory(ReadText(OpenFolderSetting(), kFolderCapacity));
    if (!recent.empty()) req.initialDir = recent.front();
    if (req.initialDir.empty()) req.initialName = "*.avi";
  }
  req.filters = {{"AVIファイル", "*.avi"}, {"すべてのファイル", "*.*"}};
  req.defaultExt = "avi";
  req.multiple = purpose == kCmdOpenAdd;
  req.settingsKind = "Open";
  req.checkBoxText = "非PCMオーディオをテンポラリファイルにデコード(&P)";
  req.checkBox = &openOptions.decodeAudioAtOpen;
  std::vector<std::string> paths;
  if (!CurrentHost().ChooseFiles(req, &paths) || paths.empty()) {
    if (avi && purpose != kCmdOpenAdd) CloseOpenAvi(avi, 0);
    return false;
  }
  std::string recent = ReadText(OpenFolderSetting(), kFolderCapacity);
  std::string folder = DirectoryPart(paths[0]);
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();  // as the dialog names folders
  WriteText(OpenFolderSetting(), AddToHistory(recent, folder, kFolderCapacity));
  if (purpose != kCmdOpenAdd && avi) CloseOpenAvi(avi, 0);
  return OpenChosenFiles(purpose, avi, paths);
}

bool OpenAviTable::CommandOpen(int commandId) {
  switch (commandId) {
    case kCmdOpen: {
      CloseAllOpenAvi();
      if (!AllocOpenAviTable(1)) return false;
      bool ok = OpenAviDialog(kCmdOpen, &pOpenAviList[0]);
      SetMainTitle(nullptr);
      return ok;
    }
    case kCmdOpenAdd: {
      bool ok = OpenAviDialog(kCmdOpenAdd, nullptr);
      SetMainTitle(nullptr);
      return ok;
    }
    case kCmdClose:
      CloseAllOpenAvi();
      SetMainTitle(nullptr);
      return true;
    default:
      return false;
  }
}

bool OpenAviTable::OpenNamedFile(const std::string& path) {
  CloseAllOpenAvi();
  if (!AllocOpenAviTable(1)) return false;
  bool ok = OpenChosenFiles(kCmdOpen, &pOpenAviList[0], {path});
  SetMainTitle(nullptr);
  return ok;
}

bool OpenAviTable::OpenOne(const std::string& path, int mode) {
  CloseAllOpenAvi();
  if (!AllocOpenAviTable(1)) return false;
  OpenAviFile* avi = &pOpenAviList[0];
  StoreName(avi, path);
  if (!CloseOpenAvi(avi, mode)) return false;
  nOpenAvi = 1;
  SelectOpenAvi(0);
  return true;
}

std::string OpenAviTable::MainTitleText(const char* extra) const {
  if (pCurrentOpenAvi && nOpenAvi > 0 && pCurrentOpenAvi->IsOpen())
    return Fmt("%s / %s [%d/%d] / %s%s", "Mirdex", pCurrentOpenAvi->szFileName.c_str(), nOpenAviIndex + 1,
               nOpenAvi, pCurrentOpenAvi->szCodecName, extra ? extra : "");
  return Fmt("%s %s", "Mirdex", extra ? extra : "");
}

void OpenAviTable::SetMainTitle(const char* extra) const {
  CurrentHost().SetTitle(MainTitleText(extra));
}
