#include "count_new.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define OZR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OZR_ASAN 1
#endif
#endif

#ifdef OZR_ASAN
// From the sanitizers' allocator interface (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));
#define OZR_COUNT_NEW 0
#else
#define OZR_COUNT_NEW 1
#endif

namespace {
// Only the thread that started counting counts: the daemon's other threads (the D-Bus
// service thread) allocate on their own schedule.
thread_local bool g_counting = false;
size_t g_news = 0;
}  // namespace

#if OZR_COUNT_NEW

void* operator new(size_t n) {
    if (g_counting)
        ++g_news;
    void* p = std::malloc(n ? n : 1);
    if (!p)
        std::abort();
    return p;
}
void* operator new[](size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
#endif

#ifdef OZR_ASAN
namespace {
// AddressSanitizer brings its own operator new; its allocation hook sees every
// allocation instead. The document pool's chunks (64 KiB) are malloc'd too, so
// only the small allocations a string object or a list would make are counted.
void on_malloc(const volatile void*, size_t size) {
    if (g_counting && size < 4096)
        ++g_news;
}
void on_free(const volatile void*) {}
bool g_hook_installed = false;
}  // namespace
#endif

bool count_new_available() {
#ifdef OZR_ASAN
    return g_hook_installed ||
           (g_hook_installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free) != 0);
#else
    return true;
#endif
}
void count_new_reset() {
    g_news = 0;
}
void count_new_start() {
    g_counting = true;
}
void count_new_stop() {
    g_counting = false;
}
size_t count_new_calls() {
    return g_news;
}
