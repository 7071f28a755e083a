#include "avi/AviOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/Format.h"

namespace {

constexpr uint32_t kIndxHeader = 24, kIndxEntry = 16, kStdIndexHeader = 24, kDmlhBytes = 248;
// LIST "odml" with its dmlh chunk: what the reserved JUNK turns into.
constexpr uint32_t kOdmlListBytes = 12 + 8 + kDmlhBytes;

std::string TempNameFor(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".XXXXXX";
}

// A chunk whose size is known: its header, the data and the pad byte, each
// handed to `put`.
template <class Put>
bool PutChunk(Put put, uint32_t ckid, const void* data, uint32_t bytes) {
  uint8_t head[8];
  PutLE32(head, ckid);
  PutLE32(head + 4, bytes);
  const uint8_t pad = 0;
  return put(head, 8) && (bytes == 0 || put(data, bytes)) && (!(bytes & 1) || put(&pad, 1));
}

}  // namespace

AviOutput::~AviOutput() {
  if (!done_) Abandon();
}

bool AviOutput::Fail(const char* format) {
  if (!failed_) error_ = Fmt(format, path_.c_str());
  failed_ = true;
  return false;
}

bool AviOutput::Create(const std::string& path, const AviOutputHeaders& headers) {
  path_ = path;
  headers_ = headers;
  partLimit = std::clamp<uint64_t>(partLimit, 1 << 16, uint64_t{1} << 31);
  maxParts = std::max<uint32_t>(maxParts, 1);

  // A private name next to the output; it becomes the output at Finish.
  std::string name = TempNameFor(path);
  int fd = mkstemp(name.data());
  if (fd < 0) return Fail("%sが開けません!");
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  temp_ = name;
  // Headers and indexes only: the movi data goes through blocks_.
  if (!file_.Open(temp_, RiffFile::ModeCreateWriteOnly)) return Fail("%sが開けません!");

  riff_ = {};
  riff_.fccType = FourCC("AVI ");
  if (!file_.CreateChunk(&riff_, kCreateRiff)) return Fail("%sにAVIチャンクを作成できません!");
  ChunkInfo hdrl{};
  hdrl.fccType = FourCC("hdrl");
  if (!file_.CreateChunk(&hdrl, kCreateList)) return Fail("%sにhdrlチャンクを作成できません!");

  uint8_t h56[56];
  StoreMainAviHeader(headers_.avih, h56);
  avihData_ = static_cast<uint64_t>(file_.Tell()) + 8;
  if (!Chunk(FourCC("avih"), h56, 56)) return Fail("%sのavih書き込みでエラーが発生しました!");

  auto streamList = [&](bool video) {
    const AVIStreamHeader& sh = video ? headers_.videoHeader : headers_.audioHeader;
    const std::vector<uint8_t>& format = video ? headers_.videoFormat : headers_.audioFormat;
    ChunkInfo strl{};
    strl.fccType = FourCC("strl");
    if (!file_.CreateChunk(&strl, kCreateList))
      return Fail(video ? "%sにstrl(video)チャンクを作成できません!"
                        : "%sにstrl(audio)チャンクを作成できません!");
    uint8_t s56[56];
    StoreStreamHeader(sh, s56);
    (video ? videoStrh_ : audioStrh_) = static_cast<uint64_t>(file_.Tell()) + 8;
    if (!Chunk(FourCC("strh"), s56, 56))
      return Fail(video ? "%sのavis(Video)書き込みでエラーが発生しました!"
                        : "%sのavis(audio)書き込みでエラーが発生しました!");
    if (!Chunk(FourCC("strf"), format.data(), static_cast<uint32_t>(format.size())))
      return Fail(video ? "%sのstrf(video)書き込みでエラーが発生しました!"
                        : "%sのstrf(audio)書き込みでエラーが発生しました!");
    // Room for the super-index, should the file pass the part limit.
    (video ? videoIndxSlot_ : audioIndxSlot_) = static_cast<uint64_t>(file_.Tell());
    std::vector<uint8_t> junk(kIndxHeader + kIndxEntry * maxParts, 0);
    if (!Chunk(FourCC("JUNK"), junk.data(), static_cast<uint32_t>(junk.size())))
      return Fail("%sがシークできません!");
    if (!file_.Ascend(&strl)) return Fail("%sがシークできません!");
    return true;
  };
  if (!streamList(true)) return false;
  if (headers_.audio && !streamList(false)) return false;
  odmlSlot_ = static_cast<uint64_t>(file_.Tell());
  std::vector<uint8_t> junk(kOdmlListBytes - 8, 0);
  if (!Chunk(FourCC("JUNK"), junk.data(), static_cast<uint32_t>(junk.size())))
    return Fail("%sがシークできません!");
  if (!file_.Ascend(&hdrl)) return Fail("%sがシークできません!");

  movi_ = {};
  movi_.fccType = FourCC("movi");
  if (!file_.CreateChunk(&movi_, kCreateList)) return Fail("%sにmoviチャンクを作成できません!");
  moviPos_ = movi_.dwDataOffset;
  parts_.assign(1, Part{riff_.dwDataOffset - 8, {}, {}});
  if (!file_.Flush()) return Fail("%sにmoviチャンクを作成できません!");
  EnterStream();
  return true;
}

