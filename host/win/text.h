// Text conversions of the host: UTF-16 from the library, UTF-8 on the command line and the output.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace zvscan {

// Unpaired surrogates become U+FFFD: the output is always valid UTF-8. For messages; what tells
// entries apart uses Wtf8 or VisibleUtf8.
std::string Utf8(const std::wstring& text);
std::string Utf8(const wchar_t* text);  // null counts as empty
std::wstring Wide(const std::string& utf8);
// UTF-8 of well-formed text, and an unpaired surrogate as the three bytes UTF-8 would give its code
// point (WTF-8): two texts that differ in an unpaired surrogate stay different.
std::string Wtf8(const std::wstring& text);
// Back from WTF-8 (and so from UTF-8): an encoded surrogate becomes that code unit; a byte that
// starts no character becomes U+FFFD.
std::wstring FromWtf8(const std::string& text);
// UTF-8, with an unpaired surrogate written as its escape ("\ud800"): valid UTF-8 that shows the
// code unit instead of hiding it behind U+FFFD.
std::string VisibleUtf8(const std::wstring& text);

// "0x" and eight upper-case hex digits.
std::string Hex32(unsigned long value);
// Hex digits with or without "0x", at most eight; nothing for anything else.
std::optional<unsigned long> ParseHex32(const std::string& text);

// The system's own text for an error code, on one line without its final full stop; empty when it has
// none. Its first insert ("%1", most often a file name) becomes `insert`; inserts without a value go.
std::string SystemMessage(DWORD code, const std::wstring& insert = {});

// The text in upper case, as the registry and the file system compare names without regard to case.
std::wstring Folded(const std::wstring& text);

// Ordinal comparison without regard to case, as the registry compares names.
bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b);

}  // namespace zvscan
