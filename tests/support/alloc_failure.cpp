#include "support/alloc_failure.h"

#include <cstdlib>
#include <new>

namespace test {

namespace {
bool g_armed = false;
bool g_failed = false;
size_t g_remaining = 0;
}  // namespace

void FailAllocationAfter(size_t count) {
    g_remaining = count;
    g_failed = false;
    g_armed = true;
}

void Disarm() { g_armed = false; }

bool AllocationFailed() { return g_failed; }

}  // namespace test

namespace {

void* Allocate(size_t size) {
    if (test::g_armed) {
        if (test::g_remaining == 0) {
            test::g_failed = true;
            return nullptr;
        }
        --test::g_remaining;
    }
    return std::malloc(size ? size : 1);
}

}  // namespace

void* operator new(size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
