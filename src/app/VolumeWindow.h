// The volume window "音量の変更" (command 44017): target level, channel
// offsets, factor, the buttons of the volume commands and the channel choice.
#pragma once

class MainWindow;
class QDialog;

// Shows the window beside the frame view (made on first use).
QDialog* ShowVolumeWindow(MainWindow* window);
QDialog* VolumeWindow();  // the open window or null
// The window shows the settings again (after a measurement or a clear).
void ShowVolumeValues();

enum : int {
  kVolumePercentEdit = 25040,
  kVolumeOffsetLeftEdit = 25041,
  kVolumeOffsetRightEdit = 25042,
  kVolumeFactorEdit = 25043,
  kVolumeChannelCombo = 23010,
};
