// The command line: options before the file name, and names that only look
// like options.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/CommandLine.h"

TEST(CommandLine, FindsTheFileBehindTheOptions) {
  ScratchDir dir;
  std::string spaced = dir.File("my capture.avi");
  WriteFileBytes(spaced, "x");
  EXPECT_EQ(CommandLineFile({}), "");
  EXPECT_EQ(CommandLineFile({"/line:12", "a.avi"}), "a.avi");
  EXPECT_EQ(CommandLineFile({"/line:", "12", "a.avi"}), "a.avi");
  EXPECT_EQ(CommandLineFile({"/x", "/yz", "b.avi", "c.avi"}), "b.avi");
  // An absolute path is a file, not an option, because it exists.
  EXPECT_EQ(CommandLineFile({"/nosuch", spaced}), spaced);
  EXPECT_EQ(CommandLineFile({"/line:"}), "");
  EXPECT_EQ(CommandLineFile({"", "d.avi"}), "d.avi");
}
