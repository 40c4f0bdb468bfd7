#include "commands/cli_options.h"

#include <algorithm>

#include <CLI/CLI.hpp>

#include "win/text.h"

namespace zvscan {

namespace {

const char kDescription[] =
    "zvscan lists the autostart entries of this Windows system through zvatrun.dll, exactly as a host "
    "application does, and repairs them on request.";

const char kFooter[] =
    "Output: a table by default; --format json writes one JSON object per item (JSON Lines), --format csv\n"
    "a header and one record per item (RFC 4180). Text is UTF-8. The '#' column and the \"index\" field\n"
    "give each item's position in the scan, which shifts as entries come and go; the KEY column and the\n"
    "\"key\" field give the item's key, twelve hex digits derived from its identifier, hive and location,\n"
    "the same in every scan while the entry exists. Items from a user hive name it (\"hive\": the\n"
    "HKEY_USERS subkey). CSV cells that start with =, +, -, @, a tab or a carriage return get a leading\n"
    "single quote, so that a spreadsheet cannot run them as formulas (--csv-raw writes them as they are).\n"
    "A summary with the elapsed time and the six resolution counters goes to stderr; with --format csv,\n"
    "--counters writes its counter,value table to stderr too. When no item matches, a line on stderr\n"
    "says so and names the filters in force. JSON Lines begin with a {\"scan_start\":{...}} record (the\n"
    "zvscan and library versions and architectures, registry view, computer, Windows version and build,\n"
    "user, UTC start time, flags and filters) and end with {\"scan_end\":{\"items\":N,\"seconds\":S}}; a\n"
    "saved scan without its end record was cut short. A failed write (a full disk) ends zvscan with exit\n"
    "code 1. --output FILE writes to a temporary file beside FILE and puts it in FILE's place only when\n"
    "the command succeeded, so FILE never holds a scan cut short.\n"
    "\n"
    "Categories (any letter case): registry (0x10100000), services (0x10200000), tasks (0x10300000),\n"
    "startup (0x10400000), autorun-registry (0x10500000: drive autorun files and more registry\n"
    "locations), input-mui (0x10600000: input methods and the MUI cache), open-commands (0x10700000).\n"
    "\n"
    "repair: scans with the same settings, shows the items the selection matches, asks for confirmation\n"
    "(unless --yes) and calls Repair on each, reporting its HRESULT in words. The selection must pin items:\n"
    "--key K, or --id together with --location. --index N alone is refused, since positions shift after\n"
    "every repair: give the KEY (or the location) the listing showed at that position with it, and the\n"
    "repair selects nothing when the entry there is another one. The repair request names the item's\n"
    "first file, or the file given with --file; the library refuses (S_FALSE) when that is a known system\n"
    "host program such as rundll32.exe, and --file then names the file the request is about. --dry-run\n"
    "tells for each item what Repair would answer (would repair; E_NOTIMPL: no repair; S_FALSE: a known\n"
    "host program) and exits as the real run would. Ctrl-C during repairs finishes the item in progress\n"
    "and stops before the next.\n"
    "  zvscan --repairable-only --category registry\n"
    "  zvscan repair --key 3f09c2a1b7d4 --dry-run\n"
    "  zvscan repair --index 12 --key 3f09c2a1b7d4\n"
    "  zvscan repair --id 0x10101015 --location \"HKEY_USERS\\S-1-5-21-0-0-0-1000\\SOFTWARE\\Microsoft\\"
    "Windows\\CurrentVersion\\Run\\[Updater]\"\n"
    "Every repair but a dry run is journaled (see undo).\n"
    "\n"
    "--evidence: for every file of an item, whether it exists, its size, its last-write time (UTC, ISO\n"
    "8601) and its SHA-256, or why it could not be read (\"not found\", \"access denied\", ...): an\n"
    "\"evidence\" list in JSON, file_exists, file_size, file_last_write, file_sha256 and file_reason\n"
    "columns in CSV (one value per file, joined with |), a short hash in the table. Each file is read\n"
    "once per run, in pieces.\n"
    "  zvscan --evidence --format json\n"
    "\n"
    "--signatures: for every file of an item, its Authenticode status through the system's verification,\n"
    "without revocation checks or network: signed (valid, chains to a trusted root), untrusted (valid, but\n"
    "an untrusted root or an incomplete chain), invalid (changed after signing, or a damaged signature),\n"
    "unsigned, catalog (signed through a system catalog), error (the reason); for a file that cannot be\n"
    "read, why (\"not found\"). Signed, untrusted and catalog files name the signer and its issuer: a\n"
    "\"signatures\" list in JSON, file_signature, file_signer, file_issuer and file_signature_reason\n"
    "columns in CSV, a mark after each file in the table. Each file is checked once per run. --unsigned\n"
    "keeps the items with at least one file that is not signed or catalog.\n"
    "  zvscan --unsigned\n"
    "\n"
    "diff BASELINE [CURRENT]: compares two scans saved with --format json (CURRENT: a fresh scan with the\n"
    "given scan flags; add --evidence to compare files' hashes with a baseline that has them) and reports\n"
    "the items added, removed and changed (their files, kind fields or repairability; the report shows\n"
    "what differed) in the output format. An item is known across scans by its identifier, hive and\n"
    "location, never its position. Scans of another machine or user (other profile paths or user SIDs)\n"
    "are compared as they are: their entries show as removed and added. A line of a saved scan that is\n"
    "not an item stops the comparison before anything is reported, naming the line.\n"
    "  zvscan --format json > baseline.jsonl\n"
    "  zvscan diff baseline.jsonl\n"
    "\n"
    "--image ROOT: scans a Windows system that is not running from its volume's folder ROOT (the folder\n"
    "that was its C:\\): its registry from its hive files (Windows\\System32\\config, the profiles'\n"
    "NTUSER.DAT and UsrClass.dat), dirty hives with their .LOG1/.LOG2 applied in memory. --user picks the\n"
    "profile that stands for HKEY_CURRENT_USER. Lines on stderr (and \"image\" in the start record) name\n"
    "missing, damaged and dirty hives and the user chosen. repair and undo are refused (exit code 2).\n"
    "  zvscan --image D:\\mnt\\evidence --user alice --format json > offline.jsonl\n"
    "\n"
    "undo: repair writes a journal (JSON Lines; default %LOCALAPPDATA%\\zvscan\\journal.jsonl, or\n"
    "--journal PATH) holding, before each Repair, everything that item's repair can change: registry keys\n"
    "with their whole subtree, the preload list, the classes keys of an open command, and a copy of a\n"
    "startup or autorun file in a quarantine folder beside the journal; after Repair, its HRESULT and the\n"
    "state it left. undo lists the journal; undo ENTRY or --last puts back exactly what the entry's repair\n"
    "changed, and refuses, changing nothing and showing the difference, when that is no longer as the\n"
    "repair left it (--force puts it back over later changes, saying what it overwrites), or when the\n"
    "entry was made by a zvscan of another registry view or on another computer. A repair that changed\n"
    "nothing (refused or failed) has nothing to undo.\n"
    "  zvscan undo\n"
    "  zvscan undo --last\n"
    "\n"
    "Exit codes: 0 success; 1 the library could not be loaded or the scan failed, or a repair selected\n"
    "nothing, was declined or did not (in a dry run: would not) succeed for every item, or a saved scan or\n"
    "the journal could not be read, or an undo was refused or failed; 2 usage error; 3 diff found\n"
    "differences; 130 interrupted by Ctrl-C or Ctrl-Break. A listing in which no item matched, and a diff\n"
    "without differences, exit with 0.";

// Each occurrence of a filter option takes one value; repeat the option for more.
CLI::Option* Repeatable(CLI::Option* option) { return option->allow_extra_args(false); }

const CLI::Validator kHexIdentifier(
    [](std::string& text) { return ParseHex32(text) ? std::string() : "not a hexadecimal identifier: " + text; }, "");

const CLI::Validator kCategory(
    [](std::string& text) {
        return ParseCategory(text) ? std::string() : "not a category name or its hexadecimal value: " + text;
    },
    "");

// Positions are counted in 32 bits, like the scan's items.
const CLI::Validator kPosition(
    [](std::string& text) {
        bool digits = !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
        unsigned long long value = digits ? std::stoull(text) : 0;
        return value >= 1 && value <= 0xFFFFFFFFull ? std::string() : "not a position from 1 to 4294967295: " + text;
    },
    "");

const CLI::Validator kKey(
    [](std::string& text) {
        return text.size() == 12 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos
                   ? std::string()
                   : "not an item key (twelve hex digits): " + text;
    },
    "");

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Usage(const std::string& message) {
    return "zvscan: " + message + "\nRun with --help for more information.\n";
}

}  // namespace

bool Selection::Matches(const ItemRecord& record) const {
    auto any = [](const auto& values, auto predicate) {
        return values.empty() || std::any_of(values.begin(), values.end(), predicate);
    };
    return any(categories, [&](unsigned long category) { return category == record.category; }) &&
           any(ids, [&](unsigned long id) { return id == record.id; }) &&
           any(locations, [&](const std::wstring& location) { return EqualsIgnoreCase(location, record.location); }) &&
           any(indexes, [&](unsigned long index) { return index == record.index; }) &&
           any(keys, [&](const std::string& key) { return key == ItemKey(record); }) &&
           (!unsignedOnly || (record.signatures && std::any_of(record.signatures->begin(), record.signatures->end(),
                                                               [](const FileSignature& s) { return !TrustedSignature(s); })));
}

std::string Selection::Describe() const {
    std::string text;
    auto add = [&](const char* option, const std::string& value) {
        text += (text.empty() ? "" : " ") + std::string(option) + " " + value;
    };
    for (unsigned long category : categories) add("--category", CategoryName(category));
    for (unsigned long id : ids) add("--id", Hex32(id));
    for (const std::wstring& location : locations) add("--location", "\"" + Utf8(location) + "\"");
    for (unsigned long index : indexes) add("--index", std::to_string(index));
    for (const std::string& key : keys) add("--key", key);
    if (unsignedOnly) text += text.empty() ? "--unsigned" : " --unsigned";
    return text;
}

std::string DescribeNarrowing(const Options& options) {
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    if (options.scanFlags & ZV_SCAN_REPAIRABLE_ONLY) add("--repairable-only");
    if (options.scanFlags & ZV_SCAN_UNREPAIRABLE_ONLY) add("--unrepairable-only");
    std::string filters = options.selection.Describe();
    if (!filters.empty()) add(filters);
    return text;
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, Options& options) {
    CLI::App app{kDescription, "zvscan"};
    app.footer(kFooter);
    app.set_help_flag("-h,--help", "Print this help (every option, both commands) and exit");

    std::string dll, format = "table", requestFile, journal, baseline, current, output, view = "both", otherBuild, image,
        user, standIn;
    std::vector<std::string> categories, ids, locations, keys;
    std::vector<unsigned long> indexes;
    bool skipProbe = false, repairableOnly = false, unrepairableOnly = false, csvRaw = false, version = false;
    const char* journalHelp = "The repair journal (default: %LOCALAPPDATA%\\zvscan\\journal.jsonl)";

    app.add_flag("--version", version, "Print zvscan's version and the library's path and architecture, and exit");
    app.add_option("--dll", dll, "The scanner library (default: zvatrun.dll beside zvscan.exe)")->type_name("PATH");
    CLI::Option* imageOption =
        app.add_option("--image", image,
                       "Scan the Windows system that is not running whose volume ROOT holds (a mounted image, a "
                       "copy of a volume, a collection keeping its paths), through zvoffline.dll; read-only")
            ->type_name("ROOT");
    app.add_option("--user", user,
                   "With --image: the profile standing for HKEY_CURRENT_USER, by folder name or SID (default: "
                   "the user profile whose hive was written last)")
        ->needs(imageOption)
        ->type_name("NAME|SID");
    app.add_flag("--skip-probe", skipProbe, "Count every candidate path as an existing file; probe no file");
    CLI::Option* repairable =
        app.add_flag("--repairable-only", repairableOnly, "Scan only the locations whose entries can be repaired");
    CLI::Option* unrepairable = app.add_flag("--unrepairable-only", unrepairableOnly,
                                             "Scan only the locations whose entries cannot be repaired");
    repairable->excludes(unrepairable);
    CLI::Option* formatOption =
        app.add_option("--format", format, "Output format: table (default), json (JSON Lines) or csv")
            ->transform(CLI::IsMember({"table", "json", "csv"}, CLI::ignore_case))
            ->type_name("FORMAT");
    CLI::Option* countersOption = app.add_flag(
        "--counters", options.counters,
        "Also print the six resolution counters in the output format (with csv: to stderr)");
    CLI::Option* csvRawOption =
        app.add_flag("--csv-raw", csvRaw, "With --format csv: write cells as they are, formula-like ones included");
    Repeatable(app.add_option("--category", categories,
                              "Only items of this category, by name or hex (repeatable; see Categories)")
                   ->check(kCategory)
                   ->type_name("CATEGORY"));
    Repeatable(app.add_option("--id", ids, "Only items of this location identifier, in hex (repeatable)")
                   ->check(kHexIdentifier)
                   ->type_name("HEX"));
    Repeatable(app.add_option("--location", locations,
                              "Only items whose location is exactly this text, ignoring case (repeatable)")
                   ->type_name("TEXT"));
    Repeatable(app.add_option("--index", indexes, "Only the item at this position of the scan, from 1 (repeatable)")
                   ->check(kPosition)
                   ->type_name("N"));
    CLI::Option* evidenceOption = app.add_flag(
        "--evidence", options.evidence, "Also give every file's existence, size, last-write time and SHA-256");
    app.add_option("--view", view,
                   "On 64-bit Windows, the registry views to scan: both (default), native or wow64 (the 32-bit view, "
                   "through the 32-bit zvscan)")
        ->transform(CLI::IsMember({"both", "native", "wow64"}, CLI::ignore_case))
        ->type_name("VIEW");
    app.add_option("--other-build", otherBuild,
                   "The zvscan.exe of the other architecture, for the other view (default: found beside this one)")
        ->type_name("PATH");
    // For timing the two-view scan where the other architecture cannot run: a zvscan of this one
    // scans this view a second time as the other view's helper.
    CLI::Option* standInOption = app.add_option("--other-build-stand-in", standIn, "")->group("");
    CLI::Option* signaturesOption = app.add_flag(
        "--signatures", options.signatures,
        "Also check every file's Authenticode signature: signed, untrusted, invalid, unsigned, catalog or error");
    CLI::Option* unsignedOption =
        app.add_flag("--unsigned", options.selection.unsignedOnly,
                     "Only items with a file that is not validly signed (not signed or catalog); checks signatures");
    CLI::Option* outputOption =
        app.add_option("--output", output,
                       "Write the listing (or the diff) to FILE: whole, or, when the command fails, not at all")
            ->type_name("FILE");
    Repeatable(app.add_option("--key", keys, "Only the item with this key, from a listing (repeatable)")
                   ->check(kKey)
                   ->type_name("KEY"));

    CLI::App* repair = app.add_subcommand(
        "repair", "Repair the selected items through the library (selection options as above; see below)");
    repair->fallthrough();
    repair->add_flag("-y,--yes", options.yes, "Repair without asking for confirmation");
    repair->add_flag("--dry-run", options.dryRun,
                     "Tell for each item what Repair would answer, change nothing, and exit as the real run would");
    repair
        ->add_option("--file", requestFile,
                     "The file the repair request names (default: the item's first file; \"\" for none)")
        ->type_name("PATH");
    repair->excludes(formatOption);
    repair->excludes(countersOption);
    repair->excludes(csvRawOption);
    repair->excludes(evidenceOption);
    repair->excludes(outputOption);
    repair->excludes(signaturesOption);
    repair->excludes(unsignedOption);
    repair->add_option("--journal", journal, journalHelp)->type_name("PATH");

    CLI::App* diff = app.add_subcommand(
        "diff", "Compare a scan saved with --format json with another one or a fresh scan (see below)");
    diff->fallthrough();
    diff->add_option("BASELINE", baseline, "A scan saved with --format json")->required()->type_name("FILE");
    diff->add_option("CURRENT", current, "Another saved scan (default: a fresh scan)")->type_name("FILE");
    diff->excludes(countersOption);

    CLI::App* undo = app.add_subcommand("undo", "List the repair journal, or undo an entry of it (see below)");
    CLI::Option* entryOption =
        undo->add_option("ENTRY", options.undoEntry, "The journal entry to undo")->check(kPosition)->type_name("N");
    undo->add_flag("--last", options.undoLast, "Undo the most recent entry that can be undone")->excludes(entryOption);
    undo->add_option("--journal", journal, journalHelp)->type_name("PATH");
    undo->add_flag("--force", options.undoForce,
                   "Put back what the repair changed even over later changes, showing what it overwrites");
    for (CLI::Option* option :
         {formatOption, countersOption, csvRawOption, evidenceOption, outputOption, signaturesOption, unsignedOption})
        undo->excludes(option);

    // The internal mode in which the other build scans its own view for this one: JSON Lines on stdout.
    CLI::App* viewScan = app.add_subcommand("view-scan", "");
    viewScan->group("");
    viewScan->fallthrough();

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {false, kExitSuccess, app.get_formatter()->make_help(&app, "zvscan", CLI::AppFormatMode::All)};
    } catch (const CLI::ParseError& error) {
        return {false, kExitUsage, Usage(error.what())};
    }