void AviOutput::EnterStream() {
  blocks_.Start(file_.Descriptor(), static_cast<uint64_t>(file_.Tell()));
}

bool AviOutput::LeaveStream() {
  if (!blocks_.Drain()) {
    return Fail("%sの00db書き込みでエラーが発生しました!");
  }
  if (file_.Seek(static_cast<int64_t>(blocks_.Position())) < 0) return Fail("%sがシークできません!");
  return true;
}

bool AviOutput::StreamChunk(uint32_t ckid, const void* data, uint32_t bytes) {
  return PutChunk([&](const void* p, size_t n) { return blocks_.Append(p, n); }, ckid, data, bytes);
}

bool AviOutput::Chunk(uint32_t ckid, const void* data, uint32_t bytes) {
  return PutChunk([&](const void* p, size_t n) { return file_.Write(p, n); }, ckid, data, bytes);
}

bool AviOutput::MakeRoom(uint64_t bytes) {
  const Part& part = parts_.back();
  const uint64_t at = blocks_.Position();
  // What the part still needs at its end: its standard indexes, and for the
  // first part the idx1 as well.
  uint64_t entries = part.video.size() + part.audio.size() + 1;
  uint64_t tail = 2 * (8 + kStdIndexHeader) + 8 * entries + (parts_.size() == 1 ? 8 + 16 * entries : 0);
  if (part.video.empty() && part.audio.empty()) return true;
  if (at - part.riffPos + bytes + tail <= partLimit) return true;
  if (parts_.size() >= maxParts) return Fail("%sは最大サイズに達しました!");
  if (!LeaveStream() || !ClosePart(false) || !OpenNextPart()) return false;
  if (!file_.Flush()) return Fail("%sにmoviチャンクを作成できません!");
  EnterStream();
  return true;
}

bool AviOutput::WriteAudio(const void* data, uint32_t bytes) {
  if (failed_) return false;
  if (!MakeRoom(8 + uint64_t{bytes} + 1)) return false;
  const uint64_t pos = blocks_.Position();
  if (!StreamChunk(FourCC("01wb"), data, bytes)) return Fail("%sの01wb書き込みでエラーが発生しました!");
  Entry e{FourCC("01wb"), kAviIfKeyframe, pos, bytes};
  parts_.back().audio.push_back(e);
  if (parts_.size() == 1) idx1_.push_back(e);
  audioBytes_ += bytes;
  return true;
}

bool AviOutput::WriteVideo(uint32_t ckid, const void* data, uint32_t bytes, uint32_t flags) {
  if (failed_) return false;
  if (!MakeRoom(8 + uint64_t{bytes} + 1)) return false;
  const uint64_t pos = blocks_.Position();
  if (!StreamChunk(ckid, data, bytes)) return Fail("%sの00db書き込みでエラーが発生しました!");
  AddVideoEntry(Entry{ckid, flags, pos, bytes});
  return true;
}

void AviOutput::AddVideoEntry(const Entry& e) {
  parts_.back().video.push_back(e);
  if (parts_.size() == 1) {
    idx1_.push_back(e);
    ++firstPartFrames_;
  }
  ++videoFrames_;
}

