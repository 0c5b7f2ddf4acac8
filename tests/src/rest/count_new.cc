#include "count_new.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define OZR_COUNT_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OZR_COUNT_NEW 0
#endif
#endif
#ifndef OZR_COUNT_NEW
#define OZR_COUNT_NEW 1
#endif

namespace {
bool g_counting = false;
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

bool count_new_available() {
    return OZR_COUNT_NEW != 0;
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
