// The frame-range panel that operation dialogs embed: three radio buttons
// (the shown frame, the selection, all frames) filling the dialog's
// FrameRangeChoice. Panels that share one record stay in step.
#pragma once
#include <QWidget>
#include <cstdint>
#include <functional>

#include "process/FrameRange.h"

class QRadioButton;

enum : int { kRangeShownFrame = 22040, kRangeSelection = 22041, kRangeAllFrames = 22042 };

class FrameRangePanel : public QWidget {
 public:
  static constexpr int kMaxPanels = 8;
  // `selectionLength` gives end - start + 1 of the frame selection when the
  // panel is made. A ninth panel at once stays empty and changes nothing.
  FrameRangePanel(QWidget* parent, FrameRangeChoice* record, std::function<int64_t()> selectionLength);
  ~FrameRangePanel() override;

  bool Registered() const { return record_ != nullptr; }
  QRadioButton* Button(int id) const;

  // Told of a click on a button (22040..22042), in every panel of the
  // record: the owning dialog's command.
  void SetChosenHandler(std::function<void(int id)> handler) { chosen_ = std::move(handler); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Choose(int id);
  FrameRangeChoice* record_ = nullptr;
  std::function<void(int)> chosen_;
  QRadioButton* buttons_[3] = {};
};
