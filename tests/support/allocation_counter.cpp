#include "support/allocation_counter.h"

#include <atomic>
#include <cstddef>

namespace {

// Initial-exec TLS: reading it never allocates, which matters inside malloc itself.
__thread bool thread_is_marked __attribute__((tls_model("initial-exec"))) = false;
std::atomic<long> marked_allocations{0};

inline void note_allocation()
{
    if (thread_is_marked) marked_allocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)

// Provided by the sanitizer runtimes of both GCC and Clang; GCC ships no header for it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(void const volatile*, size_t),
                                                         void (*free_hook)(void const volatile*));

namespace {

struct HookInstaller {
    HookInstaller()
    {
        __sanitizer_install_malloc_and_free_hooks([](void const volatile*, size_t) { note_allocation(); },
                                                  [](void const volatile*) {});
    }
} const hook_installer;

} // namespace

#else

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size)
{
    return note_allocation(), __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    return note_allocation(), __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size)
{
    return note_allocation(), __libc_realloc(pointer, size);
}
void free(void* pointer)
{
    __libc_free(pointer);
}
void* memalign(size_t alignment, size_t size)
{
    return note_allocation(), __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size)
{
    return note_allocation(), __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size)
{
    note_allocation();
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22; // EINVAL
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr && size != 0) return 12; // ENOMEM
    *out = pointer;
    return 0;
}
}

#endif

namespace corvella::test {

AllocationCounter::AllocationCounter() : previous_(thread_is_marked)
{
    marked_allocations.store(0, std::memory_order_relaxed);
    thread_is_marked = true;
}

AllocationCounter::~AllocationCounter()
{
    thread_is_marked = previous_;
}

long AllocationCounter::count() const
{
    return marked_allocations.load(std::memory_order_relaxed);
}

} // namespace corvella::test
