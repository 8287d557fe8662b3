#pragma once

#include <cstdint>

namespace bench {

// A fresh anonymous private mapping, unmapped when it goes out of scope. Its pages are not
// there until first written, so the first write to each one takes a page fault, as the first
// write to a freshly committed block does on Windows. Huge pages are declined: the program's
// commit gets ordinary 4 KiB pages.
class FreshMapping {
 public:
  explicit FreshMapping(std::uint64_t size);
  FreshMapping(const FreshMapping&) = delete;
  FreshMapping& operator=(const FreshMapping&) = delete;
  ~FreshMapping();

  void* Data() const { return data_; }
  std::uint64_t Size() const { return size_; }

 private:
  void* data_;
  std::uint64_t size_;
};

}  // namespace bench
