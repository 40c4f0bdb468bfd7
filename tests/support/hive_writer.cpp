#include "support/hive_writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <functional>

namespace test {

namespace {

constexpr uint32_t kBigDataSegment = 16344;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    uint16_t x = static_cast<uint16_t>(v);
    std::memcpy(&b[at], &x, 2);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

std::wstring Upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

class Writer {
public:
    explicit Writer(const HiveLayout& layout) : layout_(layout) { bins_.resize(32); }

    // A cell of size bytes of data, zeroed; returns its offset from the first bin.
    uint32_t Alloc(size_t size) {
        size_t total = (size + 4 + 7) & ~size_t(7);
        uint32_t offset = static_cast<uint32_t>(bins_.size());
        bins_.resize(bins_.size() + total, 0);
        Put32(bins_, offset, static_cast<uint32_t>(-static_cast<int32_t>(total)));
        return offset;
    }
    uint8_t* At(uint32_t cell) { return &bins_[cell + 4]; }

    bool Compressible(const std::wstring& name) const {
        return layout_.asciiNames && std::all_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x100; });
    }
    std::vector<uint8_t> NameBytes(const std::wstring& name, bool compressed) const {
        std::vector<uint8_t> out;
        for (wchar_t c : name) {
            out.push_back(static_cast<uint8_t>(c));
            if (!compressed) out.push_back(static_cast<uint8_t>(c >> 8));
        }
        return out;
    }

    uint32_t Data(const std::vector<uint8_t>& data) {
        if (data.size() > kBigDataSegment && layout_.minor >= 4) {
            uint32_t segments = static_cast<uint32_t>((data.size() + kBigDataSegment - 1) / kBigDataSegment);
            std::vector<uint32_t> cells;
            for (uint32_t i = 0; i < segments; ++i) {
                size_t part = std::min<size_t>(kBigDataSegment, data.size() - i * kBigDataSegment);
                uint32_t cell = Alloc(part);
                std::memcpy(At(cell), data.data() + i * kBigDataSegment, part);
                cells.push_back(cell);
            }
            uint32_t list = Alloc(4 * segments);
            for (uint32_t i = 0; i < segments; ++i) Put32(bins_, list + 4 + 4 * i, cells[i]);
            uint32_t db = Alloc(8);
            std::memcpy(At(db), "db", 2);
            Put16(bins_, db + 4 + 2, segments);
            Put32(bins_, db + 4 + 4, list);
            return db;
        }
        uint32_t cell = Alloc(data.size());
        std::memcpy(At(cell), data.data(), data.size());
        return cell;
    }

    uint32_t Value(const HiveValue& value) {
        bool compressed = Compressible(value.name);
        auto name = NameBytes(value.name, compressed);
        uint32_t dataCell = 0;
        uint32_t size = static_cast<uint32_t>(value.data.size());
        uint8_t resident[4] = {};
        bool inField = size <= 4;
        if (inField) std::memcpy(resident, value.data.data(), size);
        else dataCell = Data(value.data);
        uint32_t vk = Alloc(20 + name.size());
        uint8_t* p = At(vk);
        std::memcpy(p, "vk", 2);
        uint16_t nameLength = static_cast<uint16_t>(name.size());
        std::memcpy(p + 2, &nameLength, 2);
        uint32_t stored = inField ? (size | 0x80000000u) : size;
        std::memcpy(p + 4, &stored, 4);
        if (inField) std::memcpy(p + 8, resident, 4);
        else std::memcpy(p + 8, &dataCell, 4);
        std::memcpy(p + 12, &value.type, 4);
        uint16_t flags = compressed ? 1 : 0;
        std::memcpy(p + 16, &flags, 2);
        std::memcpy(p + 20, name.data(), name.size());
        return vk;
    }

    uint32_t Leaf(ListForm form, const std::vector<std::pair<uint32_t, std::wstring>>& keys) {
        bool wide = form != ListForm::Li && form != ListForm::RiOfLi;
        uint32_t list = Alloc(4 + keys.size() * (wide ? 8 : 4));
        uint8_t* p = At(list);
        std::memcpy(p, form == ListForm::Lf ? "lf" : wide ? "lh" : "li", 2);
        uint16_t count = static_cast<uint16_t>(keys.size());
        std::memcpy(p + 2, &count, 2);
        for (size_t i = 0; i < keys.size(); ++i) {
            if (!wide) {
                Put32(bins_, list + 4 + 4 + 4 * i, keys[i].first);
                continue;
            }
            Put32(bins_, list + 4 + 4 + 8 * i, keys[i].first);
            uint32_t hint = 0;
            if (form == ListForm::Lf) {
                for (size_t c = 0; c < 4 && c < keys[i].second.size(); ++c)
                    hint |= static_cast<uint32_t>(keys[i].second[c] & 0xFF) << (8 * c);
            } else {
                for (wchar_t c : Upper(keys[i].second)) hint = hint * 37 + c;
            }
            Put32(bins_, list + 4 + 8 + 8 * i, hint);
        }
        return list;
    }

