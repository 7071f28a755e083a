#include "ui/AviSaveOptionsPanel.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/Format.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/Riff.h"
#include "ui/AudioFormatPanel.h"

namespace {

constexpr int kCodecColumn = 65;
constexpr uint32_t kDvReferenceCodec = FourCC("dvrs");

// Columns a text takes in the combo's fixed-width font: full-width
// characters two, as the list was laid out for.
int DisplayWidth(const std::string& text) {
  int width = 0;
  for (QChar c : QString::fromStdString(text)) {
    if (c.isLowSurrogate()) continue;
    const ushort u = c.unicode();
    width += u < 0x80 || (u >= 0xFF61 && u <= 0xFF9F) ? 1 : 2;
  }
  return width;
}

// "name=value" pairs separated by ':' or ','.
std::vector<std::pair<std::string, std::string>> ParseOptions(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find_first_of(":,", at);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(at, end - at);
    size_t eq = item.find('=');
    if (eq != std::string::npos) pairs.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    at = end + 1;
  }
  return pairs;
}

void ReportCodec(uint32_t fourcc) {
  Message(MB_OK | MB_ICONSTOP, nullptr, "ビデオコーデック%sが開けません!", FourCCText(fourcc).c_str());
}

QSpinBox* ClipBox(QWidget* parent, int32_t value, const char* name) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(-4096, 4096);
  box->setValue(std::clamp<int32_t>(value, -4096, 4096));
  return box;
}

}  // namespace

std::string CodecLineText(const std::string& description, uint32_t fourcc, bool configurable) {
  const int pad = std::max(0, kCodecColumn - DisplayWidth(description));
  return description + std::string(static_cast<size_t>(pad), ' ') +
         Fmt("%08lX,%d", static_cast<unsigned long>(fourcc), configurable ? 1 : 0);
}

std::vector<CodecListEntry> CodecList(bool withDvReference) {
  std::vector<CodecListEntry> list;
  list.push_back({CodecLineText("無圧縮", 0, false), 0, false});
  for (const VideoEncoderInfo& e : VideoEncoderList())
    list.push_back({CodecLineText(e.description, e.fourcc, e.configurable), e.fourcc, e.configurable});
  if (withDvReference)
    list.push_back({CodecLineText("DV参照 (dvrs)", kDvReferenceCodec, false), kDvReferenceCodec, false});
  return list;
}

AviSaveOptionsPanel::AviSaveOptionsPanel(QWidget* parent, AviSaveOptions* options,
                                         std::vector<uint8_t> audioSource, bool dvSource, int width,
                                         int height)
    : QWidget(parent), options_(options), width_(width), height_(height) {
  setObjectName("AviSaveOptionsPanel");
  codecOptions_ = options->codecOptions;
  optionsCodec_ = options->codec;
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* video = new QGroupBox("ビデオ", this);
  outer->addWidget(video);
  auto* column = new QVBoxLayout(video);

  auto* codecRow = new QHBoxLayout;
  copy_ = new QCheckBox("再圧縮なし", video);
  copy_->setObjectName("copy");
  codec_ = new QComboBox(video);
  codec_->setObjectName("codec");
  codec_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // The lines are 75 columns: the closed box shows the start, the list all.
  codec_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  codec_->setMinimumContentsLength(36);
  codec_->view()->setMinimumWidth(codec_->fontMetrics().horizontalAdvance(QString(kCodecColumn + 12, 'M')));
  configure_ = new QPushButton("設定(&C)", video);
  configure_->setObjectName("configure");
  codecRow->addWidget(copy_);
  codecRow->addWidget(codec_, 1);
  codecRow->addWidget(configure_);
  column->addLayout(codecRow);

  auto* segmentRow = new QHBoxLayout;
  keepDelta_ = new QCheckBox("非キーフレームから始まる箇所を再圧縮しない", video);
  keepDelta_->setObjectName("keepDelta");
  recompressFrames_ = new QSpinBox(video);
  recompressFrames_->setObjectName("recompressFrames");
  recompressFrames_->setRange(0, INT_MAX);
  recompressFrames_->setValue(static_cast<int>(std::min<uint32_t>(options->recompressFrames, INT_MAX)));
  segmentRow->addWidget(keepDelta_);
  segmentRow->addStretch(1);
  segmentRow->addWidget(new QLabel("再圧縮フレーム数", video));
  segmentRow->addWidget(recompressFrames_);
  segmentRow->addWidget(new QLabel("以上", video));
  column->addLayout(segmentRow);

  dvReference_ = new QCheckBox("DV参照AVIファイルで出力", video);
  dvReference_->setObjectName("dvReference");
  dvReference_->setVisible(dvSource);
  column->addWidget(dvReference_);

  auto* clipRow = new QHBoxLayout;
  clipRow->addWidget(new QLabel("クリッピング", video));
  const char* sides[4] = {"上", "下", "左", "右"};
  const int32_t values[4] = {options->clipTop, options->clipBottom, options->clipLeft, options->clipRight};
  const char* names[4] = {"clipTop", "clipBottom", "clipLeft", "clipRight"};
  for (int i = 0; i < 4; ++i) {
    clipRow->addWidget(new QLabel(sides[i], video));
    clip_[i] = ClipBox(video, values[i], names[i]);
    clipRow->addWidget(clip_[i]);
  }
  clipRow->addStretch(1);
  column->addLayout(clipRow);

  audio_ = new AudioFormatPanel(this, &options->audio, std::move(audioSource), true);
  outer->addWidget(audio_);

  const bool dv = dvSource && options->dvReference;
  dvReference_->setChecked(dv);
  copy_->setChecked(options->copy && !dv);
  keepDelta_->setChecked(options->keepDeltaSegments);
  FillCodecs(dv ? kDvReferenceCodec : options->codec);
  UpdateEnabled();

  connect(copy_, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
  connect(codec_, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabled(); });
  connect(dvReference_, &QCheckBox::toggled, this, [this](bool on) {
    // The reference output writes no frame data: neither copied nor compressed.
    if (on) {
      plainCodec_ = ChosenCodec();
      copy_->setChecked(false);
    }
    FillCodecs(on ? kDvReferenceCodec : plainCodec_);
    UpdateEnabled();
  });
  connect(configure_, &QPushButton::clicked, this, [this] { Configure(); });
}

