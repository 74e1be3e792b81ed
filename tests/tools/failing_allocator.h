/*
 * failing_allocator.h -- malloc, calloc, realloc and free for the
 * allocation-failure tests (header only; include it in exactly one source
 * of a program: the preloaded shim fail_alloc.cpp, the in-process sweep
 * test_alloc_failure.cpp).
 *
 * An allocation fails as an exhausted heap does (null, errno ENOMEM)
 * whenever the including program's vabo_alloc::fails_now() says so; every
 * other call goes to glibc's own functions, so no dlsym is needed and
 * memory from either side may be freed by the other.  The program hears of
 * each block obtained (taken) and of the bytes of each block given back
 * (released), in usable bytes.  A realloc to size 0 (a release) is never
 * made to fail.
 */
#ifndef VABO_FAILING_ALLOCATOR_H
#define VABO_FAILING_ALLOCATOR_H

#include <malloc.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib> /* the declarations these definitions must match */

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
}

namespace vabo_alloc {
/* Defined by the including program. */
bool fails_now();
void taken(void *block);
void released(size_t usable_bytes);

inline void *obtained(void *block)
{
  if (block) taken(block);
  return block;
}
} // namespace vabo_alloc

extern "C" {

void *malloc(size_t size)
{
  if (vabo_alloc::fails_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  return vabo_alloc::obtained(__libc_malloc(size));
}

void *calloc(size_t count, size_t size)
{
  if (vabo_alloc::fails_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  return vabo_alloc::obtained(__libc_calloc(count, size));
}

void *realloc(void *block, size_t size)
{
  if (size > 0 && vabo_alloc::fails_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  const size_t old = block ? malloc_usable_size(block) : 0;
  void *moved = __libc_realloc(block, size);
  if (moved || size == 0) vabo_alloc::released(old);
  return vabo_alloc::obtained(moved);
}

void free(void *block)
{
  if (block) vabo_alloc::released(malloc_usable_size(block));
  __libc_free(block);
}

} // extern "C"

#endif
