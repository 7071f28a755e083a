// The threaded block stream: chunks across block boundaries, a source read
// taken back after some of it was handed to the thread, and a failed write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "TestSupport.h"
#include "avi/BlockWriter.h"

namespace {
std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + seed);
  return s;
}
}  // namespace

TEST(BlockWriter, WritesInOrderAndTakesBackAShortSourceRead) {
  ScratchDir dir;
  const std::string source = Pattern(30000, 1);
  ASSERT_TRUE(WriteFileBytes(dir.File("src"), source));
  const int in = open(dir.File("src").c_str(), O_RDONLY);
  const int out = open(dir.File("out").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  ASSERT_EQ(pwrite(out, "head", 4, 0), 4);

  std::string expected = "head" + Pattern(100, 2);
  {
    BlockWriter w(4096, 2);  // 2 pages: every source read spans blocks
    w.Start(out, 4);
    ASSERT_TRUE(w.Append(expected.data() + 4, 100));
    EXPECT_EQ(w.AppendFrom(in, 1000, 10000), 1);
    expected += source.substr(1000, 10000);
    // Asks past the source's end: what was read (some already written) is
    // taken back, and the next bytes go where it began.
    const uint64_t before = w.Position();
    EXPECT_EQ(w.AppendFrom(in, 25000, 9000), 0);
    EXPECT_EQ(w.Position(), before);
    const std::string tail = Pattern(6000, 3);
    ASSERT_TRUE(w.Append(tail.data(), tail.size()));
    expected += tail;
    EXPECT_EQ(w.AppendFrom(in, 0, 5), 1);
    expected += source.substr(0, 5);
    EXPECT_TRUE(w.Drain());
    EXPECT_EQ(w.Position(), expected.size());
  }
  const std::string got = ReadFileBytes(dir.File("out"));
  EXPECT_TRUE(got.compare(0, expected.size(), expected) == 0);
  close(in);
  close(out);

  // A descriptor that cannot be written: the failure reaches the caller.
  const int readOnly = open(dir.File("src").c_str(), O_RDONLY);
  BlockWriter w(4096, 2);
  w.Start(readOnly, 0);
  const std::string big = Pattern(20000, 4);
  bool ok = w.Append(big.data(), big.size());
  ok = w.Drain() && ok;
  EXPECT_FALSE(ok);
  EXPECT_EQ(w.Error(), EBADF);
  close(readOnly);
}
