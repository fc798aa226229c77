// Memory for a large output that is built whole before it is written (the
// list prints nothing of a damaged file). Taken from the kernel in 2 MiB
// pages where it has them: filled 4 KiB at a time, a list of 100,000
// projects cost a thousand page faults.
#pragma once

#include <cstddef>
#include <string_view>

namespace dovrane::platform {

class BulkBuffer {
 public:
  BulkBuffer() = default;
  ~BulkBuffer();
  BulkBuffer(const BulkBuffer&) = delete;
  BulkBuffer& operator=(const BulkBuffer&) = delete;
  BulkBuffer(BulkBuffer&& other) noexcept;

  // Room for at least n bytes more at end(); throws std::bad_alloc when the
  // memory is not there.
  void Reserve(size_t n);
  char* end() { return data_ + size_; }
  // Counts n bytes written at end() after a Reserve of at least n.
  void Grow(size_t n) { size_ += n; }
  void Clear() { size_ = 0; }
  std::string_view view() const { return {data_, size_}; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  void* mapping_ = nullptr;
  size_t mapped_ = 0;
};

}  // namespace dovrane::platform
