#include "avi/BlockWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr uint64_t kPage = 4096;
}

void BlockWriter::FreeAligned::operator()(uint8_t* p) const {
  std::free(p);
}

BlockWriter::BlockWriter(size_t blockBytes, int blocks)
    : blockBytes_(std::max<size_t>(kPage, (blockBytes + kPage - 1) / kPage * kPage)) {
  blocks = std::max(blocks, 2);
  blocks_.resize(static_cast<size_t>(blocks));
  for (Block& b : blocks_) {
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(kPage, blockBytes_));
    if (!p) throw std::bad_alloc();
    storage_.emplace_back(p);
    b.data = p;
    free_.push_back(&b);
  }
}

BlockWriter::~BlockWriter() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void BlockWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || !queued_.empty(); });
    if (queued_.empty()) return;
    Block* b = queued_.front();
    queued_.pop_front();
    ++busy_;
    const bool write = error_ == 0;
    const int fd = fd_;
    lock.unlock();
    int failure = 0;
    for (size_t done = 0; write && done < b->used;) {
      ssize_t n = pwrite(fd, b->data + done, b->used - done, static_cast<off_t>(b->position + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failure = n < 0 ? errno : ENOSPC;
        break;
      }
      done += static_cast<size_t>(n);
    }
    lock.lock();
    if (failure && !error_) error_ = failure;
    b->used = 0;
    free_.push_back(b);
    --busy_;
    done_.notify_all();
  }
}

void BlockWriter::Take(uint64_t position) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return !free_.empty(); });
  current_ = free_.back();
  free_.pop_back();
  current_->position = position;
  current_->used = 0;
  // The first block ends on a page boundary; all later ones start on one.
  current_->capacity = blockBytes_ - static_cast<size_t>(position % kPage);
}

void BlockWriter::Submit() {
  if (!current_) return;
  Block* b = current_;
  const uint64_t next = b->position + b->used;
  current_ = nullptr;
  position_ = next;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (b->used == 0) {
      free_.push_back(b);
      return;
    }
    queued_.push_back(b);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_one();
}

void BlockWriter::Start(int fd, uint64_t position) {
  Drain();
  fd_ = fd;
  position_ = started_ = position;
}

bool BlockWriter::Drain() {
  Submit();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return queued_.empty() && busy_ == 0; });
  return error_ == 0;
}

int BlockWriter::Error() {
  std::unique_lock<std::mutex> lock(mutex_);
  return error_;
}

bool BlockWriter::Failed() {
  return Error() != 0;
}

bool BlockWriter::Append(const void* data, size_t bytes) {
  const auto* from = static_cast<const uint8_t*>(data);
  while (bytes > 0) {
    if (!current_) Take(position_);
    if (current_->used == current_->capacity) {
      Submit();
      if (Failed()) return false;
      continue;
    }
    size_t n = std::min(bytes, current_->capacity - current_->used);
    std::memcpy(current_->data + current_->used, from, n);
    current_->used += n;
    from += n;
    bytes -= n;
  }
  return !Failed();
}

int BlockWriter::AppendFrom(int source, uint64_t offset, size_t bytes) {
  const uint64_t start = Position();
  while (bytes > 0) {
    if (!current_) Take(position_);
    if (current_->used == current_->capacity) {
      Submit();
      if (Failed()) return -1;
      continue;
    }
    size_t want = std::min(bytes, current_->capacity - current_->used);
    ssize_t n = pread(source, current_->data + current_->used, want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Rewind(start);
      return Failed() ? -1 : 0;
    }
    current_->used += static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
    bytes -= static_cast<size_t>(n);
  }
  return Failed() ? -1 : 1;
}

void BlockWriter::Rewind(uint64_t position) {
  position = std::max(position, started_);
  if (current_ && position >= current_->position) {
    current_->used = static_cast<size_t>(position - current_->position);
    return;
  }
  // Blocks already handed over hold the start of what is taken back; they
  // are written, and what follows overwrites them.
  if (current_) current_->used = 0;
  Drain();
  position_ = position;
}
