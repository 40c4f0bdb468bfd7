// A repair's HRESULT in words, as zvscan reports it.
#pragma once

#include <windows.h>

#include <string>

#include "item_record.h"

namespace zvscan {

// "S_OK (0x00000000): repaired", "S_FALSE (0x00000001): not repaired: ...", ...
// requestFile is the file the repair request named (empty for none).
std::string DescribeRepairResult(HRESULT hr, ItemKind kind, const std::wstring& requestFile);

}  // namespace zvscan