    uint32_t Key(const HiveKey& key, uint32_t parent, bool root) {
        bool compressed = Compressible(key.name);
        auto name = NameBytes(key.name, compressed);
        uint32_t nk = Alloc(76 + name.size());

        std::vector<uint32_t> values;
        for (const auto& value : key.values) values.push_back(Value(value));
        uint32_t valueList = 0xFFFFFFFFu;
        if (!values.empty()) {
            valueList = Alloc(4 * values.size());
            for (size_t i = 0; i < values.size(); ++i) Put32(bins_, valueList + 4 + 4 * i, values[i]);
        }

        std::vector<const HiveKey*> sorted;
        for (const auto& subkey : key.subkeys) sorted.push_back(&subkey);
        std::sort(sorted.begin(), sorted.end(),
                  [](const HiveKey* a, const HiveKey* b) { return Upper(a->name) < Upper(b->name); });
        std::vector<std::pair<uint32_t, std::wstring>> children;
        for (const HiveKey* subkey : sorted) children.emplace_back(Key(*subkey, nk, false), subkey->name);
        uint32_t subkeyList = 0xFFFFFFFFu;
        if (!children.empty()) {
            if (layout_.form == ListForm::RiOfLh || layout_.form == ListForm::RiOfLi) {
                std::vector<uint32_t> leaves;
                for (size_t i = 0; i < children.size(); i += layout_.leafSize) {
                    std::vector<std::pair<uint32_t, std::wstring>> part(
                        children.begin() + i, children.begin() + std::min(children.size(), i + layout_.leafSize));
                    leaves.push_back(Leaf(layout_.form, part));
                }
                subkeyList = Alloc(4 + 4 * leaves.size());
                std::memcpy(At(subkeyList), "ri", 2);
                Put16(bins_, subkeyList + 4 + 2, static_cast<uint32_t>(leaves.size()));
                for (size_t i = 0; i < leaves.size(); ++i) Put32(bins_, subkeyList + 8 + 4 * i, leaves[i]);
            } else {
                subkeyList = Leaf(layout_.form, children);
            }
        }
        uint32_t classCell = 0xFFFFFFFFu;
        if (!key.className.empty()) {
            auto bytes = NameBytes(key.className, false);
            classCell = Alloc(bytes.size());
            std::memcpy(At(classCell), bytes.data(), bytes.size());
        }

        uint8_t* p = At(nk);
        std::memcpy(p, "nk", 2);
        uint16_t flags = static_cast<uint16_t>((root ? 0x2C : 0) | (compressed ? 0x20 : 0));
        std::memcpy(p + 2, &flags, 2);
        std::memcpy(p + 4, &layout_.lastWritten, 8);
        Put32(bins_, nk + 4 + 16, root ? 0 : parent);
        Put32(bins_, nk + 4 + 20, static_cast<uint32_t>(children.size()));
        Put32(bins_, nk + 4 + 28, subkeyList);
        Put32(bins_, nk + 4 + 32, 0xFFFFFFFFu);
        Put32(bins_, nk + 4 + 36, static_cast<uint32_t>(values.size()));
        Put32(bins_, nk + 4 + 40, valueList);
        Put32(bins_, nk + 4 + 44, security_);
        Put32(bins_, nk + 4 + 48, classCell);
        Put16(bins_, nk + 4 + 72, static_cast<uint32_t>(name.size()));
        Put16(bins_, nk + 4 + 74, static_cast<uint32_t>(key.className.size() * 2));
        std::memcpy(p + 76, name.data(), name.size());
        return nk;
    }

    std::vector<uint8_t> Finish(const HiveKey& root) {
        static const uint8_t descriptor[] = {1, 0, 4, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        security_ = Alloc(20 + sizeof descriptor);
        uint8_t* sk = At(security_);
        std::memcpy(sk, "sk", 2);
        Put32(bins_, security_ + 4 + 4, security_);
        Put32(bins_, security_ + 4 + 8, security_);
        Put32(bins_, security_ + 4 + 12, 1);
        Put32(bins_, security_ + 4 + 16, sizeof descriptor);
        std::memcpy(sk + 20, descriptor, sizeof descriptor);
        uint32_t rootCell = Key(root, 0, true);

        // One bin holds every cell; what is left of it is one free cell.
        size_t used = bins_.size();
        size_t binSize = (used + 8 + 4095) / 4096 * 4096;
        bins_.resize(binSize, 0);
        Put32(bins_, static_cast<uint32_t>(used), static_cast<uint32_t>(binSize - used));
        std::memcpy(&bins_[0], "hbin", 4);
        Put32(bins_, 4, 0);
        Put32(bins_, 8, static_cast<uint32_t>(binSize));

        std::vector<uint8_t> file(4096 + bins_.size(), 0);
        std::memcpy(&file[0], "regf", 4);
        Put32(file, 4, layout_.primarySequence);
        Put32(file, 8, layout_.secondarySequence);
        std::memcpy(&file[12], &layout_.lastWritten, 8);
        Put32(file, 20, 1);
        Put32(file, 24, layout_.minor);
        Put32(file, 28, 0);
        Put32(file, 32, 1);
        Put32(file, 36, rootCell);
        Put32(file, 40, static_cast<uint32_t>(binSize));
        Put32(file, 44, 1);
        uint32_t sum = 0;
        for (int i = 0; i < 127; ++i) {
            uint32_t v;
            std::memcpy(&v, &file[4 * i], 4);
            sum ^= v;
        }
        if (sum == 0) sum = 1;
        if (sum == 0xFFFFFFFFu) sum = 0xFFFFFFFEu;
        Put32(file, 508, sum);
        std::copy(bins_.begin(), bins_.end(), file.begin() + 4096);
        return file;
    }

private:
    HiveLayout layout_;
    std::vector<uint8_t> bins_;
    uint32_t security_ = 0;
};

}  // namespace

