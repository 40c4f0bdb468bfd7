// How zvscan writes what it found: a readable table, JSON Lines or CSV (RFC 4180), all UTF-8.
#pragma once

#include <array>
#include <string>

#include "item_record.h"

namespace zvscan {

enum class OutputFormat { Table, Json, Csv };

// The six resolution counters, in the order of their kinds (file probes first).
using Counters = std::array<unsigned long, 6>;

struct ScanSummary {
    unsigned long scanned = 0;     // items the scan handed out
    unsigned long shown = 0;       // of those, the items the filters kept
    unsigned long repairable = 0;  // shown items that can be repaired
    unsigned long rows = 0;        // runs of shown items that share an identifier: the rows they came from
    double seconds = 0;
    Counters counters{};
    std::string library;  // the DLL scanned with: its path and architecture
};

// Lines end in "\n", CSV records in "\r\n" as RFC 4180 asks.
std::string TableHeader();
std::string TableItem(const ItemRecord& record);  // the item's line, then one line per file
std::string TableCounters(const Counters& counters);

std::string JsonItem(const ItemRecord& record);
std::string JsonCounters(const Counters& counters);

std::string CsvField(const std::string& text);
std::string CsvHeader();
std::string CsvItem(const ItemRecord& record);
// A second table after an empty line: counter,value.
std::string CsvCounters(const Counters& counters);

std::string Header(OutputFormat format);  // empty for JSON Lines
std::string Item(OutputFormat format, const ItemRecord& record);
std::string CountersText(OutputFormat format, const Counters& counters);

// The summary zvscan writes to stderr, timing included.
std::string SummaryText(const ScanSummary& summary);

}  // namespace zvscan
