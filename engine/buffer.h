// Buffer<T>: an aligned, non-throwing array for the engine's large records.
// Allocation failures come back as a false result so that the caller can print
// its own message; elements are not initialised (the set-up clears them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tavro {

template <class T>
class Buffer {
  static_assert(std::is_trivially_copyable_v<T>, "Buffer holds plain records only");

 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& o) noexcept : ptr_(std::exchange(o.ptr_, nullptr)), n_(std::exchange(o.n_, 0)) {}
  Buffer& operator=(Buffer&& o) noexcept {
    if (this != &o) {
      release();
      ptr_ = std::exchange(o.ptr_, nullptr);
      n_ = std::exchange(o.n_, 0);
    }
    return *this;
  }
  ~Buffer() { release(); }

  // Releases the old contents and allocates n elements (64-byte aligned).
  // n = 0 succeeds with an empty buffer. Returns false when memory is short or
  // the byte count overflows; the buffer is then empty. Arrays of kHugeBytes
  // and more start on a 2 MiB boundary and ask for huge pages: the set-up
  // touches each page once instead of 512 times, and the step misses the
  // address cache less often.
  bool allocate(std::size_t n) {
    release();
    if (n == 0) return true;
    if (n > (SIZE_MAX - kHugeAlign) / sizeof(T)) return false;
    const bool huge = n * sizeof(T) >= kHugeBytes;
    const std::size_t align = huge ? kHugeAlign : 64;
    std::size_t bytes = (n * sizeof(T) + align - 1) / align * align;
    void* p = std::aligned_alloc(align, bytes);
    if (!p) return false;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (huge) madvise(p, bytes, MADV_HUGEPAGE);
#endif
    ptr_ = static_cast<T*>(p);
    n_ = n;
    return true;
  }
  void release() {
    std::free(ptr_);
    ptr_ = nullptr;
    n_ = 0;
  }

  T* data() { return ptr_; }
  const T* data() const { return ptr_; }
  std::size_t size() const { return n_; }
  std::size_t bytes() const { return n_ * sizeof(T); }
  bool empty() const { return n_ == 0; }
  T& operator[](std::size_t i) { return ptr_[i]; }
  const T& operator[](std::size_t i) const { return ptr_[i]; }
  T* begin() { return ptr_; }
  T* end() { return ptr_ + n_; }
  const T* begin() const { return ptr_; }
  const T* end() const { return ptr_ + n_; }

 private:
  static constexpr std::size_t kHugeAlign = std::size_t{2} << 20;
  static constexpr std::size_t kHugeBytes = std::size_t{8} << 20;
  T* ptr_ = nullptr;
  std::size_t n_ = 0;
};

}  // namespace tavro
