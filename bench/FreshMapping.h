#pragma once

#include <cstdint>

namespace bench {

// How the pages of a fresh mapping come. kOnFirstWrite: they are not there until first written,
// so the first write to each one takes a page fault, as the first write to a freshly committed
// block does on Windows; huge pages are declined, as the program's commit gets ordinary 4 KiB
// pages. kPopulated: the kernel puts every page in place (zeroed) while making the mapping
// (MAP_POPULATE and nothing else), the fastest that fresh pages can appear, with no fault taken.
enum class Pages { kOnFirstWrite, kPopulated };

// A fresh anonymous private mapping, unmapped when it goes out of scope.
class FreshMapping {
 public:
  explicit FreshMapping(std::uint64_t size, Pages pages = Pages::kOnFirstWrite);
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
