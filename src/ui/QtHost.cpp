#include "ui/QtHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

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
  QCheckBox* option = nullptr;
  if (!request.checkBoxText.empty() && request.checkBox) {
    option = new QCheckBox(Q(request.checkBoxText), &dialog);
    option->setObjectName("optionCheckBox");
    option->setChecked(*request.checkBox);
    // Qt's own dialog lays itself out on a grid: the box goes below it all.
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
      grid->addWidget(option, grid->rowCount(), 0, 1, grid->columnCount());
  }
  if (dialog.exec() != QDialog::Accepted) return false;
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
