// Writes the seed corpus of the reader's fuzz target: small synthetic AVI
// files of every kind the builder makes.
#include <cstdio>
#include <string>

#include "AviBuilder.h"

static void Save(const std::string& dir, const char* name, const AviLayout& L) {
  std::string path = dir + "/" + name;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(L.bytes.data(), 1, L.bytes.size(), f);
    std::fclose(f);
  }
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string dir = argv[1];
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
