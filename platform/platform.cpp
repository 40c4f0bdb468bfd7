#include "platform/platform.h"

namespace platform {

namespace {
Backend* g_current = nullptr;
}

Backend& Current() { return g_current ? *g_current : Win32(); }

ScopedBackend::ScopedBackend(Backend& backend) : previous_(g_current) { g_current = &backend; }

ScopedBackend::~ScopedBackend() { g_current = previous_; }

}  // namespace platform
