#include "report/progress.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace zvscan {

namespace {

constexpr double kDelay = 1.0;
constexpr double kInterval = 0.1;
// Narrower than the narrowest console, so that the line never wraps and "\r" always returns to its start.
constexpr size_t kMaxWidth = 79;

// Cuts UTF-8 text to at most width characters, never inside one.
std::string Cut(const std::string& text, size_t width) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (characters++ == width) return text.substr(0, i);
    }
    return text;
}

size_t Characters(const std::string& text) {
    size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

}  // namespace

Progress::Progress(bool enabled, std::function<void(const std::string&)> write)
    : enabled_(enabled), write_(std::move(write)) {}

bool Progress::StderrIsTerminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void Progress::Update(double seconds, unsigned long items, unsigned long rows, const std::string& row) {
    if (!enabled_ || seconds < kDelay || (lastShown_ >= 0 && seconds - lastShown_ < kInterval)) return;
    lastShown_ = seconds;
    std::string line = Cut("scanning: " + std::to_string(items) + (items == 1 ? " item" : " items") + " from " +
                               std::to_string(rows) + (rows == 1 ? " row" : " rows") + "; " + row,
                           kMaxWidth);
    size_t width = Characters(line);
    if (width < width_) line += std::string(width_ - width, ' ');
    width_ = std::max(width_, width);
    write_("\r" + line);
}

void Progress::End() {
    if (width_ == 0) return;
    write_("\r" + std::string(width_, ' ') + "\r");
    width_ = 0;
}

}  // namespace zvscan
