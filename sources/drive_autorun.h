// The media check the drive autorun scan makes before touching a drive's file system.
#pragma once

namespace Tessel {

// True when the volume of the drive (letter such as L'C') opens and reports accessible media.
bool IsDriveMediaReady(wchar_t letter);

}  // namespace Tessel
