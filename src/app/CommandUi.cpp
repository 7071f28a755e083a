#include "app/CommandUi.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QMenu>
#include <QPointer>
#include <map>
#include <set>
#include <vector>

#include "command/MenuTable.h"

namespace {

struct CommandPlaces {
  QPointer<QAction> action;
  std::vector<QPointer<QAction>> proxies;  // context-menu items with their own caption
};

std::map<int, CommandPlaces>& Places() {
  static std::map<int, CommandPlaces> m;
  return m;
}
std::map<int, QPointer<QWidget>>& Controls() {
  static std::map<int, QPointer<QWidget>> m;
  return m;
}
std::set<int>& ExplicitlyDisabled() {
  static std::set<int> s;
  return s;
}
std::function<QWidget*(int)>& MainControlFinder() {
  static std::function<QWidget*(int)> f;
  return f;
}
std::vector<QPointer<QWidget>>& ControlWindows() {
  static std::vector<QPointer<QWidget>> w;
  return w;
}
QPointer<QObject>& ActionParent() {
  static QPointer<QObject> p;
  return p;
}

// Qt flips a checkable action before `triggered`; the command's handler
// decides the new state, so the flip is undone first.
void UndoAutoToggle(QAction* a) {
  if (a->isCheckable()) a->setChecked(!a->isChecked());
}

QAbstractButton* ControlButton(int id) {
  return qobject_cast<QAbstractButton*>(FindControl(id));
}

bool ShownAnywhere(int id) {
  QAction* a = FindCommandAction(id);
  return (a && !a->associatedObjects().isEmpty()) || FindControl(id);
}

}  // namespace

void SetCommandActionParent(QObject* parent) {
  ActionParent() = parent;
}

QAction* FindCommandAction(int id) {
  auto it = Places().find(id);
  return it == Places().end() ? nullptr : it->second.action.data();
}

QAction* CommandAction(int id) {
  if (QAction* a = FindCommandAction(id)) return a;
  auto* a = new QAction(ActionParent());
  a->setData(id);
  QObject::connect(a, &QAction::triggered, a, [a, id] {
    UndoAutoToggle(a);
    DispatchCommand(id, CommandSource::kMenu);
  });
  Places()[id].action = a;
  a->setEnabled(false);
  return a;
}

QAction* AddCommandToMenu(QMenu* menu, int id, const QString& caption, int flags) {
  QAction* a = CommandAction(id);
  QAction* placed = a;
  if (a->associatedObjects().isEmpty() || a->text() == caption) {
    a->setText(caption);
    menu->addAction(a);
  } else {
    // Same command, own caption: a proxy that only mirrors the action.
    auto* proxy = new QAction(caption, menu);
    proxy->setData(id);
    auto sync = [a, proxy] {
      proxy->setEnabled(a->isEnabled());
      proxy->setCheckable(a->isCheckable());
      proxy->setChecked(a->isChecked());
    };
    sync();
    QObject::connect(a, &QAction::changed, proxy, sync);
    QObject::connect(proxy, &QAction::triggered, proxy, [proxy, id] {
      UndoAutoToggle(proxy);
      DispatchCommand(id, CommandSource::kMenu);
    });
    menu->addAction(proxy);
    Places()[id].proxies.emplace_back(proxy);
    placed = proxy;
  }
  if (flags & MF_CHECKED) {
    a->setCheckable(true);
    a->setChecked(true);
  }
  if (flags & MF_GRAYED) UiEnableCommand(id, false);
  return placed;
}

void ResetCommandUi() {
  for (auto& [id, p] : Places()) {
    if (p.action && p.action->parent() == nullptr) delete p.action.data();
  }
  Places().clear();
  Controls().clear();
  ControlWindows().clear();
  ExplicitlyDisabled().clear();
}

void RegisterControl(int id, QWidget* control) {
  Controls()[id] = control;
  if (auto* b = qobject_cast<QAbstractButton*>(control)) {
    QObject::connect(b, &QAbstractButton::clicked, b, [id] { DispatchCommand(id, CommandSource::kControl); });
    // A check box takes the command's current check mark.
    if (QAction* a = FindCommandAction(id); a && a->isCheckable() && b->isCheckable())
      b->setChecked(a->isChecked());
  }
  control->setEnabled(CanRunCommand(id) && !ExplicitlyDisabled().count(id));
}

void UnregisterControl(int id) {
  Controls().erase(id);
}

void AddControlWindow(QWidget* window) {
  ControlWindows().emplace_back(window);
}

QWidget* FindControl(int id) {
  auto it = Controls().find(id);
  if (it != Controls().end()) {
    if (it->second) return it->second.data();
    Controls().erase(it);
  }
  auto& windows = ControlWindows();
  std::erase_if(windows, [](const QPointer<QWidget>& w) { return w.isNull(); });
  const QString name = QString::number(id);
  for (const auto& w : windows)
    if (auto* c = w->findChild<QWidget*>(name)) return c;
  return MainControlFinder() ? MainControlFinder()(id) : nullptr;
}

