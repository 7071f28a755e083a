// Writes the seed corpora of the fuzz targets: small synthetic AVI files of
// every kind the builder makes into DIR, and (given OTHER) a few inputs of the
// other parsers into OTHER/<target>.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "AviBuilder.h"

static void SaveBytes(const std::string& dir, const char* name, const std::string& bytes) {
  std::string path = dir + "/" + name;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}
static void Save(const std::string& dir, const char* name, const AviLayout& L) {
  SaveBytes(dir, name, L.bytes);
}
static std::string Le(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}
static std::string Target(const std::string& dir, const char* name) {
  std::string sub = dir + "/" + name;
  mkdir(sub.c_str(), 0755);
  return sub;
}

// Seeds of the parsers other than the AVI reader.
static void OtherSeeds(const std::string& dir) {
  std::string pcm = Le(1, 2) + Le(2, 2) + Le(48000, 4) + Le(192000, 4) + Le(4, 2) + Le(16, 2);
  std::string wave = Target(dir, "wave_fmt");
  SaveBytes(wave, "pcm16", pcm);
  SaveBytes(wave, "pcm18", pcm + Le(0, 2));
  std::string ext = Le(0xFFFE, 2) + pcm.substr(2) + Le(22, 2) + Le(24, 2) + Le(3, 4) + Le(1, 2) +
                    std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
  SaveBytes(wave, "extensible", ext);
  std::string bmp = Target(dir, "bmp_header");
  auto header = [](int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t clrUsed) {
    return Le(40, 4) + Le(static_cast<uint32_t>(w), 4) + Le(static_cast<uint32_t>(h), 4) + Le(1, 2) +
           Le(bits, 2) + Le(compression, 4) + Le(0, 4) + Le(0, 4) + Le(0, 4) + Le(clrUsed, 4) + Le(0, 4);
  };
  SaveBytes(bmp, "rgb24", header(4, -3, 24, 0, 0) + std::string(48, '\x40'));
  SaveBytes(bmp, "pal8", header(5, 2, 8, 0, 4) + std::string(16, '\x7F') + std::string(16, '\x02'));
  SaveBytes(bmp, "rle4", header(6, 2, 4, 2, 2) + std::string(8, '\x11') + std::string("\x04\x12\0\0\0\1", 6));
  SaveBytes(bmp, "fields16",
            header(3, 3, 16, 3, 0) + Le(0xF800, 4) + Le(0x07E0, 4) + Le(0x1F, 4) + std::string(24, '\x55'));
  std::string ini = Target(dir, "profile");
  SaveBytes(ini, "settings.ini", "[Window]\r\nLeft=10\r\n top = \"20\" \r\n\r\n[Folder]\r\nOpen=/tmp\r\n");
  std::string ref = Target(dir, "reference");
  SaveBytes(ref, "dvrs", std::string("\0", 1) + Le(0, 4) + Le(4096, 4) + Le(120000, 4) + "source.avi");
  SaveBytes(ref, "cdvc", std::string("\1REF ", 5) + Le(3, 4) + Le(0, 4) + Le(0, 4) + "cap.avi");
  SaveBytes(ref, "refcodec", std::string("\2RefCodec", 9) + Le(7, 4) + Le(0xC0000002u, 4) + "cap.avi");
  std::string marks = Target(dir, "marks");
  SaveBytes(marks, "stored",
            "\x80"
            "12,a||b|40,|3,x|||250,past\n3,9,cut|20,25,|7,5,r||s|30,200,long");
  SaveBytes(marks, "overlapping", std::string("\x10") + "0,|1,1|1,2\n0,4,a|2,8,b|8,8,c|9,0,d||");
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string dir = argv[1];
  if (argc > 2) OtherSeeds(argv[2]);
  AviBuildOptions o;
  o.frames = Frames(6, 24);
  o.frames[2].size = 0;
  o.frames[3].key = false;
  o.frames[4].dc = false;
  Save(dir, "idx1_rel.avi", BuildAvi(o));
  o.idx1 = AviBuildOptions::kAbsolute;
  Save(dir, "idx1_abs.avi", BuildAvi(o));
  o.audio = true;
  o.audioSizes = {16, 16, 18, 16, 16, 16};
  o.idx1 = AviBuildOptions::kRelative;
  Save(dir, "pcm.avi", BuildAvi(o));
  o.idx1 = AviBuildOptions::kNone;
  Save(dir, "noidx1.avi", BuildAvi(o));
  o.recLists = true;
  Save(dir, "rec.avi", BuildAvi(o));
  o.recLists = false;
  o.idx1 = AviBuildOptions::kRelative;
  o.wf.tag = 0x55;
  o.wf.strfSize = 30;
  Save(dir, "mp3.avi", BuildAvi(o));
  o.wf = AviAudioFormat{};
  o.openDml = true;
  Save(dir, "odml1.avi", BuildAvi(o));
  o.framesPerPart = 2;
  Save(dir, "odml3.avi", BuildAvi(o));
  o.afterRiff = "JUNK\4\0\0\0abcd";
  o.openDml = false;
  Save(dir, "after.avi", BuildAvi(o));
  return 0;
}
