// File dialogs that remember their folders and layout, the frame-range panel,
// placement from the settings and Qt's Japanese texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <filesystem>
#include <memory>

#include "TestSupport.h"
#include "platform/DialogText.h"
#include "settings/Settings.h"
#include "ui/DialogControls.h"
#include "ui/FrameRangePanel.h"
#include "ui/QtHost.h"
#include "ui/Translations.h"

namespace {

Setting Key(const char* section, const std::string& key, uint32_t flags) {
  Setting s;
  s.section = section;
  s.key = key;
  s.flags = flags;
  return s;
}

QStringList ComboItems(QComboBox* c) {
  QStringList items;
  for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
  return items;
}

// Runs `step` on the file dialog once it is up (the dialog is rejected when
// the step does not close it).
void OnDialog(std::function<void(QFileDialog*)> step) {
  QTimer::singleShot(0, [step] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      ADD_FAILURE() << "no file dialog";
      return;
    }
    step(dialog);
  });
}

}  // namespace

TEST(FileDialogMemory, FoldersPlacementAndColumnsSurviveTheNextDialog) {
  ScratchDir dir;
  QString a = QString::fromStdString(dir.File("a")), b = QString::fromStdString(dir.File("b"));
  std::filesystem::create_directories(a.toStdString());
  std::filesystem::create_directories(b.toStdString());
  WriteFileBytes((b + "/take.avi").toStdString(), "RIFF");
  QWidget owner;
  QtHost host;
  host.SetOwner(&owner);
  FileDialogRequest req;
  req.title = "open";
  req.initialDir = a.toStdString();
  req.filters = {{"AVIファイル", "*.avi"}};
  req.settingsKind = "Open";

  // First run: the user types the other folder, changes the layout and picks a file.
  OnDialog([&](QFileDialog* d) {
    auto* name = d->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(b);
    static_cast<QDialog*>(d)->accept();  // a folder name enters the folder
    EXPECT_EQ(d->directory().absolutePath(), b);
    d->resize(720, 530);
    d->setViewMode(QFileDialog::Detail);
    d->findChild<QTreeView*>("treeView")->header()->resizeSection(0, 333);
    d->selectFile(b + "/take.avi");
    static_cast<QDialog*>(d)->accept();
  });
  std::vector<std::string> paths;
  ASSERT_TRUE(host.ChooseFiles(req, &paths));
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(SplitHistory(ReadText(Key("Folder", "Open", kSetText | 4096), 4096)),
            (std::vector<std::string>{b.toStdString(), a.toStdString()}));

  // Second run: the folders are offered, the layout is back, and choosing a
  // folder goes there and moves it to the top.
  bool checked = false;
  OnDialog([&](QFileDialog* d) {
    auto* combo = d->findChild<QComboBox*>("23003");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(ComboItems(combo), (QStringList{a, b}));  // the start folder came first
    EXPECT_EQ(d->size(), QSize(720, 530));
    EXPECT_EQ(d->viewMode(), QFileDialog::Detail);
    QTimer::singleShot(0, d, [&checked, d, combo, b] {
      EXPECT_EQ(d->findChild<QTreeView*>("treeView")->header()->sectionSize(0), 333);
      combo->setCurrentIndex(1);
      emit combo->activated(1);
      EXPECT_EQ(d->directory().absolutePath(), b);
      EXPECT_EQ(combo->itemText(0), b);
      checked = true;
      d->reject();
    });
  });
  EXPECT_FALSE(host.ChooseFiles(req, &paths));
  EXPECT_TRUE(checked);
  EXPECT_EQ(SplitHistory(ReadText(Key("Folder", "Open", kSetText | 4096), 4096)).front(), b.toStdString());
  EXPECT_EQ(ReadText(Key("Window", "OpenColumn", kSetText | 80), 80).substr(0, 6), "1,333,");
}

TEST(DialogPlacement, SizesBelow100GrowTo100) {
  ScratchDir dir;
  Setting left = Key("Window", "TestLeft", kSetSigned | kSet32),
          top = Key("Window", "TestTop", kSetSigned | kSet32), width = Key("Window", "TestWidth", kSet32),
          height = Key("Window", "TestHeight", kSet32);
  WriteValue(left, 10);
  WriteValue(top, 20);
  WriteValue(width, 50);
  WriteValue(height, 300);
  QWidget w;
  w.resize(400, 400);
  PlaceFromSettings(&w, &left, &top, &width, &height);
  EXPECT_EQ(w.size(), QSize(100, 300));
  EXPECT_EQ(w.pos(), QPoint(10, 20));
}

TEST(FrameRangePanel, YieldsEachKindAndKeepsSharingPanelsInStep) {
  QWidget dialog;
  FrameRangeChoice choice;
  choice.kind = 1;
  int64_t selection = 0;
  auto length = [&selection] { return selection; };
  {
    // No selection: its button is off and the kind falls back to the shown frame.
    FrameRangePanel p(&dialog, &choice, length);
    EXPECT_FALSE(p.Button(kRangeSelection)->isEnabled());
    EXPECT_EQ(choice.kind, 2);
    EXPECT_TRUE(p.Button(kRangeShownFrame)->isChecked());
  }
  choice.kind = 1;
  choice.hideShown = 1;
  {
    FrameRangePanel p(&dialog, &choice, length);
    EXPECT_EQ(choice.kind, 0);
    EXPECT_TRUE(p.Button(kRangeShownFrame)->isHidden());
  }
  choice = FrameRangeChoice{};
  selection = 5;
  FrameRangePanel first(&dialog, &choice, length), second(&dialog, &choice, length);
  std::vector<int> told;
  second.SetChosenHandler([&told](int id) { told.push_back(id); });
  const std::pair<int, int> clicks[] = {{kRangeSelection, 1}, {kRangeShownFrame, 2}, {kRangeAllFrames, 0}};
  for (auto [id, kind] : clicks) {
    first.Button(id)->click();
    EXPECT_EQ(choice.kind, kind);
    EXPECT_TRUE(second.Button(id)->isChecked());
  }
  EXPECT_EQ(told, (std::vector<int>{kRangeSelection, kRangeShownFrame, kRangeAllFrames}));
  // Eight at once at most: the ninth stays empty.
  std::vector<std::unique_ptr<FrameRangePanel>> more;
  for (int i = 0; i < 7; ++i) more.push_back(std::make_unique<FrameRangePanel>(&dialog, &choice, length));
  EXPECT_TRUE(more[5]->Registered());
  EXPECT_FALSE(more[6]->Registered());
  EXPECT_EQ(more[6]->Button(kRangeAllFrames), nullptr);
}

TEST(QtTranslations, ButtonsSpeakJapanese) {
  QTranslator* t = InstallQtTranslations(qApp);
  ASSERT_NE(t, nullptr);
  QDialogButtonBox box(QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().toStdString(), "キャンセル");
  QCoreApplication::removeTranslator(t);
  delete t;
}
