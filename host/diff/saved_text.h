// Texts of saved scans as the host keeps them. A saved scan writes an unpaired UTF-16 surrogate as its
// JSON escape ("\ud800"), which nlohmann's parser refuses. Before parsing, each such escape becomes
// U+FFFF followed by the surrogate's four lower-case hex digits, and a U+FFFF of the text itself is
// doubled: texts that differ only in a lone surrogate stay different, and nothing else changes.
#pragma once

#include <string>
#include <string_view>

namespace zvscan {

// The JSON text with its unpaired surrogate escapes written as above, ready for nlohmann's parser.
std::string KeepLoneSurrogates(std::string_view json);

// JSON text dumped from parsed values, with each kept surrogate written as its escape again.
std::string EscapeLoneSurrogates(std::string_view json);

// A kept text as UTF-8 that can be printed: a lone surrogate becomes the visible text of its escape
// ("\ud800"), as the scan's own CSV writes it.
std::string PrintableText(std::string_view text);

// A kept text as the UTF-16 it was written from, each lone surrogate put back.
std::wstring KeptTextToWide(std::string_view text);

}  // namespace zvscan
