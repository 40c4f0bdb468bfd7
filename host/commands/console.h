// zvscan's console: ordered and checked writes, the command's output file, the progress line, and
// Ctrl-C.
#pragma once

#include <cstdio>
#include <string>

#include "report/progress.h"

namespace zvscan {

// Text for stdout goes to the command's output: stdout, or the --output file. What goes to stderr
// comes after what stdout holds so far, and the progress line shown (if any) is erased first: a
// terminal shows everything in order. False once a write of the output has failed; later writes of
// the output are dropped and FinishOutput reports the failure.
bool Write(std::FILE* stream, const std::string& text);

// From now on the output goes to a temporary file beside `path`, which takes its name in
// FinishOutput. False, after saying why on stderr, when that file cannot be created.
bool RedirectOutput(const std::wstring& path);
// Flushes the output to disk; with --output puts the file in place when `keep`, and removes it
// otherwise. False, after saying on stderr why, when the output is not whole.
bool FinishOutput(bool keep);
bool OutputFailed();
// Hands what stdout holds so far to the system, so that a reader sees each row as it is settled;
// false once a write of the output has failed.
bool FlushOutput();

// The width of the terminal stdout writes to; 0 when the output is no terminal.
size_t OutputWidth();

// The progress line of the scan under way, erased before anything else is written; null for none.
void ShowProgress(Progress* progress);

// From now on Ctrl-C and Ctrl-Break set Interrupted(): the scan and the repairs stop at the next item.
void WatchInterrupts();
bool Interrupted();
// Ctrl-C at a prompt ends the read: whether it was Ctrl-C or the end of the input is known once the
// handler, which runs on a thread of its own, has had a moment to set the flag.
bool InterruptedWhileReading();

}  // namespace zvscan
