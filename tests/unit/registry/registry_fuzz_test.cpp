// Malformed registry data in every location the scan reads, from a seeded generator: odd types,
// sizes and terminators, embedded zeros, very long and non-ASCII names and texts, hostile command
// lines, broken CLSID references, odd service, Winsock, preload and open-command data. Each round
// scans a fresh simulated machine: the scan ends, nothing stays open or alive, nothing is written,
// and every item reads sanely. ZV_FUZZ_ROUNDS sets the number of rounds and ZV_FUZZ_SEED the first
// seed; a failure names the seed of its round.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "locations/location_table.h"
#include "locations/routines.h"
#include "paths/command_line.h"
#include "platform/handles.h"
#include "platform/sim_backend.h"
#include "zvatrun.h"

namespace {

using Tessel::kAutorunLocations;
using Tessel::LocationRow;

const wchar_t kServices[] = L"SYSTEM\\CurrentControlSet\\Services\\";

class Generator {
public:
    Generator(platform::SimulatedBackend& sim, unsigned seed) : sim_(sim), random_(seed) {}

    // Malformed entries for the row, in the shape its scan routine reads.
    void FillRow(const LocationRow& row) {
        if (row.scan == Tessel::ScanOpenCommand) return OpenCommand(row);
        if (row.root && row.keyPath) return Tree(row.root, Tessel::BuildLocationPath(row), row.valueName, 2);
    }

    void Services() {
        for (size_t i = Below(4); i > 0; --i) {
            std::wstring service = kServices + Name(nullptr);
            Value(HKEY_LOCAL_MACHINE, service, L"Type", OneIn(3) ? Data() : Dword());
            Value(HKEY_LOCAL_MACHINE, service, L"Start", OneIn(3) ? Data() : Dword());
            Value(HKEY_LOCAL_MACHINE, service, L"ImagePath", Data());
            Value(HKEY_LOCAL_MACHINE, service + L"\\Parameters", L"ServiceDll", Data());
            Value(HKEY_LOCAL_MACHINE, service + L"\\Parameters", L"Application", Data());
        }
    }

    void NetworkProviders() {
        std::wstring order;
        for (size_t i = Below(4); i > 0; --i) {
            std::wstring name = Name(nullptr);
            order += name + (OneIn(2) ? L"," : L" ,, ");
            Value(HKEY_LOCAL_MACHINE, kServices + name + L"\\NetworkProvider", L"ProviderPath", Data());
        }
        Value(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\NetworkProvider\\Order", L"ProviderOrder",
              OneIn(3) ? Data() : Terminated(order));
    }

    void Preload() {
        const size_t layouts = Below(5);
        for (size_t number = 1; number <= layouts; ++number) {
            std::wstring layout = OneIn(4) ? Name(nullptr) : L"E02" + std::to_wstring(Below(100000));
            Value(HKEY_CURRENT_USER, L"Keyboard Layout\\Preload", std::to_wstring(number).c_str(),
                  OneIn(4) ? Data() : Terminated(layout));
            std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts\\" + layout;
            Value(HKEY_LOCAL_MACHINE, key, L"Ime File", Data());
            Value(HKEY_LOCAL_MACHINE, key, L"Layout File", Data());
        }
    }

private:
    struct Typed {
        DWORD type;
        std::vector<BYTE> bytes;
    };

    size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    bool OneIn(size_t n) { return Below(n) == 0; }

    void Value(HKEY root, const std::wstring& path, const wchar_t* name, const Typed& data) {
        sim_.SetValue(root, path, name ? name : L"", data.type, data.bytes);
    }

    void Tree(HKEY root, const std::wstring& path, const wchar_t* rowName, int depth) {
        for (size_t i = 1 + Below(3); i > 0; --i) Value(root, path, Name(rowName).c_str(), Data());
        if (depth == 0) return;
        for (size_t i = Below(3); i > 0; --i)
            Tree(root, path + L"\\" + (OneIn(4) ? std::wstring(L"command") : Name(rowName)), rowName, depth - 1);
    }

    void OpenCommand(const LocationRow& row) {
        std::wstring progId = OneIn(4) ? Name(nullptr) : L"zvfile";
        Value(HKEY_CLASSES_ROOT, row.keyPath, nullptr, OneIn(4) ? Data() : Terminated(progId));
        Value(HKEY_CLASSES_ROOT, progId + L"\\shell\\" + row.subkey + L"\\command", nullptr, Data());
    }

