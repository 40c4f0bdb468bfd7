// A progress line for a scan that takes a while, on a terminal only, erased when the scan ends.
#pragma once

#include <functional>
#include <string>

namespace zvscan {

class Progress {
public:
    // write receives what goes to stderr; nothing is written when enabled is false.
    Progress(bool enabled, std::function<void(const std::string&)> write);
    // stderr is a console: redirected output never carries progress.
    static bool StderrIsTerminal();

    // seconds: since the scan started. Shown after about a second, then at most ten times a second.
    void Update(double seconds, unsigned long items, unsigned long rows, const std::string& row);
    // Erases the line, if one was shown.
    void End();

private:
    bool enabled_;
    std::function<void(const std::string&)> write_;
    double lastShown_ = -1;
    size_t width_ = 0;  // of the line on the terminal
};

}  // namespace zvscan
