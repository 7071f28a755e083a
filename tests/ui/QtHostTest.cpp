// The Qt host: real message boxes (answered by a timer in the test), the box
// that closes itself, status panes and the title.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "TestSupport.h"
#include "platform/AppState.h"
#include "platform/Messages.h"
#include "ui/QtHost.h"

namespace {

struct SeenBox {
  std::string title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
};

// Once the box is up, records it and presses `button` (or nothing).
void AnswerNextBox(SeenBox* seen, QMessageBox::StandardButton button) {
  QTimer::singleShot(0, [seen, button] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      ADD_FAILURE() << "no box";
      return;
    }
    seen->title = box->windowTitle().toStdString();
    seen->text = box->text().toStdString();
    seen->icon = box->icon();
    seen->buttons.clear();
    for (QAbstractButton* b : box->buttons()) seen->buttons << b->text();
    if (button != QMessageBox::NoButton) box->button(button)->click();
  });
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetOwner(&owner_);
    SetHost(&host_);
  }
  void TearDown() override { SetHost(nullptr); }
  QWidget owner_;
  QtHost host_;
};

}  // namespace

TEST_F(HostTest, MessageBoxesCarryTheCaptionAndMapTheAnswers) {
  SeenBox seen;
  AnswerNextBox(&seen, QMessageBox::Yes);
  EXPECT_EQ(Message(MB_YESNO | MB_ICONQUESTION, "中止しますか?(Y/N)"), IDYES);
  EXPECT_EQ(seen.title, "Mirdex");
  EXPECT_EQ(seen.text, "中止しますか?(Y/N)");
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  EXPECT_EQ(seen.buttons.size(), 2);

  AnswerNextBox(&seen, QMessageBox::No);
  EXPECT_EQ(host_.MessageBox("q", "Mirdex", MB_YESNO), IDNO);
  AnswerNextBox(&seen, QMessageBox::Cancel);
  EXPECT_EQ(host_.MessageBox("q", "Mirdex", MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(seen.buttons.size(), 3);
  AnswerNextBox(&seen, QMessageBox::Ok);
  EXPECT_EQ(Message(MB_OK | MB_ICONSTOP, nullptr, "%sが開けません!", "a.avi"), IDOK);
  EXPECT_EQ(seen.text, "a.aviが開けません!");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST_F(HostTest, TimedBoxClosesItselfAsIfNoChoiceWasMade) {
  EXPECT_EQ(host_.TimedMessageBox("q", "Mirdex", MB_YESNO | MB_ICONQUESTION, 50), IDNO);
  EXPECT_EQ(host_.TimedMessageBox("i", "Mirdex", MB_OK, 50), IDOK);
  // Answered before the time is up, the answer counts.
  SeenBox seen;
  AnswerNextBox(&seen, QMessageBox::Yes);
  EXPECT_EQ(host_.TimedMessageBox("q", "Mirdex", MB_YESNO, 10000), IDYES);
  EXPECT_EQ(seen.title, "Mirdex");
}

TEST_F(HostTest, StatusPanesAndTitle) {
  QLabel a, b;
  host_.SetStatusPanes({&a, &b});
  Status(0, "%sインデックス作成中(%3lu%%) ESC:中止", "x.avi", 7ul);
  Status(1, "%s", "00:00:01:00");
  Status(4, "ignored");  // no such pane
  Status(-1, "ignored");
  EXPECT_EQ(a.text().toStdString(), "x.aviインデックス作成中(  7%) ESC:中止");
  EXPECT_EQ(b.text().toStdString(), "00:00:01:00");
  host_.SetTitle("Mirdex a.avi");
  EXPECT_EQ(owner_.windowTitle().toStdString(), "Mirdex a.avi");
}

// The open dialog's option box and a caller's panels: shown in the dialog,
// stored when a file is chosen, left alone when the dialog is cancelled.
TEST_F(HostTest, FileDialogOptionsAreStoredOnlyWhenAFileIsChosen) {
  ScratchDir dir;
  std::string file = dir.File("take.avi");
  WriteFileBytes(file, "RIFF");
  FileDialogRequest req;
  req.title = "Mirdex / 開くAVIファイル名入力";
  req.initialDir = dir.path();
  req.filters = {{"AVIファイル", "*.avi"}};
  req.checkBoxText = "非PCMオーディオをテンポラリファイルにデコード(&P)";
  bool decode = false;
  req.checkBox = &decode;
  int panelsStored = 0;
  req.addPanels = [](QWidget* area) { (new QCheckBox("panel", area))->setObjectName("callerPanel"); };
  req.panelsAccepted = [&] { ++panelsStored; };
  auto answer = [&](bool choose) {
    QTimer::singleShot(0, [&, choose] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) {
        ADD_FAILURE() << "no file dialog";
        return;
      }
      auto* box = dialog->findChild<QCheckBox*>("optionCheckBox");
      if (!box) {
        ADD_FAILURE() << "no option box";
        dialog->reject();
        return;
      }
      EXPECT_EQ(box->text().toStdString(), req.checkBoxText);
      EXPECT_TRUE(box->isVisible());
      auto* panel = dialog->findChild<QCheckBox*>("callerPanel");
      EXPECT_TRUE(panel && panel->isVisible());
      box->setChecked(!box->isChecked());
      if (choose) {
        dialog->selectFile(QString::fromStdString(file));
        static_cast<QDialog*>(dialog)->accept();
      } else {
        dialog->reject();
      }
    });
  };
  std::vector<std::string> paths;
  answer(true);
  ASSERT_TRUE(host_.ChooseFiles(req, &paths));
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0], file);
  EXPECT_TRUE(decode);
  EXPECT_EQ(panelsStored, 1);
  answer(false);
  EXPECT_FALSE(host_.ChooseFiles(req, &paths));
  EXPECT_TRUE(decode);
  EXPECT_EQ(panelsStored, 1);
  answer(true);
  ASSERT_TRUE(host_.ChooseFiles(req, &paths));
  EXPECT_FALSE(decode);
}
