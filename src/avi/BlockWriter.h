// A stream of bytes written at increasing positions of a file by a second
// thread: the caller fills one block (copying data in, or reading it straight
// from a source file) while the blocks before it are written. Blocks end on
// page boundaries of the file, so the system never merges a page written in
// two pieces.
//
// Used for the bulk of a new AVI file, the movi data; headers and indexes go
// through the caller's own buffered file between a Drain and the next Start.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BlockWriter {
 public:
  // A block small enough to stay in the processor's cache between the read
  // into it and the write out of it.
  explicit BlockWriter(size_t blockBytes = 512 << 10, int blocks = 4);
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;
  // Writes what is queued, then stops the thread.
  ~BlockWriter();

  // The stream goes on at `position` of `fd` (after a Drain, or at first).
  void Start(int fd, uint64_t position);
  // Where the next byte goes.
  uint64_t Position() const { return current_ ? current_->position + current_->used : position_; }

  // False once a write has failed (Error()).
  bool Append(const void* data, size_t bytes);
  // Reads `bytes` at `offset` of `source` into the stream: 1 done; 0 the
  // source gave fewer bytes (the stream is back at where it was); -1 a write
  // has failed.
  int AppendFrom(int source, uint64_t offset, size_t bytes);
  // Takes back what was appended from `position` on (not before the last
  // Start); what follows overwrites it.
  void Rewind(uint64_t position);
  // Waits until everything appended is in the file. False when a write
  // failed.
  bool Drain();

  // errno of the first failed write; 0 none.
  int Error();

 private:
  struct Block {
    uint8_t* data = nullptr;
    uint64_t position = 0;
    size_t used = 0, capacity = 0;
  };
  struct FreeAligned {
    void operator()(uint8_t* p) const;
  };

  void Run();
  // Hands the current block (if it holds anything) to the thread.
  void Submit();
  // A free block for the stream to go on at `position`.
  void Take(uint64_t position);
  bool Failed();

  const size_t blockBytes_;
  std::vector<std::unique_ptr<uint8_t[], FreeAligned>> storage_;
  std::vector<Block> blocks_;
  std::vector<Block*> free_;
  std::deque<Block*> queued_;
  Block* current_ = nullptr;
  int fd_ = -1;
  uint64_t position_ = 0;  // when no block is current
  uint64_t started_ = 0;
  int busy_ = 0;  // blocks the thread is writing
  int error_ = 0;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::thread thread_;
};
