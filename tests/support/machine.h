// A machine a scenario runs on: the simulated one, or the real system of the Wine prefix. Files a
// test adds to the real machine are removed again when it ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim_backend.h"

namespace test {

enum class MachineKind { Simulated, Real };

std::string MachineName(MachineKind kind);

class Machine {
public:
    explicit Machine(MachineKind kind);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // A directory of this test's own, with a space in its name: "C:\zv test <n>".
    const std::wstring& Root() const { return root_; }
    void AddFile(const std::wstring& path);
    void AddDirectory(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_DIRECTORY);
    // A shell link whose raw target is target (the real one through the shell link object).
    void AddShortcut(const std::wstring& path, const std::wstring& target);
    // The 8.3 name of an existing path (the simulated machine is given one).
    std::wstring ShortPath(const std::wstring& path);
    // A registry key of this test's own under HKEY_CURRENT_USER, removed with everything below it
    // when the test ends: "Software\ZvTest <n>".
    const std::wstring& TestKey() const { return testKey_; }
    // Stores exactly these bytes (no terminator is added to strings).
    void SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                  const std::vector<BYTE>& bytes);
    void SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
                   DWORD type = REG_SZ);  // with its terminator
    void AddKey(HKEY root, const std::wstring& path);

    // Files the real system has in every prefix; the simulated machine gets them here.
    void AddSystemFiles();

    // Null on the real machine.
    platform::SimulatedBackend* Sim() { return sim_.get(); }
    bool IsReal() const { return !sim_; }

private:
    std::unique_ptr<platform::SimulatedBackend> sim_;
    std::unique_ptr<platform::ScopedBackend> scope_;
    std::wstring root_;
    std::wstring testKey_;
    std::vector<std::wstring> created_;
    bool comInitialized_ = false;  // real paths to remove, in creation order
};

}  // namespace test
