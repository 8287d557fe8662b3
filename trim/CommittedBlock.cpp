#include "trim/CommittedBlock.h"

#include "platform/Memory.h"

namespace trim {

// With no address given, the commit reserves and commits the range in one step.
CommittedBlock::CommittedBlock(std::uint64_t size)
    : data_(platform::VirtualAlloc(nullptr, size, platform::kMemCommit,
                                   platform::kPageReadWrite | platform::kPageNoCache)),
      size_(data_ != nullptr ? size : 0) {}

CommittedBlock::~CommittedBlock() {
  if (data_ != nullptr)
    platform::VirtualFree(data_, size_, platform::kMemDecommit);
}

}  // namespace trim
