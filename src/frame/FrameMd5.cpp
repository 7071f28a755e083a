#include "frame/FrameMd5.h"

#include <memory>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include "frame/Capture.h"
#include "platform/Host.h"

namespace {

// Boxes and status texts go to the error stream; questions get "no".
class Md5Host : public Host {
 public:
  explicit Md5Host(FILE* err) : err_(err) {}
  int MessageBox(const std::string& text, const std::string&, unsigned style) override {
    std::fprintf(err_, "%s\n", text.c_str());
    unsigned type = style & MB_TYPEMASK;
    return type == MB_YESNO || type == MB_YESNOCANCEL ? IDNO : type == MB_OKCANCEL ? IDCANCEL : IDOK;
  }
  void SetStatusText(int part, const std::string& text) override {
    if (part == 0 && !text.empty()) std::fprintf(err_, "%s\n", text.c_str());
  }
  void SetTitle(const std::string&) override {}
  void Pump() override {}

 private:
  FILE* err_;
};

}  // namespace

int FrameMd5(const std::string& path, FILE* out, FILE* err,
             const std::function<bool(OpenAviTable&)>& prepare) {
  Md5Host host(err);
  HostScope scope(&host);
  // A capture of its own: the file, a reader and a pool.
  auto capture = std::make_unique<Capture>();
  OpenAviTable& table = capture->table;
  FrameReader& reader = capture->reader;
  table.openOptions.scanMissingIndexSilently = true;
  int result = 2;
  if (table.OpenOne(path, 3) && (!prepare || prepare(table))) {
    OpenAviFile* avi = &table.pOpenAviList[0];
    BitmapInfoHeader bi = avi->biDecoded;
    int h = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
    reader.mixedFields = true;
    if (!reader.AllocateBuffers(bi.biWidth, h)) {
      std::fprintf(err, "必要なメモリが確保できません!\n");
    } else {
      result = 0;
      const FrameGeometry& g = reader.framePool.geometry;
      uint8_t* frame = reader.Slot(kCurrentFrame);
      AVMD5* md5 = av_md5_alloc();
      uint32_t count = avi->Set().FrameMax;
      for (uint32_t n = 0; n < count && md5; ++n) {
        if (!reader.ReadFrame(avi, frame, nullptr, n, 0x7F)) result = 1;
        av_md5_init(md5);
        for (int row = 0; row < g.height; ++row)
          av_md5_update(md5, frame + g.stride * static_cast<size_t>(row), g.lineBytes);
        uint8_t digest[16];
        av_md5_final(md5, digest);
        std::fprintf(out, "%u,", n);
        for (uint8_t b : digest) std::fprintf(out, "%02x", b);
        std::fputc('\n', out);
      }
      av_free(md5);
    }
  }
  capture.reset();  // closes the file before the host goes
  return result;
}
