#include "app/AudioCommands.h"

#include <QVBoxLayout>
#include <vector>

#include "app/MainWindow.h"
#include "app/VolumeWindow.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "settings/MirdexSettings.h"
#include "ui/AudioFormatPanel.h"

AudioEdits::AudioEdits(ShownCapture& shown) : engine(shown.table), shown_(shown) {}

void AudioEdits::Load(const MirdexSettings& s) {
  settings.targetPercent = s.waveLimit;
  settings.factor = s.waveLevel;
  settings.offsetLeft = s.waveOffsetLch;
  settings.offsetRight = s.waveOffsetRch;
}

void AudioEdits::Store(MirdexSettings& s) const {
  s.waveLimit = settings.targetPercent;
  s.waveLevel = settings.factor;
  s.waveOffsetLch = settings.offsetLeft;
  s.waveOffsetRch = settings.offsetRight;
}

bool AudioEdits::CanRun() const {
  TableAudio state = engine.State();
  return state == TableAudio::kPcm || state == TableAudio::kDecoded;
}

bool AudioEdits::WideAroundFrame() const {
  return shown_.table.EffectiveFrameRate() > 30.0;
}

int AudioEdits::Run(unsigned mode, ReadWaveRequest& request) {
  const FrameSelection& sel = shown_.navigation.selection;
  settings.selectionFirst = sel.EffectiveStart();
  settings.selectionLast = sel.end;
  settings.currentFrame = shown_.reader.currentFrame;
  settings.wideAroundFrame = WideAroundFrame();
  int done = engine.Run(mode, settings, request);
  Store(mirdexSettings);
  // A rewrite switches the level correction off, an accepted level check on.
  SetCheck(kCmdLevelCorrection, settings.levelCorrection, false);
  ShowVolumeValues();
  RefreshUi();
  return done;
}

namespace {

MainWindow* window = nullptr;
// The folder of the last WAVE file chosen in this session.
std::string waveFolder;

AudioEdits& A() {
  return window->AudioWork();
}

bool CanRunAudio() {
  return window && !ME.fBusy && A().CanRun();
}

// The audio file's path with ".avi" (any case) removed and ".wav" added.
std::string ProposedWaveFile() {
  const OpenAviFile* avi = A().engine.AudioFile();
  std::string path = avi ? avi->szFileName : std::string();
  if (path.size() >= 4 && EqualsNoCase(path.substr(path.size() - 4), ".avi")) path.resize(path.size() - 4);
  return path + ".wav";
}

std::vector<uint8_t> SourceFormat() {
  if (!A().CanRun()) return {};
  std::vector<uint8_t> bytes(kWaveFormatExBytes);
  WaveFormatEx wf = A().engine.Format();
  wf.cbSize = 0;
  StoreWaveFormat(wf, bytes.data());
  return bytes;
}

// The WAVE dialog of a save (with the format panel) or an import; "" when
// cancelled.
std::string ChooseWaveFile(bool save) {
  ReadWaveSettings& s = A().settings;
  std::string proposal = ProposedWaveFile();
  FileDialogRequest req;
  req.save = save;
  req.overwritePrompt = save;
  req.title = save ? "Mirdex / WAVE出力ファイル名入力" : "Mirdex / WAVE取込ファイル名入力";
  req.filters = {{"WAVEファイル", "*.wav"}};
  if (save)
    req.defaultExt = "wav";
  else
    req.filters.push_back({"すべてのファイル", "*.*"});
  req.settingsKind = "Wave";
  req.initialDir = waveFolder.empty() ? DirectoryPart(proposal) : waveFolder;
  req.initialName = proposal.substr(DirectoryPart(proposal).size());
  AudioFormatPanel* format = nullptr;
  AudioShiftPanel* shift = nullptr;
  req.addPanels = [&](QWidget* area) {
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);
    if (save) {
      format = new AudioFormatPanel(area, &s.output, SourceFormat(), true);
      column->addWidget(format);
    }
    shift = new AudioShiftPanel(area, &s.shiftSamples);
    column->addWidget(shift);
  };
  req.panelsAccepted = [&] {
    if (format) format->Apply();
    if (shift) shift->Apply();
  };
  std::vector<std::string> paths;
  if (!CurrentHost().ChooseFiles(req, &paths) || paths.empty()) return {};
  waveFolder = DirectoryPart(paths[0]);
  return paths[0];
}

const char* OperationName(unsigned mode) {
  switch (mode) {
    case kWaveRewrite | kWaveVolume:
      return "音声倍率変更書換";
    case kWaveRewrite | kWaveFadeIn:
      return "音声フェードイン";
    case kWaveRewrite | kWaveFadeOut:
      return "音声フェードアウト";
    case kWaveRewrite | kWaveFromWave:
      return "WAVEファイル読込";
    default:
      return "AVIファイル音声読込";
  }
}

