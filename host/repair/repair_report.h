// A repair's HRESULT in words, as zvscan reports it, and what a dry run can tell of it beforehand.
#pragma once

#include <windows.h>

#include <string>

#include "report/item_record.h"

namespace zvscan {

// "S_OK (0x00000000): repaired", "S_FALSE (0x00000001): not repaired: ...", ...
// requestFile is the file the repair request named (empty for none).
std::string DescribeRepairResult(HRESULT hr, ItemKind kind, const std::wstring& requestFile);

// True when the path names one of the system's host programs in its system folder: the rule by
// which the library refuses a repair request, from the list the library itself uses.
bool IsKnownHostProgram(const std::wstring& path);

// What Repair will answer, as far as the host can know before calling it.
enum class RepairVerdict { WouldRepair, NoRepair, Refused };
RepairVerdict PredictRepair(const ItemRecord& record, const std::wstring& requestFile);
// "would repair", "not repaired: ..." in the words of DescribeRepairResult.
std::string DescribeVerdict(RepairVerdict verdict, const std::wstring& requestFile);

}  // namespace zvscan
