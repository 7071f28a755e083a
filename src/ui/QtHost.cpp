#include "ui/QtHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "platform/AppState.h"
#include "platform/Paths.h"
#include "settings/Settings.h"
#include "ui/DialogControls.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

constexpr uint32_t kFolderHistoryCapacity = 4096;
constexpr int kFolderComboId = 23003;

Setting FolderHistorySetting(const std::string& kind) {
  Setting s;
  s.section = "Folder";
  s.key = kind;
  s.flags = kSetText | kFolderHistoryCapacity;
  return s;
}

Setting PlacementSetting(const std::string& kind, const char* what) {
  Setting s;
  s.section = "Window";
  s.key = kind + what;
  s.flags = kSetSigned | kSet32;
  return s;
}

// The remembered list-view layout: the mode (1 the detail view with its
// columns, else the plain list) and the widths of the four columns.
struct ListLayout {
  long mode = 0;
  int widths[4] = {};
};

bool ParseListLayout(const std::string& text, ListLayout* l) {
  return std::sscanf(text.c_str(), "%ld,%d,%d,%d,%d", &l->mode, &l->widths[0], &l->widths[1], &l->widths[2],
                     &l->widths[3]) == 5;
}

void ApplyListLayout(QFileDialog* dialog, const ListLayout& l) {
  dialog->setViewMode(l.mode == 1 ? QFileDialog::Detail : QFileDialog::List);
  if (auto* tree = dialog->findChild<QTreeView*>("treeView")) {
    QHeaderView* header = tree->header();
    for (int i = 0; i < 4 && i < header->count(); ++i)
      if (l.widths[i] > 0) header->resizeSection(i, l.widths[i]);
  }
}

std::string ListLayoutText(QFileDialog* dialog) {
  ListLayout l;
  l.mode = dialog->viewMode() == QFileDialog::Detail ? 1 : 3;
  if (auto* tree = dialog->findChild<QTreeView*>("treeView")) {
    QHeaderView* header = tree->header();
    for (int i = 0; i < 4 && i < header->count(); ++i) l.widths[i] = header->sectionSize(i);
  }
  char text[80];
  std::snprintf(text, sizeof text, "%ld,%d,%d,%d,%d", l.mode, l.widths[0], l.widths[1], l.widths[2],
                l.widths[3]);
  return text;
}

// The remembered side of a file dialog of one kind: its recent folders, its
// placement and the layout of its file list.
class FileDialogMemory {
 public:
  FileDialogMemory(QFileDialog* dialog, const std::string& kind) : dialog_(dialog), kind_(kind) {}

  // Adds the recent-folder chooser; false when the dialog has no room for it.
  bool AddFolderChooser(QGridLayout* grid) {
    history_ = ReadText(FolderHistorySetting(kind_), kFolderHistoryCapacity);
    auto* chooser = new QWidget(dialog_);
    chooser->setObjectName("31016");
    auto* row = new QHBoxLayout(chooser);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel("最近参照したフォルダ", chooser));
    combo_ = new QComboBox(chooser);
    combo_->setObjectName(QString::number(kFolderComboId));
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    row->addWidget(combo_, 1);
    FillHistoryCombo(combo_, history_, -1);
    combo_->setCurrentIndex(combo_->count() && IsDirectory(combo_->itemText(0).toStdString()) ? 0 : -1);
    grid->addWidget(chooser, grid->rowCount(), 0, 1, grid->columnCount());
    QObject::connect(combo_, &QComboBox::activated, dialog_, [this](int i) {
      QString folder = combo_->itemText(i);
      if (!IsDirectory(folder.toStdString())) return;
      dialog_->setDirectory(folder);
      Remember(folder);
    });
    QObject::connect(dialog_, &QFileDialog::directoryEntered, dialog_,
                     [this](const QString& d) { Remember(d); });
    return true;
  }

  // Every folder the dialog shows goes to the top of the history.
  void Remember(const QString& folder) {
    if (!combo_ || folder.isEmpty()) return;
    if (AddHistoryCombo(combo_, folder, &history_, kFolderHistoryCapacity))
      WriteText(FolderHistorySetting(kind_), history_);
  }

  void RestorePlacement() {
    Setting left = PlacementSetting(kind_, "Left"), top = PlacementSetting(kind_, "Top"),
            width = PlacementSetting(kind_, "Width"), height = PlacementSetting(kind_, "Height");
    // Nothing remembered yet: the dialog keeps the size it chooses itself.
    if (!ReadText(width, 32).empty()) PlaceFromSettings(dialog_, &left, &top, &width, &height);
    if (ParseListLayout(ReadText(ColumnSetting(), 80), &layout_)) {
      ApplyListLayout(dialog_, layout_);
      // The header settles its sections once the dialog is shown.
      QTimer::singleShot(0, dialog_, [this] { ApplyListLayout(dialog_, layout_); });
    }
  }

  void SavePlacement() {
    WriteValue(PlacementSetting(kind_, "Left"), static_cast<uint32_t>(dialog_->x()));
    WriteValue(PlacementSetting(kind_, "Top"), static_cast<uint32_t>(dialog_->y()));
    WriteValue(PlacementSetting(kind_, "Width"), static_cast<uint32_t>(dialog_->width()));
    WriteValue(PlacementSetting(kind_, "Height"), static_cast<uint32_t>(dialog_->height()));
    WriteText(ColumnSetting(), ListLayoutText(dialog_));
  }

 private:
  Setting ColumnSetting() const {
    Setting s;
    s.section = "Window";
    s.key = kind_ + "Column";
    s.flags = kSetText | 80;
    return s;
  }
  QFileDialog* dialog_;
  std::string kind_;
  std::string history_;
  QComboBox* combo_ = nullptr;
  ListLayout layout_;
};

}  // namespace

