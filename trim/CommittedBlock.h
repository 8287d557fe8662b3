#pragma once

#include <cstdint>

namespace trim {

// A block of committed, uncached read-write memory, decommitted when it goes out of scope. The
// address range stays reserved until the process ends. Empty when the commit failed.
class CommittedBlock {
 public:
  explicit CommittedBlock(std::uint64_t size);
  CommittedBlock(const CommittedBlock&) = delete;
  CommittedBlock& operator=(const CommittedBlock&) = delete;
  ~CommittedBlock();

  void* Data() const { return data_; }
  std::uint64_t Size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  void* data_;
  std::uint64_t size_;
};

}  // namespace trim
