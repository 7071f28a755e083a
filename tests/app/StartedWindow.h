// The fixture of the window command tests: a scratch settings folder, the
// main window through its real start-up with the file commands registered,
// and a recording host that answers the dialogs from then on; files are
// opened as the user would.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "app/FileCommands.h"
#include "app/MainWindow.h"
#include "command/CommandIds.h"
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

  // Opens `path` through the open command, with the name the dialog would give.
  void Open(const std::string& path) {
    SetPendingOpenName(path);
    DispatchCommand(kCmdOpenRecord);
  }
  // Ten 16 × 16 frames at 25 fps with 8 kHz 16-bit stereo audio, 320 samples
  // a frame, for WriteAvi.
  static AviBuildOptions TenFramesWithAudio() {
    AviBuildOptions o;
    o.frames = Frames(10, 16 * 16 * 3);
    o.audio = true;
    o.audioSizes.assign(10, 1280);
    return o;
  }
  std::string WriteAvi(const std::string& name, const AviBuildOptions& o) {
    std::string path = dir_->File(name);
    EXPECT_TRUE(WriteFileBytes(path, BuildAvi(o).bytes));
    return path;
  }

  AppState saved_;
  std::unique_ptr<ScratchDir> dir_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<RecordingHost> host_;
};