int AviOutput::CopyVideo(uint32_t ckid, int fd, uint64_t offset, uint32_t bytes, uint32_t flags) {
  if (failed_) return -1;
  if (fd < 0 || bytes == 0 || offset > static_cast<uint64_t>(INT64_MAX) - bytes) return 0;
  if (!MakeRoom(8 + uint64_t{bytes} + 1)) return -1;
  const uint64_t pos = blocks_.Position();
  uint8_t head[8];
  PutLE32(head, ckid);
  PutLE32(head + 4, bytes);
  static const uint8_t kPad = 0;
  if (!blocks_.Append(head, 8)) {
    Fail("%sの00db書き込みでエラーが発生しました!");
    return -1;
  }
  // The data goes from the source's pages into the block that is written
  // next, without another copy on the way.
  const int read = blocks_.AppendFrom(fd, offset, bytes);
  if (read == 0) {
    // Taken back with its header: the caller's own read names the fault.
    blocks_.Rewind(pos);
    return 0;
  }
  if (read < 0 || ((bytes & 1) && !blocks_.Append(&kPad, 1))) {
    Fail("%sの00db書き込みでエラーが発生しました!");
    return -1;
  }
  AddVideoEntry(Entry{ckid, flags, pos, bytes});
  return 1;
}

bool AviOutput::WriteNullVideo(uint32_t ckid) {
  if (failed_) return false;
  AddVideoEntry(Entry{ckid, 0, 0, 0});
  return true;
}

// ix00 / ix01 of the current part, inside its movi list.
bool AviOutput::WriteStandardIndex(bool video) {
  const std::vector<Entry>& list = video ? parts_.back().video : parts_.back().audio;
  if (list.empty()) return true;
  const uint32_t chunkId = video ? list.front().ckid : FourCC("01wb");
  std::vector<uint8_t> b(kStdIndexHeader + 8 * list.size(), 0);
  PutLE16(&b[0], 2);  // longs per entry
  b[2] = 0;           // sub-type
  b[3] = 1;           // an index of chunks
  PutLE32(&b[4], static_cast<uint32_t>(list.size()));
  PutLE32(&b[8], chunkId);
  PutLE64(&b[12], moviPos_);
  uint64_t duration = 0;
  const uint32_t sampleSize = headers_.audioHeader.dwSampleSize;
  for (size_t i = 0; i < list.size(); ++i) {
    const Entry& e = list[i];
    // Offsets point at the data, behind the chunk header; null frames at 0.
    uint32_t offset = e.size == 0 && e.position == 0 ? 0 : static_cast<uint32_t>(e.position + 8 - moviPos_);
    uint32_t size = e.size | (video && !(e.flags & kAviIfKeyframe) && e.size ? 0x80000000u : 0);
    PutLE32(&b[kStdIndexHeader + 8 * i], offset);
    PutLE32(&b[kStdIndexHeader + 8 * i + 4], size);
    duration += video ? 1 : sampleSize ? e.size / sampleSize : 1;
  }
  uint64_t pos = static_cast<uint64_t>(file_.Tell());
  if (!Chunk(video ? MakeFourCC('i', 'x', '0', '0') : MakeFourCC('i', 'x', '0', '1'), b.data(),
             static_cast<uint32_t>(b.size())))
    return Fail("%sのidx1書き込みでエラーが発生しました!");
  (video ? videoSuper_ : audioSuper_)
      .push_back({pos, static_cast<uint32_t>(8 + b.size()), static_cast<uint32_t>(duration)});
  return true;
}

bool AviOutput::WriteIdx1() {
  std::vector<uint8_t> b(16 * idx1_.size());
  for (size_t i = 0; i < idx1_.size(); ++i) {
    const Entry& e = idx1_[i];
    PutLE32(&b[16 * i], e.ckid);
    PutLE32(&b[16 * i + 4], e.flags);
    PutLE32(&b[16 * i + 8],
            e.size == 0 && e.position == 0 ? 0 : static_cast<uint32_t>(e.position - moviPos_));
    PutLE32(&b[16 * i + 12], e.size);
  }
  if (!Chunk(FourCC("idx1"), b.data(), static_cast<uint32_t>(b.size())))
    return Fail("%sのidx1書き込みでエラーが発生しました!");
  return true;
}

// Ends the current part: its standard indexes when the file is (or becomes)
// an OpenDML file, movi, the idx1 of the first part, the RIFF.
bool AviOutput::ClosePart(bool last) {
  const bool openDml = !last || parts_.size() > 1;
  if (openDml && (!WriteStandardIndex(true) || (headers_.audio && !WriteStandardIndex(false)))) return false;
  if (!file_.Ascend(&movi_)) return Fail("%sがシークできません!");
  if (parts_.size() == 1 && !WriteIdx1()) return false;
  if (!file_.Ascend(&riff_)) return Fail("%sがシークできません!");
  return true;
}

