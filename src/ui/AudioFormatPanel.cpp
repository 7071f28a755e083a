#include "ui/AudioFormatPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "audio/AudioCodec.h"
#include "audio/AudioEncode.h"
#include "platform/RiffFormats.h"

namespace {

WaveFormatEx Parse(const std::vector<uint8_t>& format) {
  return ParseWaveFormat(format.data(), format.size());
}

QString TagName(uint16_t tag, uint16_t bits) {
  if (tag == kWaveFormatPcm) return "PCM";
  AVCodecID id = AudioCodecIdOfTag(tag, bits);
  if (const AVCodecDescriptor* d = id != AV_CODEC_ID_NONE ? avcodec_descriptor_get(id) : nullptr)
    return QString::fromUtf8(d->long_name ? d->long_name : d->name);
  return QString::asprintf("0x%04X", tag);
}

QString ChannelText(uint16_t channels) {
  if (channels == 1) return "モノラル";
  if (channels == 2) return "ステレオ";
  return QString("%1チャネル").arg(channels);
}

// A panel that is one titled frame, filling the panel.
QGroupBox* FramedBox(QWidget* panel, const char* title) {
  auto* box = new QGroupBox(title, panel);
  auto* outer = new QVBoxLayout(panel);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(box);
  return box;
}
}  // namespace

QString AudioFormatText(const std::vector<uint8_t>& format) {
  if (format.size() < 16) return {};
  WaveFormatEx wf = Parse(format);
  uint16_t tag = EffectiveFormatTag(format);
  QString rate = QString::asprintf("%u.%03u kHz", wf.nSamplesPerSec / 1000, wf.nSamplesPerSec % 1000);
  QString description;
  if (tag == kWaveFormatPcm)
    description =
        QString("%1, %2 ビット, %3").arg(rate).arg(wf.wBitsPerSample).arg(ChannelText(wf.nChannels));
  else
    description =
        QString("%1, %2, %3 KB/秒").arg(rate, ChannelText(wf.nChannels)).arg(wf.nAvgBytesPerSec / 1024);
  return TagName(tag, wf.wBitsPerSample) + "\n" + description;
}

AudioFormatPanel::AudioFormatPanel(QWidget* parent, AudioOutputChoice* choice, std::vector<uint8_t> source,
                                   bool withVideoOnly)
    : QWidget(parent), choice_(choice), source_(std::move(source)) {
  setObjectName("AudioFormatPanel");
  QGroupBox* box = FramedBox(this, "オーディオ形式");
  auto* row = new QHBoxLayout(box);
  videoOnly_ = new QCheckBox("音声なし", box);
  videoOnly_->setObjectName("videoOnly");
  videoOnly_->setVisible(withVideoOnly);
  text_ = new QLabel(box);
  text_->setObjectName("formatText");
  text_->setMinimumWidth(220);
  choose_ = new QPushButton("設定", box);
  choose_->setObjectName("chooseFormat");
  row->addWidget(videoOnly_);
  row->addWidget(text_, 1);
  row->addWidget(choose_);

  const bool usable = source_.size() >= 16;
  // The chosen output format is shown when one exists, else the source's.
  SetShownFormat(choice_->format.size() >= 16 && choice_->encodeAudio ? choice_->format : source_);
  videoOnly_->setChecked(!usable || (withVideoOnly && choice_->videoOnly));
  videoOnly_->setEnabled(usable);
  choose_->setEnabled(usable && !videoOnly_->isChecked());
  connect(videoOnly_, &QCheckBox::toggled, choose_, [this](bool on) { choose_->setEnabled(!on); });
  connect(choose_, &QPushButton::clicked, this, [this] { ChooseFormat(); });
}

void AudioFormatPanel::SetShownFormat(const std::vector<uint8_t>& format) {
  shown_ = format;
  text_->setText(AudioFormatText(format));
}

QString AudioFormatPanel::ShownText() const {
  return text_->text();
}

void AudioFormatPanel::ChooseFormat() {
  AudioFormatChooser chooser(this, shown_);
  std::vector<uint8_t> format;
  if (chooser.exec() == QDialog::Accepted && chooser.Current(&format)) SetShownFormat(format);
}

void AudioFormatPanel::Apply() {
  choice_->encodeAudio = false;
  choice_->videoOnly = videoOnly_->isChecked();
  if (choice_->videoOnly) return;
  // A format that reads like the source's is the source: copied unchanged.
  if (AudioFormatText(source_) != text_->text()) {
    choice_->format = shown_;
    choice_->encodeAudio = true;
  }
}

