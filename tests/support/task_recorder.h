// What a scheduled-task scan reports, recorded call by call; any other report fails the test.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "locations/routines.h"
#include "scanner/autorun_context.h"

namespace test {

inline const Tessel::LocationRow& kTaskRow = Tessel::kAutorunLocations[1];

inline std::optional<std::wstring> TaskText(LPCWSTR text) {
    return text ? std::optional<std::wstring>(text) : std::nullopt;
}

struct TaskCall {
    std::wstring name;
    std::optional<std::wstring> program;
    std::optional<std::wstring> arguments;
};

// Records what the task scan reports; any other report fails the test.
class TaskRecorder final : public Tessel::IAutorunContext {
public:
    void AddScheduledTask(const Tessel::LocationRow* row, LPCWSTR taskName, LPCWSTR programPath,
                          LPCWSTR arguments) override {
        EXPECT_EQ(row, &kTaskRow);
        calls.push_back(TaskCall{taskName ? taskName : L"<null>", TaskText(programPath), TaskText(arguments)});
    }
    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (const auto& call : calls) names.push_back(call.name);
        return names;
    }

    void AddRegFileListValue(const Tessel::LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddRegCommandValue(const Tessel::LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddRegValueNameCommand(const Tessel::LocationRow*, HKEY, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddService(const Tessel::LocationRow*, LPCWSTR, DWORD, DWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                    LPCWSTR) override {
        Unexpected();
    }
    void AddStartupFile(const Tessel::LocationRow*, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddIniCommand(const Tessel::LocationRow*, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddInputMethod(const Tessel::LocationRow*, DWORD, LPCWSTR, LPCWSTR, LPCWSTR) override { Unexpected(); }
    void AddShellCommand(const Tessel::LocationRow*, LPCWSTR, LPCWSTR) override { Unexpected(); }
    const Tessel::ShellFolderTable& GetShellFolderTable() override { return table_; }

    std::vector<TaskCall> calls;

private:
    static void Unexpected() { ADD_FAILURE() << "the task scan reported something other than a task"; }
    Tessel::ShellFolderTable table_;
};

}  // namespace test