void AviSaveOptionsPanel::FillCodecs(uint32_t select) {
  codec_->blockSignals(true);
  codec_->clear();
  int chosen = 0;
  for (const CodecListEntry& e : CodecList(dvReference_->isChecked())) {
    if (e.fourcc == select) chosen = codec_->count();
    codec_->addItem(QString::fromStdString(e.text), QVariantList{e.fourcc, e.configurable});
  }
  codec_->setCurrentIndex(chosen);
  codec_->blockSignals(false);
}

uint32_t AviSaveOptionsPanel::ChosenCodec() const {
  return codec_->currentData().toList().value(0).toUInt();
}

void AviSaveOptionsPanel::UpdateEnabled() {
  const bool dv = dvReference_->isChecked();
  const bool copy = copy_->isChecked() && !dv;
  const bool decodes = !copy && !dv;
  copy_->setEnabled(!dv);
  codec_->setEnabled(decodes);
  configure_->setEnabled(decodes && codec_->currentData().toList().value(1).toBool());
  keepDelta_->setEnabled(copy);
  recompressFrames_->setEnabled(copy);
  // Clipping works on decoded frames only.
  for (QSpinBox* box : clip_) box->setEnabled(decodes);
}

void AviSaveOptionsPanel::Configure() {
  const uint32_t fourcc = ChosenCodec();
  const std::string current = optionsCodec_ == fourcc ? codecOptions_ : std::string();
  VideoEncoder probe;
  if (!probe.Open(fourcc, width_, height_, 0, 0, current)) {
    ReportCodec(fourcc);
    return;
  }
  VideoEncoderSettingsDialog dialog(this, fourcc, current);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string text = dialog.Text();
  // Settings the encoder refuses are not kept.
  if (!probe.Open(fourcc, width_, height_, 0, 0, text)) {
    ReportCodec(fourcc);
    return;
  }
  codecOptions_ = text;
  optionsCodec_ = fourcc;
}

void AviSaveOptionsPanel::Apply() {
  AviSaveOptions& o = *options_;
  o.dvReference = !dvReference_->isHidden() && dvReference_->isChecked();
  o.copy = copy_->isChecked() && !o.dvReference;
  o.codec = ChosenCodec();
  o.codecOptions = optionsCodec_ == o.codec ? codecOptions_ : std::string();
  o.keepDeltaSegments = keepDelta_->isChecked();
  o.recompressFrames = static_cast<uint32_t>(recompressFrames_->value());
  o.clipTop = clip_[0]->value();
  o.clipBottom = clip_[1]->value();
  o.clipLeft = clip_[2]->value();
  o.clipRight = clip_[3]->value();
  audio_->Apply();
}

VideoEncoderSettingsDialog::VideoEncoderSettingsDialog(QWidget* parent, uint32_t fourcc,
                                                       const std::string& options)
    : QDialog(parent) {
  setWindowTitle(QString::fromStdString("ビデオコーデック" + FourCCText(fourcc) + "の設定"));
  auto* form = new QFormLayout(this);
  const auto given = ParseOptions(options);
  auto valueOf = [&](const std::string& key) -> const std::string* {
    for (const auto& [k, v] : given)
      if (k == key) return &v;
    return nullptr;
  };
  for (VideoEncoderSetting& s : VideoEncoderSettings(fourcc)) {
    Row row;
    const std::string* value = valueOf(s.keys.front());
    if (s.choices.empty()) {
      row.number = new QSpinBox(this);
      row.number->setObjectName(QString::fromStdString(s.keys.front()));
      const int lo = static_cast<int>(std::max<int64_t>(s.minimum, INT_MIN + 1));
      row.number->setRange(lo - 1, static_cast<int>(std::min<int64_t>(s.maximum, INT_MAX)));
      row.number->setSpecialValueText("既定");
      row.number->setValue(value ? std::atoi(value->c_str()) : lo - 1);
      form->addRow(QString::fromStdString(s.label), row.number);
    } else {
      row.choice = new QComboBox(this);
      row.choice->setObjectName(QString::fromStdString(s.keys.front()));
      row.choice->addItem("既定");
      for (const std::string& c : s.choices) row.choice->addItem(QString::fromStdString(c));
      if (value)
        row.choice->setCurrentIndex(std::max(0, row.choice->findText(QString::fromStdString(*value))));
      form->addRow(QString::fromStdString(s.label), row.choice);
    }
    row.setting = std::move(s);
    rows_.push_back(std::move(row));
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::string VideoEncoderSettingsDialog::Text() const {
  std::string text;
  for (const Row& row : rows_) {
    std::string value;
    if (row.number && row.number->value() != row.number->minimum())
      value = std::to_string(row.number->value());
    else if (row.choice && row.choice->currentIndex() > 0)
      value = row.choice->currentText().toStdString();
    if (value.empty()) continue;
    for (const std::string& key : row.setting.keys) text += (text.empty() ? "" : ":") + key + "=" + value;
  }
  return text;
}
