#include "ui/DialogControls.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <QWidget>
#include <vector>

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

template <typename Filter>
void FilterAsTyped(QLineEdit* edit, Filter filter) {
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, filter](const QString& typed) {
    FilteredText f = filter(typed.toStdString());
    QString kept = Q(f.text);
    if (kept == typed) return;
    edit->setText(kept);
    edit->setCursorPosition(f.caret < 0 ? static_cast<int>(kept.size()) : f.caret);
  });
}

int ReadInt(const Setting* s, int current) {
  if (!s) return current;
  Setting d = *s;
  int32_t def = current, value = current;
  d.pDefault = &def;
  d.pValue = &value;
  d.flags = kSetSigned | kSet32;
  Read(d);
  return value;
}

}  // namespace

void FillHistoryCombo(QComboBox* combo, const std::string& list, int select) {
  combo->clear();
  for (const std::string& item : SplitHistory(list)) {
    QString q = Q(item);
    if (combo->findText(q, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) combo->addItem(q);
  }
  if (select >= 0 && select < combo->count()) combo->setCurrentIndex(select);
}

bool AddHistoryCombo(QComboBox* combo, const QString& text, std::string* list, size_t capacity) {
  int old = combo->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
  if (old >= 0) combo->removeItem(old);
  combo->insertItem(0, text);
  std::vector<std::string> items;
  for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i).toStdString());
  std::string joined = JoinHistory(items, capacity);
  combo->setCurrentIndex(0);
  if (combo->isEditable()) combo->setEditText(text);
  if (joined == *list) return false;
  *list = std::move(joined);
  return true;
}

void AttachNumericFilter(QLineEdit* edit, int flags) {
  FilterAsTyped(edit, [flags](const std::string& t) { return FilterNumeric(t, flags); });
}

void AttachNumericFilter(QComboBox* combo, int flags) {
  if (QLineEdit* edit = combo->lineEdit()) AttachNumericFilter(edit, flags | kNumCombo);
}

void AttachHexFilter(QLineEdit* edit) {
  FilterAsTyped(edit, [](const std::string& t) { return FilterHex(t); });
}

void SetupSpin(QSpinBox* spin, int maximum, int minimum, int position) {
  spin->setRange(minimum, std::max(minimum, maximum));
  spin->setValue(position);
}

void PlaceFromSettings(QWidget* window, const Setting* left, const Setting* top, const Setting* width,
                       const Setting* height) {
  PlacementRect want{ReadInt(left, window->x()), ReadInt(top, window->y()), window->width(),
                     window->height()};
  if (width && height) {
    want.width = ReadInt(width, window->width());
    want.height = ReadInt(height, window->height());
  }
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  PlacementRect placed = want;
  if (screen) {
    QRect a = screen->availableGeometry();
    placed = ClampPlacement(want, {a.x(), a.y(), a.width(), a.height()});
  } else {
    placed.width = std::max(placed.width, 100);
    placed.height = std::max(placed.height, 100);
  }
  if (width && height) window->resize(placed.width, placed.height);
  window->move(placed.left, placed.top);
}
