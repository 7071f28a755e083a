// The Host of the Qt program: message boxes with the program's caption, the
// timed box, the status-bar panes, the window title and the pump step.
#pragma once
#include <QPointer>
#include <functional>
#include <QWidget>

#include "platform/Host.h"

class QLabel;

class QtHost : public Host {
 public:
  // Boxes are owned by `owner` (may be null); panes are the status-bar labels.
  void SetOwner(QWidget* owner) { owner_ = owner; }
  void SetStatusPanes(const std::vector<QLabel*>& panes);

  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
  int TimedMessageBox(const std::string& text, const std::string& caption, unsigned style,
                      unsigned timeoutMs) override;
  void SetStatusText(int part, const std::string& text) override;
  void SetTitle(const std::string& title) override;
  void SetTitleSuffix(const std::string& extra) override;
  // Makes the window's title from a suffix (the window knows its files).
  void SetTitleComposer(std::function<std::string(const std::string& extra)> composer) {
    titleComposer_ = std::move(composer);
  }
  void Pump() override;
  void Beep() override;
  bool ChooseFiles(const FileDialogRequest& request, std::vector<std::string>* paths) override;
  bool EditComment(const std::string& prompt, std::string* comment) override;
  bool ConfirmWithScope(const std::string& operation, int* scope) override;
  void SetReadingCursor(bool on) override;

 private:
  int ShowBox(const std::string& text, const std::string& caption, unsigned style, unsigned timeoutMs);
  QPointer<QWidget> owner_;
  std::function<std::string(const std::string&)> titleComposer_;
  std::vector<QPointer<QLabel>> panes_;
};