HiveKey& HiveKey::Key(const std::wstring& path) {
    HiveKey* key = this;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring part = path.substr(start, end - start);
        if (!part.empty()) {
            auto found = std::find_if(key->subkeys.begin(), key->subkeys.end(),
                                      [&](const HiveKey& k) { return Upper(k.name) == Upper(part); });
            if (found == key->subkeys.end()) {
                key->subkeys.push_back(HiveKey{part, {}, {}, {}});
                key = &key->subkeys.back();
            } else {
                key = &*found;
            }
        }
        start = end + 1;
    }
    return *key;
}

HiveKey& HiveKey::String(const std::wstring& valueName, const std::wstring& text, DWORD type) {
    values.push_back(HiveValue{valueName, type, TextBytes(text)});
    return *this;
}

HiveKey& HiveKey::Dword(const std::wstring& valueName, DWORD value) {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    values.push_back(HiveValue{valueName, REG_DWORD, bytes});
    return *this;
}

std::vector<uint8_t> WriteHive(const HiveKey& root, const HiveLayout& layout) { return Writer(layout).Finish(root); }

std::vector<uint8_t> TextBytes(const std::wstring& text) {
    std::vector<uint8_t> bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.c_str(), text.size() * 2);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1))
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

namespace {

void Walk(const std::wstring& folder, const std::function<void(const std::wstring&, bool)>& visit) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (directory) Walk(path, visit);
        visit(path, directory);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

}  // namespace

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"zvhive-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    Walk(path_, [](const std::wstring& path, bool directory) {
        if (directory) RemoveDirectoryW(path.c_str());
        else DeleteFileW(path.c_str());
    });
    RemoveDirectoryW(path_.c_str());
}

std::vector<std::pair<std::wstring, std::vector<uint8_t>>> Snapshot(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, std::vector<uint8_t>>> files;
    Walk(folder, [&](const std::wstring& path, bool directory) {
        if (!directory) files.emplace_back(path, ReadFileBytes(path));
    });
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace test

namespace test {

TestImage::TestImage() { system.Key(L"Select").Dword(L"Current", 1); }

TestImage::Profile& TestImage::AddProfile(const std::wstring& sid, const std::wstring& folder, DWORD writtenHigh) {
    profiles.push_back(Profile{sid, folder, {L"ROOT", {}, {}, {}}, {L"ROOT", {}, {}, {}}, true, {0, writtenHigh}});
    return profiles.back();
}

void TestImage::Write(const std::vector<std::wstring>& skip) {
    auto skipped = [&](const wchar_t* name) { return std::find(skip.begin(), skip.end(), name) != skip.end(); };
    HiveKey withProfiles = software;
    for (const auto& profile : profiles)
        withProfiles.Key(L"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + profile.sid)
            .String(L"ProfileImagePath", L"%SystemDrive%\\Users\\" + profile.folder, REG_EXPAND_SZ);
    if (!skipped(L"SOFTWARE")) WriteFileBytes(ConfigPath(L"SOFTWARE"), WriteHive(withProfiles));
    if (!skipped(L"SYSTEM")) WriteFileBytes(ConfigPath(L"SYSTEM"), WriteHive(system));
    if (!skipped(L"DEFAULT")) WriteFileBytes(ConfigPath(L"DEFAULT"), WriteHive(defaultUser));
    for (const auto& profile : profiles) {
        HiveLayout layout;
        layout.lastWritten = profile.written;
        std::wstring folder = Root() + L"\\Users\\" + profile.folder;
        WriteFileBytes(folder + L"\\NTUSER.DAT", WriteHive(profile.user, layout));
        if (profile.hasClasses)
            WriteFileBytes(folder + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat", WriteHive(profile.classes));
    }
}

}  // namespace test