    // A CLSID, well formed or not; its server is registered with odd data, or not at all.
    std::wstring Clsid() {
        wchar_t text[64];
        std::swprintf(text, 64, L"{%08X-0000-4000-8000-%012X}", static_cast<unsigned>(Below(1u << 30)),
                      static_cast<unsigned>(Below(1000)));
        std::wstring clsid = text;
        if (OneIn(4)) clsid.resize(Below(clsid.size()) + 1);
        if (!OneIn(3)) Value(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", nullptr, Data());
        return clsid;
    }

    std::wstring Name(const wchar_t* rowName) {
        switch (Below(8)) {
            case 0:
            case 1: return rowName ? rowName : L"";
            case 2: return L"";
            case 3: return std::wstring(600, static_cast<wchar_t>(L'a' + Below(26)));
            case 4: return L"r\u00e9sum\u00e9 \u4e2d\u6587 \u0416 \xD83D\xDE00 " + std::to_wstring(Below(100));
            case 5: return Clsid();
            default: return L"zv" + std::to_wstring(Below(1000));
        }
    }

    std::wstring Text() {
        static const wchar_t* const kUnits[] = {L"a ", L"a,", L"a;", L"a\"", L"a@", L"\\\\\\\\ ", L".exe "};
        switch (Below(9)) {
            case 0: {
                std::wstring line = OneIn(2) ? L"rundll32.exe " : L"";
                const wchar_t* unit = kUnits[Below(7)];
                for (size_t length = 16 << Below(6); line.size() < length;) line += unit;
                return line;
            }
            case 1: {
                // 32k to 70k characters, with a few delimiters.
                std::wstring line(32768 + Below(38000), L'x');
                for (size_t i = Below(4); i > 0; --i) line[Below(line.size())] = L' ';
                return L"C:\\" + line;
            }
            case 2: return Clsid();
            case 3: return Name(nullptr);
            case 4: return L"regsvr32 /s /i:\"" + Name(nullptr) + L"\" " + Name(nullptr) + L".dll";
            case 5: return L"\"%SystemRoot%\\system32\\" + Name(nullptr) + L"\" %1";
            case 6: return std::wstring(L"cmd.exe /c \0 x.bat", 18);
            default: return L"C:\\windows\\system32\\notepad.exe " + Name(nullptr);
        }
    }

    static Typed Terminated(const std::wstring& text) {
        auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
        return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
    }

    Typed Dword() {
        std::vector<BYTE> bytes(OneIn(4) ? Below(9) : 4);
        for (auto& byte : bytes) byte = static_cast<BYTE>(Below(256));
        return {REG_DWORD, bytes};
    }

    // Half the time a string the scan reads; else text, a multi-string or bytes under any type:
    // terminated or not, cut to an odd size, padded.
    Typed Data() {
        if (OneIn(2)) {
            Typed data = Terminated(Text());
            if (OneIn(2)) data.type = REG_EXPAND_SZ;
            return data;
        }
        static const DWORD kTypes[] = {REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY,
                                       REG_DWORD, REG_NONE,      REG_QWORD,    0x7FFF};
        Typed data = Terminated(Text());
        data.type = kTypes[Below(8)];
        if (data.type == REG_MULTI_SZ && !OneIn(3)) {
            Typed second = Terminated(Text());
            data.bytes.insert(data.bytes.end(), second.bytes.begin(), second.bytes.end());
            if (OneIn(2)) data.bytes.insert(data.bytes.end(), {0, 0});
        }
        if (data.type == REG_BINARY && OneIn(2)) {
            // A Winsock catalog item: an ANSI path, with or without its terminator, high bytes included.
            data.bytes.assign(Below(300), 0);
            for (auto& byte : data.bytes) byte = static_cast<BYTE>(32 + Below(224));
        }
        switch (Below(4)) {
            case 0: data.bytes.resize(data.bytes.size() >= 2 ? data.bytes.size() - 2 : 0); break;
            case 1: data.bytes.resize(data.bytes.size() | 1); break;
            case 2: data.bytes.push_back(static_cast<BYTE>(Below(256))); break;
            default: break;
        }
        return data;
    }

    platform::SimulatedBackend& sim_;
    std::mt19937 random_;
};

unsigned FromEnvironment(const char* name, unsigned fallback) {
    const char* text = std::getenv(name);
    return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fallback;
}

bool Sane(LPCWSTR text) { return text && wcsnlen(text, 1u << 20) < (1u << 20); }

void CheckItem(IZVAutorunItemEx* item) {
    const ULONG id = item->GetId();
    const LocationRow* row = nullptr;
    for (size_t i = 0; i < Tessel::kAutorunLocationCount && !row; ++i)
        if (kAutorunLocations[i].id == id) row = &kAutorunLocations[i];
    ASSERT_NE(row, nullptr) << std::hex << id;
    EXPECT_EQ(item->GetCategory(), Tessel::CategoryOf(id));
    EXPECT_EQ(item->CanRepair(), row->repair ? TRUE : FALSE) << std::hex << id;
    EXPECT_TRUE(Sane(item->GetLocation())) << std::hex << id;
    const ULONG files = item->GetFileCount();
    EXPECT_LE(files, 2 * Tessel::kResolutionFileLimit) << std::hex << id;
    for (ULONG i = 0; i < files; ++i) EXPECT_TRUE(Sane(item->GetFile(i))) << std::hex << id << " file " << i;

    platform::ComPtr<IZVAutorunItem_Reg> reg;
    platform::ComPtr<IZVAutorunItem_Ime> ime;
    platform::ComPtr<IZVAutorunItem_ShlCmd> command;
    if (id != 0x10500001 && SUCCEEDED(item->QueryInterface(IID_IZVAutorunItem_Reg, reg.PutVoid()))) {
        EXPECT_NE(reg->GetRootKey(), nullptr);
        EXPECT_TRUE(Sane(reg->GetKeyPath()) && Sane(reg->GetValueName()) && Sane(reg->GetValueData()));
    }
    if (SUCCEEDED(item->QueryInterface(IID_IZVAutorunItem_Ime, ime.PutVoid()))) {
        EXPECT_NE(ime->GetRootKey(), nullptr);
        EXPECT_TRUE(Sane(ime->GetLayoutId()));
    }
    if (SUCCEEDED(item->QueryInterface(IID_IZVAutorunItem_ShlCmd, command.PutVoid()))) {
        EXPECT_TRUE(Sane(command->GetExtension()) && Sane(command->GetProgId()) && Sane(command->GetVerb()));
        EXPECT_EQ(command->GetValueName(), command->GetAltValueName()) << "the row's value name, twice";
    }
}

TEST(RegistryFuzzTest, MalformedDataInEveryLocation) {
    const unsigned firstSeed = FromEnvironment("ZV_FUZZ_SEED", 1), rounds = FromEnvironment("ZV_FUZZ_ROUNDS", 5);
    for (unsigned seed = firstSeed; seed < firstSeed + rounds; ++seed) {
        SCOPED_TRACE(testing::Message() << "ZV_FUZZ_SEED=" << seed << " reproduces this round");
        platform::SimulatedBackend sim;
        platform::ScopedBackend scope(sim);
        sim.AddFile(L"C:\\windows\\system32\\rundll32.exe");
        sim.AddFile(L"C:\\windows\\system32\\regsvr32.exe");
        sim.AddFile(L"C:\\windows\\system32\\notepad.exe");
        Generator generator(sim, seed);
        for (size_t i = 0; i < Tessel::kAutorunLocationCount; ++i) generator.FillRow(kAutorunLocations[i]);
        generator.Services();
        generator.NetworkProviders();
        generator.Preload();

        {
            platform::ComPtr<IZVAutorunScanner> scanner;
            ASSERT_EQ(ZVAtrunCreateObject(&IID_IZVAutorunScanner, scanner.PutVoid(), 0), S_OK);
            ZV_SCAN_SETTINGS settings{sizeof(settings), seed % 4 == 0 ? ZV_SCAN_SKIP_PROBE : 0u, {}};
            ASSERT_EQ(scanner->StartScan(&settings), S_OK);
            size_t items = 0;
            IZVAutorunItemEx* raw = nullptr;
            while (scanner->NextItem(&raw)) {
                auto item = platform::ComPtr<IZVAutorunItemEx>::Attach(raw);
                CheckItem(item.Get());
                ASSERT_LT(++items, 100000u) << "the scan does not end";
            }
        }
        EXPECT_EQ(sim.OpenHandles(), 0u) << "handles or objects left open";
        EXPECT_EQ(sim.InvalidCloses(), 0u);
        EXPECT_EQ(sim.Writes(), 0u) << "the scan wrote to the system";
        if (HasFailure()) return;
    }
}

}  // namespace
