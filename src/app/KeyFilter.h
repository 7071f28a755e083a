// Accelerator keys for the whole application: an event filter that turns a
// key press into a command of the table chosen by the window in front, and
// delivers it to the dispatcher whichever window has the focus.
#pragma once
#include <QObject>
#include <QPointer>

class QWidget;
class QLineEdit;

// Windows virtual-key code of a Qt key (0 when there is none).
int QtKeyToVk(int qtKey, Qt::KeyboardModifiers modifiers);

// Tool windows mark themselves with this property to get table 2.
extern const char kAccelKindProperty[];  // value "fieldShiftOrVolume"

class AcceleratorFilter : public QObject {
 public:
  AcceleratorFilter(QWidget* mainWindow, QLineEdit* frameNumberBox);
  // The table for keys that go to `window` (-1: accelerators are off).
  int TableFor(QWidget* window) const;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> main_;
  QPointer<QLineEdit> frameBox_;
};
