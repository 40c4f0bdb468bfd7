// Services and drivers: every subkey of the service database becomes one item, whatever it holds.
// Which of its values name files is decided by the item's construction. No item shows a service's
// display name or description, so they are not read.
#include "locations/routines.h"
#include "scanner/autorun_context.h"
#include "winhelpers/service_find.h"

namespace Tessel {

HRESULT ScanServices(IAutorunContext* context, const LocationRow* row) {
    Basalt::CWinServiceFind find;
    for (bool more = find.FindFirstKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services"); more;
         more = find.Advance()) {
        find.ReadServiceInfo();
        context->AddService(row, find.ServiceName(), find.Type(), find.Start(), find.ImagePath().c_str(),
                            find.ServiceDll().c_str(), L"", L"",
                            find.Application().c_str());
    }
    return S_OK;
}

}  // namespace Tessel
