// The scheduled tasks of an image, read from their files: Task Scheduler 2.0 tasks from the XML
// files under Windows\System32\Tasks, 1.0 work items from Windows\Tasks\*.job. A damaged file gives
// what can be read of it, or is passed over with a debug-log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/offline/tasks/task_objects.h"

namespace platform {
namespace offline {

class OfflineBackend;

enum class TaskXmlRead { NotATask, Damaged, Whole };

// A 2.0 task document as Windows writes it (UTF-16 with a byte-order mark, or UTF-8), parsed with
// XmlLite: its actions in document order (an Exec's Command and Arguments; the other kinds by kind)
// and Settings/Hidden. A damaged document keeps the actions read completely before the damage.
TaskXmlRead ReadTaskXml(const uint8_t* data, size_t size, TaskEntry& task);

// A 1.0 work item file (fixed-length data, then the application name and its parameters as
// counted strings). False when the bytes cannot hold them.
bool ReadJobFile(const uint8_t* data, size_t size, TaskWorkItem& item);

// The image's 2.0 folder tree or its 1.0 work items, in the order of the names (as NTFS orders
// them, letter case aside).
std::shared_ptr<TaskTree> ReadImageTaskFolders(const OfflineBackend& backend);
std::shared_ptr<TaskTree> ReadImageWorkItems(const OfflineBackend& backend);

}  // namespace offline
}  // namespace platform
