// The shell link object of the simulated machine: the read-only shell link over the shortcuts the
// backend holds, counted as a live COM object of the backend.
#include "platform/offline/shell_link.h"
#include "platform/sim_backend.h"

namespace platform {

HRESULT CreateSimulatedShellLink(SimulatedBackend& backend, REFIID iid, void** object) {
    return offline::CreateReadOnlyShellLink(
        [&backend](LPCOLESTR path, std::wstring& target) { return backend.LoadShortcut(path, target); },
        backend.ComObjectCounter(), iid, object);
}

}  // namespace platform
