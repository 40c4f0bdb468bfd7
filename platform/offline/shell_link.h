// Shortcuts of the image, read from their bytes (the Shell Link binary format), and the shell link
// object the offline backend hands out for them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Reads the target of the shortcut at path: S_OK with the target, or the failure Load reports.
using ShortcutLoader = std::function<HRESULT(LPCOLESTR path, std::wstring& target)>;

// A shell link object (IShellLinkW, IPersistFile) whose Load reads a shortcut's target through load,
// and which changes nothing; objectCount, when given, is called with +1 when it is made and -1 when
// it dies. The simulated machine's shell link is one too.
HRESULT CreateReadOnlyShellLink(ShortcutLoader load, std::function<void(int)> objectCount, REFIID iid, void** object);

// The shell link object of an image: shortcuts are read from the image's files.
HRESULT CreateOfflineShellLink(OfflineBackend& backend, REFIID iid, void** object);

}  // namespace offline
}  // namespace platform
