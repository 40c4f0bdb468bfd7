// How zvscan writes what it found: a readable table, JSON Lines or CSV (RFC 4180), all UTF-8.
#pragma once

#include <array>
#include <string>

#include "report/item_record.h"

namespace zvscan {

enum class OutputFormat { Table, Json, Csv };
// CSV cells starting with '=', '+', '-', '@', a tab or a carriage return get a leading single quote,
// so that a spreadsheet shows them as text instead of running them as formulas; Raw writes them as
// they are.
enum class CsvCells { SpreadsheetSafe, Raw };

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

// A text as the table shows it: control characters (C0, DEL, C1) as "\x1b", bidirectional
// embeddings, overrides and isolates and unpaired surrogates as "\u202e", so that a name can neither
// drive the terminal nor reorder the line; the JSON and CSV forms keep texts exact.
std::string TableText(const std::wstring& text);
std::string TableText(const std::string& utf8);

// Lines end in "\n", CSV records in "\r\n" as RFC 4180 asks.
std::string TableHeader();
// The item's line; for a registry item its data, cut to a terminal `width` columns wide (0: whole);
// then one line per file, or "no file found" when its text named none.
std::string TableItem(const ItemRecord& record, size_t width = 0);
std::string TableIndent();                        // the indentation of the lines under an item
std::string TableCounters(const Counters& counters);

std::string JsonItem(const ItemRecord& record);
std::string JsonCounters(const Counters& counters);

std::string CsvField(const std::string& text, CsvCells cells = CsvCells::SpreadsheetSafe);
// With evidence, the columns of the files' evidence follow; with signatures, those of their signatures.
std::string CsvHeader(bool evidence = false, bool signatures = false);
std::string CsvItem(const ItemRecord& record, CsvCells cells = CsvCells::SpreadsheetSafe);
// A table of its own (zvscan writes it to stderr): counter,value.
std::string CsvCounters(const Counters& counters);

std::string Header(OutputFormat format, bool evidence = false, bool signatures = false);  // empty for JSON Lines
std::string Item(OutputFormat format, const ItemRecord& record, CsvCells cells, size_t width = 0);
std::string CountersText(OutputFormat format, const Counters& counters);

// The summary zvscan writes to stderr, timing included.
std::string SummaryText(const ScanSummary& summary);

}  // namespace zvscan
