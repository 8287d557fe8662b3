#include "bench/FreshMapping.h"

#include <sys/mman.h>

#include <stdexcept>

namespace bench {

FreshMapping::FreshMapping(std::uint64_t size, Pages pages) : data_(nullptr), size_(size) {
  const int populate = pages == Pages::kPopulated ? MAP_POPULATE : 0;
  void* data =
      ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | populate, -1, 0);
  if (data == MAP_FAILED)
    throw std::runtime_error("mmap failed");
  data_ = data;
  // Advice only: where transparent huge pages are off it changes nothing. Too late for a
  // populated mapping, whose pages are already there.
  if (pages == Pages::kOnFirstWrite)
    ::madvise(data_, size_, MADV_NOHUGEPAGE);
}

FreshMapping::~FreshMapping() {
  ::munmap(data_, size_);
}

}  // namespace bench
