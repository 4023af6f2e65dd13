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
  Buffer(Buffer&& o) noexcept
      : base_(std::exchange(o.base_, nullptr)),
        ptr_(std::exchange(o.ptr_, nullptr)),
        n_(std::exchange(o.n_, 0)) {}
  Buffer& operator=(Buffer&& o) noexcept {
    if (this != &o) {
      release();
      base_ = std::exchange(o.base_, nullptr);
      ptr_ = std::exchange(o.ptr_, nullptr);
      n_ = std::exchange(o.n_, 0);
    }
    return *this;
  }
  ~Buffer() { release(); }

  // Releases the old contents and allocates n elements (64-byte aligned).
  // n = 0 succeeds with an empty buffer. Returns false when memory is short or
  // the byte count overflows; the buffer is then empty. Arrays of kHugeBytes
  // and more start on a 2 MiB boundary and, with hugePages, ask for huge
  // pages: the step misses the address cache less often. Where fresh memory
  // is expensive to hand out (a virtual machine whose host backs guest pages
  // on first touch) huge pages are far slower to fault in than small ones,
  // so arrays that a set-up must fill fast ask for small pages.
  bool allocate(std::size_t n, bool hugePages = true) {
    release();
    if (n == 0) return true;
    if (n > (SIZE_MAX - kHugeAlign) / sizeof(T)) return false;
    const bool huge = hugePages && n * sizeof(T) >= kHugeBytes;
    const std::size_t align = huge ? kHugeAlign : 64;
    std::size_t bytes = (n * sizeof(T) + align - 1) / align * align;
    void* p = std::aligned_alloc(align, bytes);
    if (!p) return false;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (huge) madvise(p, bytes, MADV_HUGEPAGE);
#endif
    base_ = p;
    ptr_ = static_cast<T*>(p);
    n_ = n;
    return true;
  }
  // As allocate (small pages), with every element zero. A large array comes
  // zeroed from the system, so its pages are neither written here nor given
  // memory until something other than zero is written to them.
  bool allocateZeroed(std::size_t n) {
    release();
    if (n == 0) return true;
    if (n > (SIZE_MAX - kZeroAlign) / sizeof(T)) return false;
    void* p = std::calloc(n * sizeof(T) + kZeroAlign, 1);
    if (!p) return false;
    const std::uintptr_t at =
        (reinterpret_cast<std::uintptr_t>(p) + kZeroAlign - 1) & ~(kZeroAlign - 1);
    base_ = p;
    ptr_ = reinterpret_cast<T*>(at);
    n_ = n;
    return true;
  }
  // Maps the pages of elements [from, from + count) writable ahead of their
  // first write, in one call instead of one fault per page (only whole pages
  // inside the range; nothing where the system lacks the call). The contents
  // stay as they are. Callers split a large array among threads.
  void prefault(std::size_t from, std::size_t count) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    advise(from, count, MADV_POPULATE_WRITE);
#else
    (void)from;
    (void)count;
#endif
  }
  // Hands the pages wholly inside elements [from, from + count) back to the
  // system: they read zero when next touched, and take no memory until
  // written. The contents of those elements are lost; callers write every
  // element they need again (nothing where the system lacks the call).
  void discardPages(std::size_t from, std::size_t count) {
#if defined(__linux__) && defined(MADV_DONTNEED)
    advise(from, count, MADV_DONTNEED);
#else
    (void)from;
    (void)count;
#endif
  }
  void release() {
    std::free(base_);
    base_ = nullptr;
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
#if defined(__linux__)
  // madvise over the whole pages inside elements [from, from + count).
  void advise(std::size_t from, std::size_t count, int advice) {
    if (from >= n_ || count == 0) return;
    if (count > n_ - from) count = n_ - from;
    constexpr std::uintptr_t kPage = 4096;
    const auto begin = reinterpret_cast<std::uintptr_t>(ptr_ + from);
    const auto end = reinterpret_cast<std::uintptr_t>(ptr_ + from + count);
    const std::uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t last = end & ~(kPage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, advice);
  }
#endif
  static constexpr std::size_t kHugeAlign = std::size_t{2} << 20;
  static constexpr std::size_t kHugeBytes = std::size_t{8} << 20;
  static constexpr std::size_t kZeroAlign = 64;
  void* base_ = nullptr;  // what the allocator gave (ptr_ or below it)
  T* ptr_ = nullptr;
  std::size_t n_ = 0;
};

}  // namespace tavro
