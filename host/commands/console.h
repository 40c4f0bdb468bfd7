// zvscan's console: ordered writes to stdout and stderr, the progress line, and Ctrl-C.
#pragma once

#include <cstdio>
#include <string>

#include "report/progress.h"

namespace zvscan {

// What goes to stderr comes after what stdout holds so far, and the progress line shown (if any)
// is erased first: a terminal shows everything in order.
void Write(std::FILE* stream, const std::string& text);

// The progress line of the scan under way, erased before anything else is written; null for none.
void ShowProgress(Progress* progress);

// From now on Ctrl-C and Ctrl-Break set Interrupted(): the scan and the repairs stop at the next item.
void WatchInterrupts();
bool Interrupted();
// Ctrl-C at a prompt ends the read: whether it was Ctrl-C or the end of the input is known once the
// handler, which runs on a thread of its own, has had a moment to set the flag.
bool InterruptedWhileReading();

}  // namespace zvscan
