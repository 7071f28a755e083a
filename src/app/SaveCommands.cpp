#include "app/SaveCommands.h"

#include <QGuiApplication>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "app/AudioCommands.h"
#include "app/MainWindow.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/RiffFormats.h"
#include "process/AviSave.h"
#include "settings/MirdexSettings.h"
#include "ui/AviSaveOptionsPanel.h"
#include "ui/FrameRangePanel.h"

namespace {

MainWindow* window = nullptr;
// The dialog's choices, kept while the program runs.
AviSaveOptions options;
FrameRangeChoice range;
// The folder of the last AVI file saved in this session.
std::string saveFolder;

bool CanSave() {
  if (!window || ME.fBusy) return false;
  const ShownCapture& s = window->Shown();
  return s.table.nOpenAvi > 0 && s.reader.framePool.block;
}

// The PCM the writer reads; empty when the shown files give none.
std::vector<uint8_t> AudioSource() {
  AudioEdits& audio = window->AudioWork();
  if (!audio.CanRun()) return {};
  std::vector<uint8_t> bytes(kWaveFormatExBytes);
  WaveFormatEx wf = audio.engine.Format();
  wf.cbSize = 0;
  StoreWaveFormat(wf, bytes.data());
  return bytes;
}

// The output name, with the panels' choices stored; "" when cancelled. A
// name of an opened file is refused and asked again.
std::string AskOutputName() {
  ShownCapture& shown = window->Shown();
  const OpenAviTable& t = shown.table;
  const OpenAviFile& first = t.pOpenAviList[0];
  const BitmapInfoHeader bi = first.biDecoded;
  std::string initialName;
  for (;;) {
    FileDialogRequest req;
    req.save = true;
    req.overwritePrompt = true;
    req.title = "Mirdex / ビデオ出力AVIファイル名入力";
    req.filters = {{"AVIファイル", "*.avi"}};
    req.defaultExt = "avi";
    req.settingsKind = "Save";
    req.initialDir = saveFolder.empty() ? DirectoryPart(first.szFileName) : saveFolder;
    req.initialName = initialName;
    AviSaveOptionsPanel* panel = nullptr;
    req.addPanels = [&](QWidget* area) {
      auto* column = new QVBoxLayout(area);
      column->setContentsMargins(0, 0, 0, 0);
      panel = new AviSaveOptionsPanel(area, &options, AudioSource(), IsDvCodec(&first), bi.biWidth,
                                      bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
      column->addWidget(panel);
      column->addWidget(new FrameRangePanel(area, &range, [&shown] {
        const FrameSelection& sel = shown.navigation.selection;
        return sel.EffectiveEnd(shown.table.TotalFrames()) - sel.EffectiveStart() + 1;
      }));
    };
    req.panelsAccepted = [&] {
      if (panel) panel->Apply();
    };
    std::vector<std::string> paths;
    if (!CurrentHost().ChooseFiles(req, &paths) || paths.empty()) return {};
    const std::string path = WithAviExtension(paths[0]);
    const std::string refusal = OpenedFileRefusal(t, path);
    if (refusal.empty()) {
      saveFolder = DirectoryPart(path);
      return path;
    }
    Message(MB_OK | MB_ICONSTOP, refusal.c_str());
    initialName = path.substr(DirectoryPart(path).size());
  }
}

}  // namespace

bool SaveAviWithDialog(bool forceMixedFields) {
  if (!CanSave()) return false;
  const std::string output = AskOutputName();
  if (output.empty()) return false;
  AviSaveOptions run = options;
  run.forceMixedFields = forceMixedFields;
  FrameOperationDriver& d = window->Operations();
  d.suppressDisplay = mirdexSettings.notShow != 0;
  AviSaveOperation op(output, run, range);
  d.Run(op);
  return op.Saved();
}

void RegisterSaveCommands(MainWindow* w) {
  window = w;
  RegisterCommand(
      kCmdSaveAvi,
      [](int, CommandSource source) {
        // Shift or Ctrl held on the menu item: the save works on interleaved frames.
        const Qt::KeyboardModifiers held = QGuiApplication::keyboardModifiers();
        SaveAviWithDialog(source == CommandSource::kMenu &&
                          (held & (Qt::ShiftModifier | Qt::ControlModifier)));
      },
      CanSave);
}

void UnregisterSaveCommands(MainWindow* w) {
  if (window != w) return;
  UnregisterCommand(kCmdSaveAvi);
  window = nullptr;
}
