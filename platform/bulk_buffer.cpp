#include "platform/bulk_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace dovrane::platform {

namespace {
constexpr size_t kHuge = size_t{2} << 20;
}

BulkBuffer::~BulkBuffer() {
  if (mapping_) ::munmap(mapping_, mapped_);
}

BulkBuffer::BulkBuffer(BulkBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mapped_(std::exchange(other.mapped_, 0)) {}

void BulkBuffer::Reserve(size_t n) {
  if (capacity_ - size_ >= n) return;
  if (n > SIZE_MAX / 4 - size_) throw std::bad_alloc();
  const size_t capacity = std::max(2 * capacity_, (size_ + n + kHuge - 1) / kHuge * kHuge);
  // One huge page more than asked, so that the buffer can start on a huge
  // page's boundary: the kernel only backs whole aligned 2 MiB pieces.
  const size_t mapped = capacity + kHuge;
  void* mapping = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  char* data = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(mapping) + kHuge - 1) & ~uintptr_t{kHuge - 1});
#ifdef MADV_HUGEPAGE
  // Advice only: where it is refused, the buffer keeps small pages. The last
  // 2 MiB of a larger buffer keep them anyway: a huge page is cleared whole
  // when it is first touched, and the end of the room reserved is seldom
  // used for more than a little.
  const size_t huge = capacity > kHuge ? capacity - kHuge : capacity;
  (void)::madvise(data, huge, MADV_HUGEPAGE);
#endif
  if (size_ > 0) std::memcpy(data, data_, size_);
  if (mapping_) ::munmap(mapping_, mapped_);
  data_ = data;
  capacity_ = capacity;
  mapping_ = mapping;
  mapped_ = mapped;
}

}  // namespace dovrane::platform
