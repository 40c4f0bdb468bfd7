#include "platform/platform.h"

namespace platform {

namespace {
// Per thread, so that a backend installed for one object's call never answers another thread's.
thread_local Backend* g_current = nullptr;
}

Backend& Current() { return g_current ? *g_current : Win32(); }

ScopedBackend::ScopedBackend(Backend& backend) : previous_(g_current) { g_current = &backend; }

ScopedBackend::~ScopedBackend() { g_current = previous_; }

BackendScope::BackendScope(Backend* backend) : previous_(g_current), installed_(backend != nullptr) {
    if (installed_) g_current = backend;
}

BackendScope::~BackendScope() {
    if (installed_) g_current = previous_;
}

}  // namespace platform
