#include "tests/sweep/live_memory.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define OMR72_SWEEP_OWN_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OMR72_SWEEP_OWN_HEAP 0
#endif
#endif
#ifndef OMR72_SWEEP_OWN_HEAP
#define OMR72_SWEEP_OWN_HEAP 1
#endif

namespace omr72::sweep {
namespace {
size_t liveBytes = 0;  // the sweep runs on one thread per process
}  // namespace

bool LiveHeapCounted() {
  return OMR72_SWEEP_OWN_HEAP != 0;
}

size_t LiveHeapBytes() {
  return liveBytes;
}

}  // namespace omr72::sweep

#if OMR72_SWEEP_OWN_HEAP
namespace {

// Each block carries its size in front, in a header that keeps the payload aligned.
constexpr size_t kHeader = alignof(std::max_align_t);

void* Allocate(size_t size) noexcept {
  void* block = std::malloc(size + kHeader);
  if (!block) return nullptr;
  *static_cast<size_t*>(block) = size;
  omr72::sweep::liveBytes += size;
  return static_cast<char*>(block) + kHeader;
}

void Release(void* p) noexcept {
  if (!p) return;
  void* block = static_cast<char*>(p) - kHeader;
  omr72::sweep::liveBytes -= *static_cast<size_t*>(block);
  std::free(block);
}

void* AllocateOrThrow(size_t size) {
  void* p = Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(size_t size) {
  return AllocateOrThrow(size);
}
void* operator new[](size_t size) {
  return AllocateOrThrow(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  Release(p);
}
void operator delete[](void* p) noexcept {
  Release(p);
}
void operator delete(void* p, size_t) noexcept {
  Release(p);
}
void operator delete[](void* p, size_t) noexcept {
  Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
#endif
