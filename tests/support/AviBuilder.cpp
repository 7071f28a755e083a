#include "AviBuilder.h"

#include <cstring>

namespace {

void Set32(std::string& s, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
void Set64(std::string& s, uint64_t at, uint64_t v) {
  Set32(s, at, static_cast<uint32_t>(v));
  Set32(s, at + 4, static_cast<uint32_t>(v >> 32));
}
void P16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
void P32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
void P64(std::string& s, uint64_t v) {
  P32(s, static_cast<uint32_t>(v));
  P32(s, static_cast<uint32_t>(v >> 32));
}
void PF(std::string& s, const char* f) {
  s.append(f, 4);
}

// Opens a chunk; returns the position of its size field.
uint64_t Open(std::string& s, const char* id, const char* type = nullptr) {
  PF(s, id);
  uint64_t at = s.size();
  P32(s, 0);
  if (type) PF(s, type);
  return at;
}
void Close(std::string& s, uint64_t sizeAt) {
  Set32(s, sizeAt, static_cast<uint32_t>(s.size() - sizeAt - 4));
  if (s.size() & 1) s.push_back(0);
}

struct Entry {
  char id[5];
  uint32_t flags;
  uint64_t header;
  uint32_t size;
};

}  // namespace

std::vector<AviFrame> Frames(size_t count, uint32_t size) {
  std::vector<AviFrame> v(count);
  for (auto& f : v) f.size = size;
  return v;
}

AviLayout BuildAvi(const AviBuildOptions& o) {
  AviLayout L;
  std::string& s = L.bytes;
  const uint32_t nFrames = static_cast<uint32_t>(o.frames.size());
  const bool hasAudio = o.audio;
  uint32_t parts = 1;
  if (o.openDml && o.framesPerPart) parts = (nFrames + o.framesPerPart - 1) / o.framesPerPart;
  if (parts == 0) parts = 1;

  uint64_t riff = Open(s, "RIFF", "AVI ");
  uint64_t hdrl = Open(s, "LIST", "hdrl");
  uint64_t avih = Open(s, "avih");
  L.avihData = s.size();
  uint32_t total = o.avihFrames >= 0 ? static_cast<uint32_t>(o.avihFrames) : nFrames;
  if (o.openDml && o.avihFrames < 0 && parts > 1) total = std::min(nFrames, o.framesPerPart);
  uint32_t head[14] = {1000000 * o.scale / (o.rate ? o.rate : 1),
                       0,
                       0,
                       0x10,
                       total,
                       0,
                       hasAudio ? 2u : 1u,
                       0,
                       static_cast<uint32_t>(o.width),
                       static_cast<uint32_t>(o.height),
                       0,
                       0,
                       0,
                       0};
  for (uint32_t v : head) P32(s, v);
  Close(s, avih);

  // Video stream.
  uint64_t strl = Open(s, "LIST", "strl");
  uint64_t strh = Open(s, "strh");
  PF(s, "vids");
  if (o.handler)
    PF(s, o.handler);
  else
    P32(s, 0);
  P32(s, 0);
  P32(s, 0);
  P32(s, 0);
  P32(s, o.scale);
  P32(s, o.rate);
  P32(s, 0);
  P32(s, o.strhLength >= 0 ? static_cast<uint32_t>(o.strhLength) : nFrames);
  P32(s, 0);
  P32(s, 0xFFFFFFFF);
  P32(s, 0);
  P16(s, 0);
  P16(s, 0);
  P16(s, static_cast<uint16_t>(o.width));
  P16(s, static_cast<uint16_t>(o.height));
  Close(s, strh);
  uint64_t strf = Open(s, "strf");
  L.videoStrfData = s.size();
  P32(s, 40);
  P32(s, static_cast<uint32_t>(o.width));
  P32(s, static_cast<uint32_t>(o.height));
  P16(s, 1);
  P16(s, o.bitCount);
  P32(s, o.compression);
  P32(s, 0);
  P32(s, 0);
  P32(s, 0);
  P32(s, 0);
  P32(s, 0);
  Close(s, strf);
  uint64_t superAt[2] = {0, 0};
  auto superIndex = [&](int which, const char* chunkId) {
    uint64_t indx = Open(s, "indx");
    L.superIndex[which] = s.size();
    P16(s, 4);
    s.push_back(0);
    s.push_back(0);
    P32(s, parts);
    PF(s, chunkId);
    P32(s, 0);
    P32(s, 0);
    P32(s, 0);
    superAt[which] = s.size();
    for (uint32_t i = 0; i < parts; ++i) {
      P64(s, 0);
      P32(s, 0);
      P32(s, 0);
    }
    Close(s, indx);
  };
  if (o.openDml) superIndex(0, "00dc");
  Close(s, strl);

  if (hasAudio) {
    strl = Open(s, "LIST", "strl");
    strh = Open(s, "strh");
    PF(s, "auds");
    P32(s, 0);
    P32(s, 0);
    P32(s, 0);
    P32(s, 0);
    P32(s, o.wf.blockAlign);
    P32(s, o.wf.blockAlign ? o.wf.avgBytes : 0);
    P32(s, 0);
    uint64_t bytes = 0;
    for (uint32_t a : o.audioSizes) bytes += a;
    P32(s, o.wf.blockAlign ? static_cast<uint32_t>(bytes / o.wf.blockAlign) : 0);
    P32(s, 0);
    P32(s, 0xFFFFFFFF);
    P32(s, o.wf.blockAlign);
    P32(s, 0);
    P32(s, 0);
    Close(s, strh);
    strf = Open(s, "strf");
    L.audioStrfData = s.size();
    std::string wf;
    P16(wf, o.wf.tag);
    P16(wf, o.wf.channels);
    P32(wf, o.wf.rate);
    P32(wf, o.wf.avgBytes);
    P16(wf, o.wf.blockAlign);
    P16(wf, o.wf.bits);
    P16(wf, static_cast<uint16_t>(o.wf.strfSize > 18 ? o.wf.strfSize - 18 : 0));
    wf.resize(o.wf.strfSize, '\0');
    s += wf;
    Close(s, strf);
    if (o.openDml) superIndex(1, "01wb");
    Close(s, strl);
  }
  Close(s, hdrl);
  if (o.openDml) {
    uint64_t odml = Open(s, "LIST", "odml");
    uint64_t dmlh = Open(s, "dmlh");
    P32(s, nFrames);
    s.append(244, '\0');
    Close(s, dmlh);
    Close(s, odml);
  }

  std::vector<Entry> idx1;
  size_t nextAudio = 0;
  uint64_t riffStart = 0;
  uint64_t riffSizeAt = riff;
  for (uint32_t part = 0; part < parts; ++part) {
    if (part > 0) {
      riffStart = s.size();
      riffSizeAt = Open(s, "RIFF", "AVIX");
    }
    uint64_t movi = Open(s, "LIST", "movi");
    if (part == 0) L.moviType = movi + 4;
    uint32_t first = o.framesPerPart && o.openDml ? part * o.framesPerPart : 0;
    uint32_t last = o.framesPerPart && o.openDml ? std::min(nFrames, first + o.framesPerPart) : nFrames;
    std::vector<std::pair<uint64_t, uint32_t>> vIx, aIx;
    for (uint32_t i = first; i < last; ++i) {
      const AviFrame& f = o.frames[i];
      uint64_t rec = 0;
      if (o.recLists) rec = Open(s, "LIST", "rec ");
      uint64_t header = s.size();
      const char* id = f.dc ? "00dc" : "00db";
      uint64_t c = Open(s, id);
      L.videoData.push_back(s.size());
      s.append(f.size, static_cast<char>(i + o.fill));
      Close(s, c);
      Entry e{};
      std::memcpy(e.id, id, 5);
      e.flags = f.key || o.idx1OnlyKeyFlags ? 0x10 : 0;
      e.header = header;
      e.size = f.size;
      idx1.push_back(e);
      vIx.push_back({header + 8, f.size | (f.key ? 0 : 0x80000000u)});
      if (hasAudio && nextAudio < o.audioSizes.size()) {
        uint32_t a = o.audioSizes[nextAudio++];
        uint64_t ah = s.size();
        uint64_t ac = Open(s, "01wb");
        L.audioData.push_back(s.size());
        for (uint32_t k = 0; k < a; ++k) s.push_back(static_cast<char>(k * 7));
        Close(s, ac);
        Entry ae{};
        std::memcpy(ae.id, "01wb", 5);
        ae.flags = 0x10;
        ae.header = ah;
        ae.size = a;
        idx1.push_back(ae);
        aIx.push_back({ah + 8, a});
      }
      if (o.recLists) Close(s, rec);
    }
    if (o.openDml) {
      auto stdIndex = [&](int which, const char* ixId, const char* chunkId,
                          const std::vector<std::pair<uint64_t, uint32_t>>& entries) {
        uint64_t at = s.size();
        L.stdIndex.push_back(at);
        uint64_t ix = Open(s, ixId);
        P16(s, 2);
        s.push_back(0);
        s.push_back(1);
        P32(s, static_cast<uint32_t>(entries.size()));
        PF(s, chunkId);
        P64(s, riffStart);
        P32(s, 0);
        for (auto& [pos, size] : entries) {
          P32(s, static_cast<uint32_t>(pos - riffStart));
          P32(s, size);
        }
        Close(s, ix);
        uint64_t e = superAt[which] + 16 * part;
        Set64(s, e, at);
        Set32(s, e + 8, static_cast<uint32_t>(s.size() - at));
        Set32(s, e + 12, static_cast<uint32_t>(entries.size()));
      };
      stdIndex(0, "ix00", "00dc", vIx);
      if (hasAudio) stdIndex(1, "ix01", "01wb", aIx);
    }
    Close(s, movi);
    if (part == 0 && o.idx1 != AviBuildOptions::kNone) {
      uint64_t c = Open(s, "idx1");
      L.idx1Data = s.size();
      for (const Entry& e : idx1) {
        PF(s, e.id);
        P32(s, e.flags);
        P32(s,
            static_cast<uint32_t>(o.idx1 == AviBuildOptions::kAbsolute ? e.header : e.header - L.moviType));
        P32(s, e.size);
      }
      Close(s, c);
    }
    Close(s, riffSizeAt);
    if (part == 0) s += o.afterRiff;
  }
  return L;
}
