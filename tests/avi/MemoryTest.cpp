// Allocations the reader sizes from file contents: each one that fails ends
// the open with the memory message of its index and a closed record. The
// test binary's operator new fails on request.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "AviTestUtil.h"

namespace {

// Allocations this large or larger count down; the one that reaches 0 fails.
constexpr size_t kCounted = 4096;
std::atomic<long> gUntilFailure{-1};

void* Allocate(size_t n) {
  if (n >= kCounted && gUntilFailure.load(std::memory_order_relaxed) >= 0 && gUntilFailure.fetch_sub(1) == 0)
    throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t n) {
  return Allocate(n);
}
void* operator new[](size_t n) {
  return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept {
  return operator new(n, t);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

TEST(AviReaderMemory, EveryFailedAllocationGivesTheMemoryMessageAndAClosedRecord) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(700, 8);
  o.audio = true;
  o.audioSizes = std::vector<uint32_t>(700, 4);
  AviBuildOptions scanned = o, odml = o;
  scanned.idx1 = AviBuildOptions::kNone;
  odml.openDml = true;
  odml.framesPerPart = 300;
  const struct {
    const char* what;
    AviBuildOptions options;
  } files[] = {{"idx1", o}, {"scanned", scanned}, {"OpenDML", odml}};
  for (const auto& f : files) {
    std::string p = WriteAvi(dir, "m.avi", BuildAvi(f.options));
    for (long n = 0;; ++n) {
      OpenAviFile a;
      host.boxes.clear();
      host.boxes.reserve(8);
      host.answers = {IDYES};
      for (auto& pane : host.status) pane.reserve(1000);
      host.titleSuffixes.reserve(1000);
      gUntilFailure = n;
      bool ok = OpenRecord(&a, p, 1);
      bool failed = gUntilFailure.exchange(-1) < 0;
      if (!failed) {
        EXPECT_TRUE(ok) << f.what << BoxTexts(host);
        break;
      }
      if (ok) continue;  // an allocation that only speeds things up
      EXPECT_FALSE(a.IsOpen()) << f.what << " " << n;
      ASSERT_FALSE(host.boxes.empty()) << f.what << " " << n;
      EXPECT_EQ(host.boxes.back().text.rfind("必要なメモリ(", 0), 0u) << f.what << " " << n << BoxTexts(host);
    }
  }
}
