#include "app/KeyFilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

#include "command/Accelerators.h"
#include "command/Dispatcher.h"

const char kAccelKindProperty[] = "mxAccelKind";

int QtKeyToVk(int key, Qt::KeyboardModifiers modifiers) {
  const bool keypad = modifiers & Qt::KeypadModifier;
  if (keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return VK_NUMPAD0 + (key - Qt::Key_0);
    switch (key) {
      case Qt::Key_Plus:
        return VK_ADD;
      case Qt::Key_Minus:
        return VK_SUBTRACT;
      case Qt::Key_Asterisk:
        return VK_MULTIPLY;
      case Qt::Key_Slash:
        return VK_DIVIDE;
      case Qt::Key_Period:
      case Qt::Key_Comma:
        return VK_DECIMAL;
    }
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return '0' + (key - Qt::Key_0);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    // The OEM keys by their unshifted and shifted characters (US layout).
    case Qt::Key_Comma:
    case Qt::Key_Less:
      return VK_OEM_COMMA;
    case Qt::Key_Period:
    case Qt::Key_Greater:
      return VK_OEM_PERIOD;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
      return VK_OEM_4;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
      return VK_OEM_6;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
      return VK_OEM_1;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
      return VK_OEM_PLUS;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
      return VK_OEM_MINUS;
    case Qt::Key_Slash:
    case Qt::Key_Question:
      return VK_OEM_2;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
      return VK_OEM_3;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
      return VK_OEM_5;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
      return VK_OEM_7;
    case Qt::Key_Asterisk:
      return VK_MULTIPLY;
  }
  return 0;
}

AcceleratorFilter::AcceleratorFilter(QWidget* mainWindow, QLineEdit* frameNumberBox)
    : QObject(mainWindow), main_(mainWindow), frameBox_(frameNumberBox) {}

int AcceleratorFilter::TableFor(QWidget* window) const {
  // Modal boxes and open menus run their own keyboard handling.
  if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) return -1;
  if (!window || !main_) return -1;
  if (window == main_) {
    // The frame-number box is read-only while frame corrections are pending.
    return ChooseAccelTable(AccelWindowKind::kMainWindow, frameBox_ && frameBox_->isReadOnly());
  }
  if (window->property(kAccelKindProperty).toString() == QLatin1String("fieldShiftOrVolume"))
    return ChooseAccelTable(AccelWindowKind::kFieldShiftOrVolume, false);
  return ChooseAccelTable(AccelWindowKind::kOther, false);
}

bool AcceleratorFilter::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  int table = TableFor(widget->window());
  if (table < 0) return false;
  Qt::KeyboardModifiers m = key->modifiers();
  int vk = QtKeyToVk(key->key(), m);
  if (!vk) return false;
  int command =
      LookupAccelerator(table, vk, m & Qt::ShiftModifier, m & Qt::ControlModifier, m & Qt::AltModifier);
  if (!command) return false;
  if (type == QEvent::ShortcutOverride) {
    // Keep Qt's own shortcuts (menu mnemonics, edit-box keys) off this key.
    event->accept();
    return true;
  }
  DispatchCommand(command, CommandSource::kAccelerator);
  return true;
}