AudioFormatChooser::AudioFormatChooser(QWidget* parent, const std::vector<uint8_t>& initial)
    : QDialog(parent) {
  setWindowTitle("オーディオ形式の選択");
  auto* form = new QFormLayout(this);
  tags_ = new QComboBox(this);
  rates_ = new QComboBox(this);
  channels_ = new QComboBox(this);
  bits_ = new QComboBox(this);
  for (const EncodableFormat& f : EncodableAudioFormats()) {
    QVariantList rates, channels, bits;
    for (uint32_t r : f.rates) rates << r;
    for (uint16_t c : f.channels) channels << c;
    for (uint16_t b : f.bits) bits << b;
    // PCM's list holds every width: its first encoder's name would name one.
    QString name = f.tag == kWaveFormatPcm ? QString("PCM") : QString::fromStdString(f.description);
    tags_->addItem(name, QVariantList{f.tag, rates, channels, bits});
  }
  form->addRow("形式", tags_);
  form->addRow("サンプリング周波数", rates_);
  form->addRow("チャネル", channels_);
  form->addRow("ビット", bits_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(tags_, &QComboBox::currentIndexChanged, this, [this] { FillDetails(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    std::vector<uint8_t> format;
    if (Current(&format))
      accept();
    else
      QMessageBox::warning(this, windowTitle(), "この組み合わせではエンコードできません!");
  });

  // Start at the format given, as far as the lists hold it.
  WaveFormatEx wf = Parse(initial);
  uint16_t tag = initial.size() >= 16 ? EffectiveFormatTag(initial) : kWaveFormatPcm;
  for (int i = 0; i < tags_->count(); ++i)
    if (tags_->itemData(i).toList().value(0).toUInt() == tag) tags_->setCurrentIndex(i);
  FillDetails();
  auto pick = [](QComboBox* box, uint32_t value) {
    int at = box->findData(value);
    if (at >= 0) box->setCurrentIndex(at);
  };
  pick(rates_, wf.nSamplesPerSec);
  pick(channels_, wf.nChannels);
  pick(bits_, wf.wBitsPerSample);
}

void AudioFormatChooser::FillDetails() {
  QVariantList item = tags_->currentData().toList();
  auto fill = [](QComboBox* box, const QVariantList& values, const char* unit) {
    QVariant was = box->currentData();
    box->clear();
    for (const QVariant& v : values) box->addItem(v.toString() + unit, v);
    int at = box->findData(was);
    if (at >= 0) box->setCurrentIndex(at);
  };
  fill(rates_, item.value(1).toList(), " Hz");
  fill(channels_, item.value(2).toList(), "");
  fill(bits_, item.value(3).toList(), "");
  // Codecs without a sample width have one entry 0.
  bits_->setEnabled(bits_->count() > 1 || (bits_->count() == 1 && bits_->itemData(0).toUInt() != 0));
}

bool AudioFormatChooser::Current(std::vector<uint8_t>* format) const {
  QVariantList item = tags_->currentData().toList();
  if (item.isEmpty() || rates_->currentIndex() < 0 || channels_->currentIndex() < 0) return false;
  return MakeEncodedFormat(
      static_cast<uint16_t>(item.value(0).toUInt()), rates_->currentData().toUInt(),
      static_cast<uint16_t>(channels_->currentData().toUInt()),
      static_cast<uint16_t>(bits_->currentIndex() >= 0 ? bits_->currentData().toUInt() : 0), 0, format);
}

AudioShiftPanel::AudioShiftPanel(QWidget* parent, int64_t* shiftSamples)
    : QWidget(parent), shift_(shiftSamples) {
  setObjectName("AudioShiftPanel");
  QGroupBox* box = FramedBox(this, "音声をずらす");
  auto* row = new QHBoxLayout(box);
  samples_ = new QSpinBox(box);
  samples_->setObjectName("shiftSamples");
  samples_->setRange(0, std::numeric_limits<int>::max());
  int64_t magnitude = *shift_ < 0 ? -*shift_ : *shift_;
  samples_->setValue(static_cast<int>(std::min<int64_t>(magnitude, std::numeric_limits<int>::max())));
  earlier_ = new QRadioButton("早める", box);
  later_ = new QRadioButton("遅らせる", box);
  earlier_->setObjectName("shiftEarlier");
  later_->setObjectName("shiftLater");
  (*shift_ < 0 ? earlier_ : later_)->setChecked(true);
  row->addWidget(samples_);
  row->addWidget(new QLabel("サンプル", box));
  row->addWidget(earlier_);
  row->addWidget(later_);
  row->addStretch(1);
}

void AudioShiftPanel::Apply() {
  int64_t n = samples_->value();
  *shift_ = earlier_->isChecked() ? -n : n;
}
