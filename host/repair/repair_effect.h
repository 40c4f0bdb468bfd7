// What an item's repair will change, in words, from the kind of repair its location has: so that a
// dry run and the confirmation show a repair whose effect is wider than the entry itself.
#pragma once

#include <string>

#include "report/item_record.h"

namespace zvscan {

// "deletes value Updater of key HKEY_USERS\...\Run", "clears AppInit_DLLs (also removes X)",
// "restores Shell to explorer.exe (it holds that already: nothing will change)", ...; empty for an
// item without repair. requestFile is the file the request names: the one entry of a list value the
// repair is asked about.
std::string DescribeRepairEffect(const ItemRecord& record, const std::wstring& requestFile);

}  // namespace zvscan
