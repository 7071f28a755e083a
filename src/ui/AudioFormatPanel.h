// The panels of the dialogs that write or read audio: the output format
// ("音声なし", the format text and "設定" with its chooser) and the audio
// shift ("音声をずらす"). The format panel edits an AudioOutputChoice, so the
// WAVE export and the AVI writer share it.
#pragma once
#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "audio/ReadWave.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

// "%s\n%s": the tag name and the description of a WAVEFORMATEX (with its
// extra bytes); empty for a format too short to hold one.
QString AudioFormatText(const std::vector<uint8_t>& format);

class AudioFormatPanel : public QWidget {
 public:
  // `source`: the PCM format every audio operation reads (empty when the
  // table has no usable audio: "音声なし" is then checked and fixed).
  // `withVideoOnly`: the save dialog's "音声なし" is shown.
  AudioFormatPanel(QWidget* parent, AudioOutputChoice* choice, std::vector<uint8_t> source,
                   bool withVideoOnly);

  // The format "設定" would show as chosen.
  void SetShownFormat(const std::vector<uint8_t>& format);
  QString ShownText() const;
  QCheckBox* VideoOnlyBox() const { return videoOnly_; }
  QPushButton* ChooseButton() const { return choose_; }
  // What the dialog's close stores: the copy of the source unless another
  // format was chosen, and the video-only choice.
  void Apply();

 private:
  void ChooseFormat();
  AudioOutputChoice* choice_;
  std::vector<uint8_t> source_, shown_;
  QCheckBox* videoOnly_ = nullptr;
  QLabel* text_ = nullptr;
  QPushButton* choose_ = nullptr;
};

// The format chooser of "設定": the formats this machine encodes, with
// their rates, channels and widths, starting at *format; true with *format
// replaced on OK.
class AudioFormatChooser : public QDialog {
 public:
  AudioFormatChooser(QWidget* parent, const std::vector<uint8_t>& initial);
  // The format of the current choice; false when no encoder takes it.
  bool Current(std::vector<uint8_t>* format) const;
  QComboBox* FormatBox() const { return tags_; }

 private:
  void FillDetails();
  QComboBox *tags_, *rates_, *channels_, *bits_;
};

class AudioShiftPanel : public QWidget {
 public:
  // Starts at *shiftSamples (above 0 later, below 0 earlier).
  AudioShiftPanel(QWidget* parent, int64_t* shiftSamples);
  void Apply();

 private:
  int64_t* shift_;
  QSpinBox* samples_;
  QRadioButton *earlier_, *later_;
};
