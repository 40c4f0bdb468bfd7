// zvatrun.dll loaded the way every host loads it: LoadLibraryW, then GetProcAddress of the factory.
#pragma once

#include <string>
#include <utility>

#include "zvatrun.h"

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

    // False with Error() set when the library cannot be loaded or has no factory.
    bool Load(const std::wstring& path);
    HRESULT CreateScanner(ComRef<IZVAutorunScanner>& scanner);
    const std::string& Error() const { return error_; }
    // The loaded library's full path and its architecture ("x86", "x86-64"), for the summary.
    std::wstring Path() const;
    const char* Architecture() const;

    // zvatrun.dll in the folder of the running program.
    static std::wstring DefaultPath();

private:
    HMODULE module_ = nullptr;
    PFN_ZVAtrunCreateObject create_ = nullptr;
    std::string error_;
};

}  // namespace zvscan
