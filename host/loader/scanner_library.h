// zvatrun.dll loaded the way every host loads it: LoadLibraryW, then GetProcAddress of the factory.
#pragma once

#include <string>
#include <utility>

#include <vector>

#include "zvatrun.h"
#include "zvoffline.h"

namespace zvscan {

// Owns one reference on an interface.
template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* p) : p_(p) {}
    ~ComRef() { Reset(); }
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Where a function stores a new reference; the old one is released first.
    T** Put() {
        Reset();
        return &p_;
    }
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

// Every scanner and item must be released before this object goes: it frees the library.
class ScannerLibrary {
public:
    ScannerLibrary() = default;
    ~ScannerLibrary();
    ScannerLibrary(const ScannerLibrary&) = delete;
    ScannerLibrary& operator=(const ScannerLibrary&) = delete;

    // False with Error() set when the library cannot be loaded or has no factory. An offline
    // library (zvoffline.dll) scans the image its scanner is created for.
    bool Load(const std::wstring& path);
    bool LoadOffline(const std::wstring& path);
    HRESULT CreateScanner(ComRef<IZVAutorunScanner>& scanner);
    // The offline scanner of the image at root, and what it says about the image.
    HRESULT CreateOfflineScanner(const std::wstring& root, const std::wstring& user,
                                 ComRef<IZVAutorunScanner>& scanner);
    const std::vector<std::wstring>& ImageNotes() const { return imageNotes_; }
    const std::wstring& ImageUser() const { return imageUser_; }
    const std::string& Error() const { return error_; }
    // The loaded library's full path and its architecture ("x86", "x86-64"), for the summary.
    std::wstring Path() const;
    const char* Architecture() const;

    // zvatrun.dll (or zvoffline.dll) in the folder of the running program.
    static std::wstring DefaultPath(const wchar_t* name = L"zvatrun.dll");

private:
    bool Load(const std::wstring& path, const char* factory);

    HMODULE module_ = nullptr;
    PFN_ZVAtrunCreateObject create_ = nullptr;
    PFN_ZVAtrunCreateOfflineObject createOffline_ = nullptr;
    std::vector<std::wstring> imageNotes_;
    std::wstring imageUser_;
    std::string error_;
};

}  // namespace zvscan
