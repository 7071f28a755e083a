// The audio format panel's close rule: the source's own format copies the
// audio, another one is encoded, "音声なし" wins over both.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>

#include "audio/AudioEncode.h"
#include "ui/AudioFormatPanel.h"

namespace {

TEST(AudioFormatPanel, CloseRuleComparesTheShownFormatWithTheSource) {
  std::vector<uint8_t> source, same, other;
  ASSERT_TRUE(MakeEncodedFormat(1, 8000, 2, 16, 0, &source));
  ASSERT_TRUE(MakeEncodedFormat(1, 8000, 2, 16, 0, &same));
  ASSERT_TRUE(MakeEncodedFormat(1, 8000, 2, 8, 0, &other));
  EXPECT_EQ(AudioFormatText(source), "PCM\n8.000 kHz, 16 ビット, ステレオ");

  AudioOutputChoice choice;
  choice.encodeAudio = true;  // left from an earlier dialog
  AudioFormatPanel panel(nullptr, &choice, source, true);
  panel.SetShownFormat(same);
  panel.Apply();
  EXPECT_FALSE(choice.encodeAudio);
  EXPECT_FALSE(choice.videoOnly);

  panel.SetShownFormat(other);
  panel.Apply();
  EXPECT_TRUE(choice.encodeAudio);
  EXPECT_EQ(choice.format, other);
  // The next dialog starts at that choice, and its chooser too.
  AudioFormatPanel again(nullptr, &choice, source, true);
  EXPECT_EQ(again.ShownText(), AudioFormatText(other));
  std::vector<uint8_t> chosen;
  ASSERT_TRUE(AudioFormatChooser(nullptr, other).Current(&chosen));
  EXPECT_EQ(chosen, other);

  panel.VideoOnlyBox()->setChecked(true);
  EXPECT_FALSE(panel.ChooseButton()->isEnabled());
  panel.Apply();
  EXPECT_TRUE(choice.videoOnly);
  EXPECT_FALSE(choice.encodeAudio);

  // Without usable audio only "音声なし" is left.
  AudioOutputChoice none;
  AudioFormatPanel silent(nullptr, &none, {}, true);
  EXPECT_TRUE(silent.VideoOnlyBox()->isChecked());
  EXPECT_FALSE(silent.VideoOnlyBox()->isEnabled());
  silent.Apply();
  EXPECT_TRUE(none.videoOnly);
}

}  // namespace
