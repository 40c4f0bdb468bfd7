#include "platform/offline/registry/hive.h"

namespace platform {
namespace offline {

namespace {

struct FileCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};
using OwnedHandle = std::unique_ptr<void, FileCloser>;

class MappedHive final : public HiveBytes {
public:
    MappedHive(const void* view, size_t size) : view_(view), size_(size) {}
    ~MappedHive() override { ::UnmapViewOfFile(view_); }
    const uint8_t* Data() const override { return static_cast<const uint8_t*>(view_); }
    size_t Size() const override { return size_; }

private:
    const void* view_;
    size_t size_;
};

class HiveInMemory final : public HiveBytes {
public:
    explicit HiveInMemory(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    const uint8_t* Data() const override { return bytes_.data(); }
    size_t Size() const override { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<HiveBytes> HiveBytesOf(std::vector<uint8_t> bytes) {
    return std::make_unique<HiveInMemory>(std::move(bytes));
}

std::unique_ptr<HiveBytes> MapHiveFile(const std::wstring& path, DWORD& error) {
    // Read access only, and every kind of sharing: the image's files are never locked against
    // anyone else who reads them, or even writes them.
    OwnedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return nullptr;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) {
        error = ::GetLastError();
        return nullptr;
    }
    if (size.QuadPart == 0 || static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX / 2) {
        error = size.QuadPart == 0 ? ERROR_BAD_FORMAT : ERROR_FILE_TOO_LARGE;
        return nullptr;
    }
    OwnedHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        error = ::GetLastError();
        return nullptr;
    }
    const void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        error = ::GetLastError();
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::make_unique<MappedHive>(view, static_cast<size_t>(size.QuadPart));
}

}  // namespace offline
}  // namespace platform
