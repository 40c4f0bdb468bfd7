// The zvscan of the other architecture, which sees the other registry view of 64-bit Windows: the
// 32-bit build for the WOW64 view when this one is 64-bit, the 64-bit build for the native view when
// this one runs under WOW64.
#pragma once

#include <string>

namespace zvscan {

// The view the other build sees: "wow64" from a 64-bit zvscan, "native" from a 32-bit one.
const char* OtherView();

// The other build's zvscan.exe: `named` when given, else the first that exists of, beside this
// program's folder, a release's sibling folder (x86\ for the 32-bit build, x64\ for the 64-bit one)
// and a build tree's sibling (build\win32\bin, build\win64\bin). Empty, with `problem` saying why,
// when there is none or it is not of the other architecture; `standIn` takes `named` of this
// architecture as well.
std::wstring FindOtherBuild(const std::wstring& named, bool standIn, std::string& problem);

// The machine of a PE file: "x86", "x86-64", or empty when it is no PE image.
std::string ImageArchitecture(const std::wstring& path);

}  // namespace zvscan