QString GetControlText(int id) {
  QWidget* c = FindControl(id);
  if (auto* e = qobject_cast<QLineEdit*>(c)) return e->text();
  if (auto* b = qobject_cast<QComboBox*>(c)) return b->currentText();
  if (auto* s = qobject_cast<QAbstractSpinBox*>(c)) return s->text();
  if (auto* l = qobject_cast<QLabel*>(c)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(c)) return b->text();
  return QString();
}

int GetControlInt(int id) {
  if (auto* s = qobject_cast<QSpinBox*>(FindControl(id))) return s->value();
  return GetControlText(id).trimmed().toInt();
}

double GetControlDouble(int id) {
  return GetControlText(id).trimmed().toDouble();
}

bool SetControlText(int id, const QString& text) {
  QWidget* c = FindControl(id);
  if (auto* e = qobject_cast<QLineEdit*>(c))
    e->setText(text);
  else if (auto* b = qobject_cast<QComboBox*>(c); b && b->isEditable())
    b->setEditText(text);
  else if (auto* s = qobject_cast<QSpinBox*>(c))
    s->setValue(text.trimmed().toInt());
  else if (auto* l = qobject_cast<QLabel*>(c))
    l->setText(text);
  else if (auto* a = qobject_cast<QAbstractButton*>(c))
    a->setText(text);
  else
    return false;
  return true;
}

bool SetControlInt(int id, int value) {
  if (auto* s = qobject_cast<QSpinBox*>(FindControl(id))) {
    s->setValue(value);
    return true;
  }
  return SetControlText(id, QString::number(value));
}

void SetMainControlFinder(std::function<QWidget*(int)> finder) {
  MainControlFinder() = std::move(finder);
}

bool UiEnableCommand(int id, bool enable) {
  if (enable)
    ExplicitlyDisabled().erase(id);
  else
    ExplicitlyDisabled().insert(id);
  bool on = enable && CanRunCommand(id);
  bool found = false;
  if (QAction* a = FindCommandAction(id)) {
    a->setEnabled(on);
    found = true;
  }
  if (QWidget* c = FindControl(id)) {
    c->setEnabled(on);
    found = true;
  }
  return found;
}

void UiSetCheck(int id, bool checked, bool notify) {
  QAction* a = CommandAction(id);
  a->setCheckable(true);
  a->setChecked(checked);
  if (QAbstractButton* b = ControlButton(id)) b->setChecked(checked);
  if (notify) DispatchCommand(id, CommandSource::kSetCheck);
}

int UiToggleCheck(int id, CommandSource sender, int oldValue) {
  QAbstractButton* b = ControlButton(id);
  QAction* a = FindCommandAction(id);
  if (!a && !b) return oldValue;
  int value;
  if (sender == CommandSource::kControl && b) {
    value = b->isChecked() ? 1 : 0;
  } else if (sender == CommandSource::kSetCheck) {
    value = a ? a->isChecked() : b->isChecked();
  } else {
    if (!ShownAnywhere(id) && !(a && a->isCheckable())) return oldValue;
    value = a ? !a->isChecked() : !b->isChecked();
  }
  if (a) {
    a->setCheckable(true);
    a->setChecked(value != 0);
  }
  if (b) b->setChecked(value != 0);
  return value;
}

int UiIsCommandChecked(int id) {
  if (QAction* a = FindCommandAction(id)) return a->isChecked() ? 1 : 0;
  if (QAbstractButton* b = ControlButton(id)) return b->isChecked() ? 1 : 0;
  return -1;
}

void UiSetItem(int id, const QString* caption, bool enabled) {
  auto it = Places().find(id);
  if (it == Places().end()) return;
  if (caption) {
    if (it->second.action) it->second.action->setText(*caption);
    for (auto& p : it->second.proxies)
      if (p) p->setText(*caption);
  }
  UiEnableCommand(id, enabled);
}

QAction* FindItemByCaption(QWidget* menuOrBar, const QString& text) {
  if (!menuOrBar) return nullptr;
  for (QAction* a : menuOrBar->actions()) {
    QString caption = a->menu() ? a->menu()->title() : a->text();
    if (caption.contains(text)) return a;
  }
  return nullptr;
}

void RefreshCommandStates() {
  for (auto& [id, p] : Places()) {
    if (p.action) p.action->setEnabled(CanRunCommand(id) && !ExplicitlyDisabled().count(id));
  }
  for (auto it = Controls().begin(); it != Controls().end();) {
    if (!it->second) {
      it = Controls().erase(it);
      continue;
    }
    it->second->setEnabled(CanRunCommand(it->first) && !ExplicitlyDisabled().count(it->first));
    ++it;
  }
}
