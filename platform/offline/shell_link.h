// Shortcuts of the image, read from their bytes (the Shell Link binary format), and the shell link
// object the offline backend hands out for them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace offline {

class OfflineBackend;

// The target the shell's GetPath(SLGP_RAWPATH) gives for a shortcut of these bytes, whose own path is
// linkPath: the environment-variable target as written, else the link info's local base path with
// its common suffix, else the file-system items of the ID list, else the relative path taken from
// the shortcut's folder. False when the bytes are no shortcut or name no target; a damaged part is
// passed over for the next one.
bool ReadShellLinkTarget(const uint8_t* data, size_t size, const std::wstring& linkPath, std::wstring& target);

// A shell link object (IShellLinkW, IPersistFile) that loads shortcuts from the image; null when it
// cannot be made.
HRESULT CreateOfflineShellLink(OfflineBackend& backend, REFIID iid, void** object);

}  // namespace offline
}  // namespace platform
