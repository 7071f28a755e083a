// Shared by the window tests (the QApplication itself is QtTestEnv.cpp's).
#pragma once
#include <QApplication>
#include <QTest>
#include <QWidget>

// Shows `w`, makes it the active window and waits until the platform agrees.
inline bool ShowActive(QWidget* w) {
  w->show();
  QApplication::setActiveWindow(w);
  w->activateWindow();
  return QTest::qWaitForWindowActive(w);
}