bool AviOutput::OpenNextPart() {
  riff_ = {};
  riff_.fccType = FourCC("AVIX");
  if (!file_.CreateChunk(&riff_, kCreateRiff)) return Fail("%sにAVIチャンクを作成できません!");
  movi_ = {};
  movi_.fccType = FourCC("movi");
  if (!file_.CreateChunk(&movi_, kCreateList)) return Fail("%sにmoviチャンクを作成できません!");
  moviPos_ = movi_.dwDataOffset;
  parts_.push_back(Part{riff_.dwDataOffset - 8, {}, {}});
  return true;
}

bool AviOutput::PatchHeaders(std::optional<uint32_t> audioLength) {
  auto put32 = [&](uint64_t at, uint32_t v) {
    uint8_t b[4];
    PutLE32(b, v);
    return file_.Seek(static_cast<int64_t>(at)) >= 0 && file_.Write(b, 4);
  };
  const bool openDml = parts_.size() > 1;
  // An AVI 1.0 reader sees the first part only; the total is in dmlh.
  bool ok = put32(avihData_ + 16, openDml ? firstPartFrames_ : videoFrames_) &&
            put32(videoStrh_ + 32, videoFrames_);
  if (headers_.audio && audioLength) ok = ok && put32(audioStrh_ + 32, *audioLength);
  if (!ok) return Fail("%sがシークできません!");
  if (!openDml) return true;

  auto superIndex = [&](uint64_t slot, const std::vector<SuperEntry>& list, uint32_t chunkId) {
    std::vector<uint8_t> b(kIndxHeader + kIndxEntry * maxParts, 0);
    PutLE16(&b[0], 4);
    b[2] = 0;
    b[3] = 0;  // an index of indexes
    PutLE32(&b[4], static_cast<uint32_t>(list.size()));
    PutLE32(&b[8], chunkId);
    for (size_t i = 0; i < list.size(); ++i) {
      PutLE64(&b[kIndxHeader + kIndxEntry * i], list[i].offset);
      PutLE32(&b[kIndxHeader + kIndxEntry * i + 8], list[i].size);
      PutLE32(&b[kIndxHeader + kIndxEntry * i + 12], list[i].duration);
    }
    return file_.Seek(static_cast<int64_t>(slot)) >= 0 &&
           Chunk(FourCC("indx"), b.data(), static_cast<uint32_t>(b.size()));
  };
  uint32_t videoId = parts_.front().video.empty() ? FourCC("00db") : parts_.front().video.front().ckid;
  ok = superIndex(videoIndxSlot_, videoSuper_, videoId);
  if (ok && headers_.audio) ok = superIndex(audioIndxSlot_, audioSuper_, FourCC("01wb"));
  if (ok) {
    uint8_t b[kOdmlListBytes] = {};
    PutLE32(b, FourCC("LIST"));
    PutLE32(b + 4, kOdmlListBytes - 8);
    PutLE32(b + 8, FourCC("odml"));
    PutLE32(b + 12, FourCC("dmlh"));
    PutLE32(b + 16, kDmlhBytes);
    PutLE32(b + 20, videoFrames_);
    ok = file_.Seek(static_cast<int64_t>(odmlSlot_)) >= 0 && file_.Write(b, sizeof b);
  }
  return ok ? true : Fail("%sがシークできません!");
}

bool AviOutput::Finish(std::optional<uint32_t> audioLength) {
  if (failed_ || done_ || !file_.IsOpen()) return false;
  if (!LeaveStream() || !ClosePart(true)) return false;
  // A chunk taken back at the end may have left bytes past the file's end.
  const int64_t end = file_.Tell();
  if (end < 0 || !PatchHeaders(audioLength)) return false;
  if (!file_.Flush() || ftruncate(file_.Descriptor(), end) != 0 || !file_.Close())
    return Fail("%sのidx1書き込みでエラーが発生しました!");
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) return Fail("%sが開けません!");
  done_ = true;
  return true;
}

void AviOutput::Abandon() {
  blocks_.Drain();
  if (file_.IsOpen()) file_.Close();
  if (!temp_.empty() && !done_) unlink(temp_.c_str());
  temp_.clear();
  done_ = true;
}