// Every change in place is confirmed with its scope first.
bool Confirm(unsigned mode) {
  return CurrentHost().ConfirmWithScope(OperationName(mode), &A().settings.scope);
}

void SaveWave(unsigned mode) {
  std::string path = ChooseWaveFile(true);
  if (path.empty()) return;
  ReadWaveRequest request;
  request.wavePath = path;
  A().Run(mode, request);
}

void ReadWaveFile() {
  std::string path = ChooseWaveFile(false);
  if (path.empty() || !Confirm(kWaveRewrite | kWaveFromWave)) return;
  ReadWaveRequest request;
  request.wavePath = path;
  A().Run(kWaveRewrite | kWaveFromWave, request);
}

void ReadAudioFromAvi() {
  // The other file lives in a capture of its own for the command's length.
  Capture other;
  if (!other.table.AllocOpenAviTable(1)) return;
  OpenAviFile* avi = &other.table.pOpenAviList[0];
  if (!other.table.OpenAviDialog(kCmdReadAudioFromAvi, avi)) return;
  if (!Confirm(kWaveRewrite | kWaveFromAvi)) return;
  ReadWaveRequest request;
  request.otherAvi = avi;
  A().Run(kWaveRewrite | kWaveFromAvi, request);
}

void RunMode(unsigned mode, bool confirm) {
  if (confirm && !Confirm(mode)) return;
  ReadWaveRequest request;
  A().Run(mode, request);
}

void DvCheck() {
  ReadWaveRequest request;
  request.record = window->Shown().table.pCurrentOpenAvi;
  A().Run(kWaveDvCheck, request);
}

}  // namespace

void RegisterAudioCommands(MainWindow* w) {
  window = w;
  auto run = [](unsigned mode, bool confirm) {
    return [mode, confirm](int, CommandSource) { RunMode(mode, confirm); };
  };
  RegisterCommand(
      kCmdSaveWave, [](int, CommandSource) { SaveWave(kWaveExport); }, CanRunAudio);
  RegisterCommand(
      kCmdSaveWaveScaled, [](int, CommandSource) { SaveWave(kWaveExport | kWaveVolume); }, CanRunAudio);
  RegisterCommand(
      kCmdReadWave, [](int, CommandSource) { ReadWaveFile(); }, CanRunAudio);
  RegisterCommand(
      kCmdReadAudioFromAvi, [](int, CommandSource) { ReadAudioFromAvi(); }, CanRunAudio);
  RegisterCommand(kCmdSaveWaveAround, run(kWaveExport | kWaveAroundFrame, false), CanRunAudio);
  RegisterCommand(kCmdSaveWaveAroundShifted, run(kWaveExport | kWaveAroundFrameShifted, false), CanRunAudio);
  RegisterCommand(kCmdWaveLimitCheck, run(kWaveFactorCheck, false), CanRunAudio);
  RegisterCommand(kCmdLevelCheck, run(kWaveOffsetCheck, false), CanRunAudio);
  RegisterCommand(kCmdChangeVolume, run(kWaveRewrite | kWaveVolume, true), CanRunAudio);
  RegisterCommand(kCmdFadeIn, run(kWaveRewrite | kWaveFadeIn, true), CanRunAudio);
  RegisterCommand(kCmdFadeOut, run(kWaveRewrite | kWaveFadeOut, true), CanRunAudio);
  RegisterCommand(
      kCmdDvAudioCheck, [](int, CommandSource) { DvCheck(); },
      [] { return CanRunAudio() && IsDvCodec(window->Shown().table.pCurrentOpenAvi); });
  RegisterCommand(kCmdLevelClear, [](int, CommandSource) {
    ReadWaveSettings& s = A().settings;
    s.offsetLeft = s.offsetRight = 0;
    s.levelCorrection = false;
    SetCheck(kCmdLevelCorrection, false, false);
    A().Store(mirdexSettings);
    ShowVolumeValues();
  });
  RegisterCommand(kCmdLevelCorrection, [](int id, CommandSource source) {
    ReadWaveSettings& s = A().settings;
    s.levelCorrection = ToggleCheck(id, source, s.levelCorrection ? 1 : 0) != 0;
  });
  RegisterCommand(kCmdVolumeWindow, [](int, CommandSource) { ShowVolumeWindow(window); });
}

void UnregisterAudioCommands(MainWindow* w) {
  if (window != w) return;
  for (int id : {kCmdSaveWave, kCmdSaveWaveScaled, kCmdReadWave, kCmdReadAudioFromAvi, kCmdSaveWaveAround,
                 kCmdSaveWaveAroundShifted, kCmdWaveLimitCheck, kCmdLevelCheck, kCmdChangeVolume, kCmdFadeIn,
                 kCmdFadeOut, kCmdDvAudioCheck, kCmdLevelClear, kCmdLevelCorrection, kCmdVolumeWindow})
    UnregisterCommand(id);
  window = nullptr;
}
