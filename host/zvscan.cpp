// zvscan: scans through zvatrun.dll exactly as a host application does, prints every item, and
// repairs the items a selection names.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands/cli_options.h"
#include "commands/commands.h"
#include "commands/console.h"
#include "win/text.h"

using namespace zvscan;

int wmain(int argc, wchar_t** argv) {
    // UTF-8 bytes exactly as written: no newline translation, and a console told to expect UTF-8.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    DWORD mode;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) SetConsoleOutputCP(CP_UTF8);

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
    Options options;
    ParseOutcome outcome = ParseCommandLine(args, options);
    if (!outcome.run) {
        Write(outcome.exitCode == kExitSuccess ? stdout : stderr, outcome.text);
        return FinishOutput(true) ? outcome.exitCode : kExitFailure;
    }

    if (!options.outputPath.empty() && !RedirectOutput(options.outputPath)) return kExitFailure;
    WatchInterrupts();
    // The host initialises COM on its thread: shortcut targets and scheduled tasks are COM objects.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = kExitFailure;
    try {
        switch (options.command) {
            case Command::Repair:
                result = RunRepair(options);
                break;
            case Command::Version:
                result = RunVersion(options);
                break;
            case Command::Scan:
            case Command::ViewScan:
                result = RunScan(options);
                break;
            case Command::Diff:
                result = RunDiff(options);
                break;
            case Command::Undo:
                result = RunUndo(options);
                break;
        }
    } catch (const std::exception& error) {
        Write(stderr, std::string("zvscan: ") + error.what() + "\n");
        result = kExitFailure;
    }
    if (SUCCEEDED(com)) CoUninitialize();
    // A listing that is not whole is a failure, whatever the command found.
    if (!FinishOutput(result == kExitSuccess || result == kExitDifferences) && result != kExitInterrupted)
        result = kExitFailure;
    return result;
}
