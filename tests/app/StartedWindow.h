// The fixture of the window command tests: a scratch settings folder, the
// main window through its real start-up with the file commands registered,
// and a recording host that answers the dialogs from then on.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "app/FileCommands.h"
#include "app/MainWindow.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"

class StartedWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ME;
    ClearCommandRegistry();
    dir_ = std::make_unique<ScratchDir>();
    window_ = std::make_unique<MainWindow>();
    RegisterFileCommands(window_->Shown().table);
    ASSERT_TRUE(window_->Startup());
    host_ = std::make_unique<RecordingHost>();
  }
  void TearDown() override {
    window_.reset();
    host_.reset();
    ClearCommandRegistry();
    ME = saved_;
    dir_.reset();
  }

  AppState saved_;
  std::unique_ptr<ScratchDir> dir_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<RecordingHost> host_;
};
