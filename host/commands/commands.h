// zvscan's commands, each returning the process's exit code.
#pragma once

#include "commands/cli_options.h"

namespace zvscan {

int RunScan(const Options& options);
int RunVersion(const Options& options);
int RunRepair(const Options& options);
int RunDiff(const Options& options);
int RunUndo(const Options& options);

}  // namespace zvscan
