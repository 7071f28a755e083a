// The options panel of the AVI save dialog: copy mode, the codec with its
// settings, the recompressed segments of copy mode, the DV reference output,
// clipping and the audio format. It edits an AviSaveOptions that the program
// keeps while it runs.
#pragma once
#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/VideoCodec.h"
#include "process/AviSave.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class AudioFormatPanel;

// One line of the codec combo box: the description padded to column 65
// (full-width characters count two), the FOURCC as eight hex digits and the
// configurable flag.
struct CodecListEntry {
  std::string text;
  uint32_t fourcc = 0;
  bool configurable = false;
};
std::string CodecLineText(const std::string& description, uint32_t fourcc, bool configurable);
// "無圧縮" first, then every encoder of this machine; the DV reference
// codec only when that output is chosen.
std::vector<CodecListEntry> CodecList(bool withDvReference);

class AviSaveOptionsPanel : public QWidget {
 public:
  // `audioSource`: the PCM format of the shown files (empty: no audio);
  // `dvSource`: the DV reference output is offered; width and height are the
  // frames' size, which the codec settings are tried with.
  AviSaveOptionsPanel(QWidget* parent, AviSaveOptions* options, std::vector<uint8_t> audioSource,
                      bool dvSource, int width, int height);

  // Stores what the panel shows into the options.
  void Apply();

  QCheckBox* CopyBox() const { return copy_; }
  QComboBox* CodecBox() const { return codec_; }
  QPushButton* ConfigureButton() const { return configure_; }
  QCheckBox* DvReferenceBox() const { return dvReference_; }

 private:
  void FillCodecs(uint32_t select);
  uint32_t ChosenCodec() const;
  void UpdateEnabled();
  void Configure();

  AviSaveOptions* options_;
  std::string codecOptions_;
  uint32_t optionsCodec_ = 0;  // the codec codecOptions_ belongs to
  uint32_t plainCodec_ = 0;    // chosen before the DV reference output
  int width_, height_;
  QCheckBox* copy_ = nullptr;
  QComboBox* codec_ = nullptr;
  QPushButton* configure_ = nullptr;
  QCheckBox* keepDelta_ = nullptr;
  QSpinBox* recompressFrames_ = nullptr;
  QCheckBox* dvReference_ = nullptr;
  QSpinBox* clip_[4] = {};  // top, bottom, left, right
  AudioFormatPanel* audio_ = nullptr;
};

// "設定(&C)": the encoder's main settings, starting from an options text
// ("name=value:..."); Text() is the text of what the dialog shows, with only
// the settings that were given a value.
class VideoEncoderSettingsDialog : public QDialog {
 public:
  VideoEncoderSettingsDialog(QWidget* parent, uint32_t fourcc, const std::string& options);
  std::string Text() const;

 private:
  struct Row {
    VideoEncoderSetting setting;
    QSpinBox* number = nullptr;   // "既定" at its minimum
    QComboBox* choice = nullptr;  // "既定" first
  };
  std::vector<Row> rows_;
};