    options.command = repair->parsed() ? Command::Repair
                      : diff->parsed() ? Command::Diff
                      : undo->parsed() ? Command::Undo
                      : viewScan->parsed() ? Command::ViewScan
                                       : Command::Scan;
    options.journalPath = Wide(journal);
    options.baseline = Wide(baseline);
    options.current = Wide(current);
    options.dllPath = Wide(dll);
    options.imageRoot = Wide(image);
    options.imageUser = Wide(user);
    options.outputPath = Wide(output);
    options.view = view == "native" ? ViewChoice::Native : view == "wow64" ? ViewChoice::Wow64 : ViewChoice::Both;
    options.otherBuild = Wide(otherBuild);
    if (standInOption->count()) {
        if (!otherBuild.empty()) return {false, kExitUsage, Usage("--other-build-stand-in replaces --other-build")};
        options.otherBuild = Wide(standIn);
        options.otherStandIn = true;
    }
    options.scanFlags = (skipProbe ? ZV_SCAN_SKIP_PROBE : 0) | (repairableOnly ? ZV_SCAN_REPAIRABLE_ONLY : 0) |
                        (unrepairableOnly ? ZV_SCAN_UNREPAIRABLE_ONLY : 0);
    options.format = format == "json" ? OutputFormat::Json : format == "csv" ? OutputFormat::Csv : OutputFormat::Table;
    if (csvRaw && options.format != OutputFormat::Csv) return {false, kExitUsage, Usage("--csv-raw needs --format csv")};
    options.csvCells = csvRaw ? CsvCells::Raw : CsvCells::SpreadsheetSafe;
    for (const std::string& category : categories) options.selection.categories.push_back(*ParseCategory(category));
    for (const std::string& id : ids) options.selection.ids.push_back(*ParseHex32(id));
    for (const std::string& location : locations) options.selection.locations.push_back(Wide(location));
    options.selection.indexes = indexes;
    for (const std::string& key : keys) options.selection.keys.push_back(Lower(key));
    if (repair->count("--file")) options.requestFile = Wide(requestFile);
    if (version) options.command = Command::Version;
    if (options.selection.unsignedOnly) options.signatures = true;