void QtHost::SetStatusPanes(const std::vector<QLabel*>& panes) {
  panes_.clear();
  for (QLabel* l : panes) panes_.emplace_back(l);
}

int QtHost::ShowBox(const std::string& text, const std::string& caption, unsigned style, unsigned timeoutMs) {
  QMessageBox box(owner_);
  box.setWindowTitle(Q(caption));
  box.setText(Q(text));
  switch (style & MB_ICONMASK) {
    case MB_ICONSTOP:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONEXCLAMATION:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
  }
  // Answer of a box that is closed without a choice.
  int closedAnswer = IDCANCEL;
  switch (style & MB_TYPEMASK) {
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      closedAnswer = IDNO;
      break;
    case MB_YESNOCANCEL:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      closedAnswer = IDOK;
  }
  bool timedOut = false;
  if (timeoutMs) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    QTimer::singleShot(timeoutMs, &box, [&box, &timedOut] {
      timedOut = true;
      box.done(-1);
    });
  }
  box.exec();
  if (timedOut) return closedAnswer;
  QAbstractButton* clicked = box.clickedButton();
  switch (box.standardButton(clicked)) {
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    case QMessageBox::Ok:
      return IDOK;
    case QMessageBox::Cancel:
      return IDCANCEL;
    default:
      return closedAnswer;
  }
}

int QtHost::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
  return ShowBox(text, caption, style, 0);
}

int QtHost::TimedMessageBox(const std::string& text, const std::string& caption, unsigned style,
                            unsigned timeoutMs) {
  return ShowBox(text, caption, style, timeoutMs);
}

void QtHost::SetStatusText(int part, const std::string& text) {
  if (part < 0 || part >= static_cast<int>(panes_.size()) || !panes_[part]) return;
  panes_[part]->setText(Q(text));
}

void QtHost::SetTitleSuffix(const std::string& extra) {
  SetTitle(titleComposer_ ? titleComposer_(extra) : "Mirdex" + extra);
}

void QtHost::SetTitle(const std::string& title) {
  if (owner_) owner_->setWindowTitle(Q(title));
}

