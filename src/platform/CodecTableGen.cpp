// Writes the table CodecNames.cpp names video codecs from: libavformat's
// RIFF video tags in their order, and for each codec the description of the
// decoder libavcodec would choose. Run at build time, so the table always
// matches the libraries the decoders come from.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {
// libavformat's tag rows. The type is opaque in the public headers, but its
// layout (codec id, then tag) has not changed in FFmpeg's history; every row
// read through it is checked against av_codec_get_id below.
struct TagRow {
  AVCodecID id;
  unsigned int tag;
};

std::string CString(const char* s) {
  std::string out = "\"";
  for (const char* p = s; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\')
      out += '\\', out += static_cast<char>(c);
    else if (c < 0x20 || c >= 0x7F)
      out += "\\" + std::to_string(c >> 6) + std::to_string((c >> 3) & 7) + std::to_string(c & 7);
    else
      out += static_cast<char>(c);
  }
  return out + "\"";
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.inc\n", argv[0]);
    return 2;
  }
  std::vector<std::pair<unsigned, int>> tags;
  std::vector<AVCodecID> codecs;
  std::map<int, int> rowOf;
  auto rowOfCodec = [&](AVCodecID id) {
    auto it = rowOf.find(id);
    if (it != rowOf.end()) return it->second;
    int row = static_cast<int>(codecs.size());
    codecs.push_back(id);
    rowOf[id] = row;
    return row;
  };
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  const auto* rows = reinterpret_cast<const TagRow*>(tables[0]);
  for (const TagRow* t = rows; t->id != AV_CODEC_ID_NONE; ++t) {
    // The first row with a tag decides its codec; a later one must agree
    // with the lookup or the layout is not what we read.
    bool first = true;
    for (const TagRow* u = rows; u != t; ++u) first = first && u->tag != t->tag;
    if (!avcodec_descriptor_get(t->id) || t - rows > 10000 ||
        (first && av_codec_get_id(tables, t->tag) != t->id)) {
      std::fprintf(stderr, "%s: libavformat's RIFF tag table is not laid out as expected\n", argv[0]);
      return 1;
    }
    tags.emplace_back(t->tag, rowOfCodec(t->id));
  }
  int dvRow = rowOfCodec(AV_CODEC_ID_DVVIDEO);

  std::string out =
      "// Generated at build time by mx_codec_table_gen from libavformat's RIFF video\n"
      "// tags and libavcodec's decoders. Do not edit.\n"
      "const VideoTagRow kVideoTags[] = {\n";
  for (auto [tag, row] : tags)
    out += "    {0x" +
           [](unsigned v) {
             char b[16];
             std::snprintf(b, sizeof b, "%08Xu", v);
             return std::string(b);
           }(tag) +
           ", " + std::to_string(row) + "},\n";
  out += "};\nconst VideoCodecRow kVideoCodecs[] = {\n";
  for (AVCodecID id : codecs) {
    const AVCodec* dec = avcodec_find_decoder(id);
    const char* name = dec ? (dec->long_name ? dec->long_name : dec->name) : nullptr;
    out +=
        "    {" + std::to_string(static_cast<int>(id)) + ", " + (name ? CString(name) : "nullptr") + "},\n";
  }
  out += "};\nconstexpr int kDvVideoRow = " + std::to_string(dvRow) + ";\n";

  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