    bool filtered = !categories.empty() || !ids.empty() || !locations.empty() || !indexes.empty() || !keys.empty() ||
                    options.selection.unsignedOnly;
    if ((options.command == Command::Diff || options.command == Command::Undo) && filtered)
        return {false, kExitUsage, Usage("filters do not apply to " + std::string(diff->parsed() ? "diff" : "undo"))};
    if (options.command == Command::ViewScan) {
        options.format = OutputFormat::Json;
        if (filtered) return {false, kExitUsage, Usage("filters do not apply to view-scan")};
    }
    // An offline analysis writes nothing, not even into the image it reads.
    if ((options.command == Command::Repair || options.command == Command::Undo) && !options.imageRoot.empty())
        return {false, kExitUsage,
                Usage(std::string(repair->parsed() ? "repair" : "undo") +
                      " is refused with --image: an offline scan reads the image and writes nothing, not even "
                      "into it")};
    if (options.command == Command::Undo && options.scanFlags)
        return {false, kExitUsage, Usage("scan flags do not apply to undo")};
    if (options.command == Command::Repair && !options.selection.PinsItems()) {
        if (!indexes.empty())
            return {false, kExitUsage,
                    Usage("repair --index needs the --key (or the --location) that the listing showed at that "
                          "position, since positions shift after every repair; or select by --key alone")};
        return {false, kExitUsage, Usage("repair needs --key, or --id together with --location")};
    }
    return {true, kExitSuccess, {}};
}

}  // namespace zvscan
