// The shell's MUI cache: every string value of the cache key, reported with its name (a program's
// path) as the command line and its data (the program's display name) as the value.
#include <string>

#include "locations/routines.h"
#include "scanner/autorun_context.h"
#include "winhelpers/reg_find.h"

namespace Tessel {

HRESULT ScanMuiCache(IAutorunContext* context, const LocationRow* row) {
    std::wstring path = BuildLocationPath(*row);
    Basalt::CWinRegValueFind find;
    for (bool more = find.FindFirstValue(row->root, path, true); more; more = find.Advance()) {
        std::wstring text;
        if (find.ReadString(text) == ERROR_SUCCESS)
            context->AddRegValueNameCommand(row, row->root, path.c_str(), find.CurrentName(), text.c_str());
    }
    return S_OK;
}

}  // namespace Tessel