void QtHost::Pump() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtHost::SetReadingCursor(bool on) {
  if (on)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

void QtHost::Beep() {
  QApplication::beep();
}

bool QtHost::ChooseFiles(const FileDialogRequest& request, std::vector<std::string>* paths) {
  QFileDialog dialog(owner_, Q(request.title), Q(request.initialDir));
  // Qt's own dialog everywhere, so that it behaves the same on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  QStringList filters;
  for (const auto& [description, patterns] : request.filters) {
    QString p = Q(patterns);
    p.replace(';', ' ');
    filters << Q(description) + " (" + p + ")";
  }
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!request.defaultExt.empty()) dialog.setDefaultSuffix(Q(request.defaultExt));
  if (request.save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!request.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.initialName.empty()) dialog.selectFile(Q(request.initialName));
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  }
  dialog.setSizeGripEnabled(true);
  std::unique_ptr<FileDialogMemory> memory;
  if (!request.settingsKind.empty()) {
    memory = std::make_unique<FileDialogMemory>(&dialog, request.settingsKind);
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid) {
      MessageBox("子ウインドウ(最近参照したフォルダ)が作成できません!", ME.programName, MB_OK | MB_ICONSTOP);
    } else {
      memory->AddFolderChooser(grid);
      memory->Remember(dialog.directory().absolutePath());
    }
    memory->RestorePlacement();
  }
  QCheckBox* option = nullptr;
  if (!request.checkBoxText.empty() && request.checkBox) {
    option = new QCheckBox(Q(request.checkBoxText), &dialog);
    option->setObjectName("optionCheckBox");
    option->setChecked(*request.checkBox);
    // Qt's own dialog lays itself out on a grid: the box goes below it all.
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
      grid->addWidget(option, grid->rowCount(), 0, 1, grid->columnCount());
  }
  if (request.addPanels) {
    auto* area = new QWidget(&dialog);
    area->setObjectName("panelArea");
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
      grid->addWidget(area, grid->rowCount(), 0, 1, grid->columnCount());
    request.addPanels(area);
  }
  bool accepted = dialog.exec() == QDialog::Accepted;
  if (accepted && request.panelsAccepted) request.panelsAccepted();
  if (memory) {
    if (accepted) memory->Remember(dialog.directory().absolutePath());
    memory->SavePlacement();
  }
  if (!accepted) return false;
  if (option) *request.checkBox = option->isChecked();
  if (paths) {
    paths->clear();
    for (const QString& f : dialog.selectedFiles()) paths->push_back(f.toStdString());
  }
  return true;
}

bool QtHost::EditComment(const std::string& prompt, std::string* comment) {
  QDialog dialog(owner_);
  dialog.setObjectName("31013");
  dialog.setWindowTitle("Mirdex");
  auto* column = new QVBoxLayout(&dialog);
  // The prompt's CR breaks the line as it does in a box.
  QString text = QString::fromStdString(prompt);
  text.replace("\r\n", "\n").replace('\r', '\n');
  column->addWidget(new QLabel(text, &dialog));
  auto* edit = new QLineEdit(QString::fromStdString(*comment), &dialog);
  edit->setObjectName("25017");
  edit->setMinimumWidth(360);
  // The comment is kept in 71 bytes of UTF-8: what does not fit is not taken.
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& t) {
    QString cut = t;
    while (cut.toUtf8().size() > 71) cut.chop(1);
    if (cut.size() != t.size()) edit->setText(cut);
  });
  column->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  column->addWidget(buttons);
  edit->selectAll();
  edit->setFocus();
  if (dialog.exec() != QDialog::Accepted) return false;
  QString cut = edit->text();
  while (cut.toUtf8().size() > 71) cut.chop(1);
  *comment = cut.toStdString();
  return true;
}

bool QtHost::ConfirmWithScope(const std::string& operation, int* scope) {
  QDialog dialog(owner_);
  dialog.setWindowTitle(Q(ME.programName));
  auto* column = new QVBoxLayout(&dialog);
  column->addWidget(new QLabel(Q(operation), &dialog));
  const char* const names[3] = {"全体", "選択範囲", "現在のフレーム"};
  QRadioButton* choices[3];
  auto* row = new QHBoxLayout;
  for (int i = 0; i < 3; ++i) {
    choices[i] = new QRadioButton(QString::fromUtf8(names[i]), &dialog);
    choices[i]->setObjectName(QString("scope%1").arg(i));
    row->addWidget(choices[i]);
  }
  choices[*scope >= 0 && *scope < 3 ? *scope : 0]->setChecked(true);
  column->addLayout(row);
  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* run = buttons->addButton("実行", QDialogButtonBox::AcceptRole);
  run->setObjectName("1");
  buttons->addButton("中止", QDialogButtonBox::RejectRole)->setObjectName("2");
  run->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  column->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;
  for (int i = 0; i < 3; ++i)
    if (choices[i]->isChecked()) *scope = i;
  return true;
}
