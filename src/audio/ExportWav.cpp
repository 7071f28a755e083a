#include "audio/ExportWav.h"

#include <unistd.h>

#include "audio/AudioDecode.h"
#include "audio/ReadWave.h"
#include "command/CommandIds.h"
#include "platform/AppState.h"
#include "platform/Host.h"

namespace {

int Export(const ExportWavRequest& request, FILE* err, const std::function<bool(OpenAviTable&)>& prepare) {
  OpenAviTable table;
  table.openOptions.scanMissingIndexSilently = true;
  table.openOptions.decodeAudioAtOpen = true;
  table.openOptions.decodeAudioStream = [](OpenAviFile* avi) { return DecodeAudioStream(avi); };
  if (!table.OpenChosenFiles(kCmdOpenAdd, nullptr, request.inputs) ||
      table.nOpenAvi != static_cast<int>(request.inputs.size()))
    return 2;
  if (prepare && !prepare(table)) return 2;

  ReadWave engine(table);
  switch (engine.State()) {
    case TableAudio::kNone:
      std::fprintf(err, "mirdex: %s has no audio\n", request.inputs[0].c_str());
      return 1;
    case TableAudio::kNotDecoded:
      std::fprintf(err, "mirdex: the audio of %s could not be decoded\n",
                   engine.AudioFile()->szFileName.c_str());
      return 2;
    default:
      break;
  }
  ReadWaveSettings settings;
  if (request.first >= 0) {
    const uint32_t frames = table.TotalFrames();
    if (request.last < request.first || request.last >= frames) {
      std::fprintf(err, "mirdex: the range %lld-%lld is outside frames 0-%lld\n",
                   static_cast<long long>(request.first), static_cast<long long>(request.last),
                   static_cast<long long>(frames) - 1);
      return 1;
    }
    settings.scope = kScopeSelection;
    settings.selectionFirst = request.first;
    settings.selectionLast = request.last;
  }
  return engine.Run(kWaveExport, settings, request.out) ? 0 : 1;
}

}  // namespace

int ExportWav(const ExportWavRequest& request, FILE* err, const std::function<bool(OpenAviTable&)>& prepare) {
  TerminalHost host(err, TerminalHost::ProgressFrom::kStatus);
  HostScope scope(&host);
  return Export(request, err, prepare);
}
