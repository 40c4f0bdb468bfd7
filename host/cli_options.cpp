#include "cli_options.h"

#include <algorithm>

#include <CLI/CLI.hpp>

#include "text.h"

namespace zvscan {

namespace {

const char kDescription[] =
    "zvscan lists the autostart entries of this Windows system through zvatrun.dll, exactly as a host "
    "application does, and repairs them on request.";

const char kFooter[] =
    "Output: a table by default; --format json writes one JSON object per item (JSON Lines), --format csv\n"
    "a header and one record per item (RFC 4180). Text is UTF-8. The '#' column and the \"index\" field\n"
    "give each item's position in the scan. A summary with the elapsed time and the six resolution\n"
    "counters goes to stderr.\n"
    "\n"
    "Categories: registry (0x10100000), services (0x10200000), tasks (0x10300000), startup (0x10400000),\n"
    "autorun-registry (0x10500000: drive autorun files and more registry locations), input-mui\n"
    "(0x10600000: input methods and the MUI cache), open-commands (0x10700000).\n"
    "\n"
    "repair: scans with the same settings, shows the items the selection matches, asks for confirmation\n"
    "(unless --yes) and calls Repair on each, reporting its HRESULT in words. The selection must pin items:\n"
    "--index N (from a listing made with the same scan flags), or --id together with --location. The\n"
    "repair request names the item's first file, or the file given with --file; the library refuses\n"
    "(S_FALSE) when that is a known system host program such as rundll32.exe.\n"
    "  zvscan --repairable-only --category registry\n"
    "  zvscan repair --index 12 --dry-run\n"
    "  zvscan repair --id 0x10101015 --location \"HKEY_USERS\\S-1-5-21-0-0-0-1000\\SOFTWARE\\Microsoft\\"
    "Windows\\CurrentVersion\\Run\\[Updater]\"\n"
    "\n"
    "Exit codes: 0 success; 1 the library could not be loaded or the scan failed, or a repair selected\n"
    "nothing, was declined or did not succeed for every item; 2 usage error.";

// Each occurrence of a filter option takes one value; repeat the option for more.
CLI::Option* Repeatable(CLI::Option* option) { return option->allow_extra_args(false); }

const CLI::Validator kHexIdentifier(
    [](std::string& text) { return ParseHex32(text) ? std::string() : "not a hexadecimal identifier: " + text; }, "");

const CLI::Validator kCategory(
    [](std::string& text) {
        return ParseCategory(text) ? std::string() : "not a category name or its hexadecimal value: " + text;
    },
    "");

const CLI::Validator kPosition(
    [](std::string& text) {
        return text.find_first_not_of("0123456789") == std::string::npos &&
                       text.find_first_not_of('0') != std::string::npos
                   ? std::string()
                   : "not a position from 1: " + text;
    },
    "");

}  // namespace

bool Selection::Matches(const ItemRecord& record) const {
    auto any = [](const auto& values, auto predicate) {
        return values.empty() || std::any_of(values.begin(), values.end(), predicate);
    };
    return any(categories, [&](unsigned long category) { return category == record.category; }) &&
           any(ids, [&](unsigned long id) { return id == record.id; }) &&
           any(locations, [&](const std::wstring& location) { return EqualsIgnoreCase(location, record.location); }) &&
           any(indexes, [&](unsigned long index) { return index == record.index; });
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, Options& options) {
    CLI::App app{kDescription, "zvscan"};
    app.footer(kFooter);
    app.set_help_flag("-h,--help", "Print this help (every option, both commands) and exit");

    std::string dll, format = "table", requestFile;
    std::vector<std::string> categories, ids, locations;
    std::vector<unsigned long> indexes;
    bool skipProbe = false, repairableOnly = false, unrepairableOnly = false;

    app.add_option("--dll", dll, "The scanner library (default: zvatrun.dll beside zvscan.exe)")->type_name("PATH");
    app.add_flag("--skip-probe", skipProbe, "Count every candidate path as an existing file; probe no file");
    CLI::Option* repairable =
        app.add_flag("--repairable-only", repairableOnly, "Scan only the locations whose entries can be repaired");
    CLI::Option* unrepairable = app.add_flag("--unrepairable-only", unrepairableOnly,
                                             "Scan only the locations whose entries cannot be repaired");
    repairable->excludes(unrepairable);
    CLI::Option* formatOption =
        app.add_option("--format", format, "Output format: table (default), json (JSON Lines) or csv")
            ->check(CLI::IsMember({"table", "json", "csv"}))
            ->type_name("FORMAT");
    CLI::Option* countersOption =
        app.add_flag("--counters", options.counters, "Also print the six resolution counters in the output format");
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

    CLI::App* repair = app.add_subcommand(
        "repair", "Repair the selected items through the library (selection options as above; see below)");
    repair->fallthrough();
    repair->add_flag("-y,--yes", options.yes, "Repair without asking for confirmation");
    repair->add_flag("--dry-run", options.dryRun, "Show what would be repaired and change nothing");
    repair
        ->add_option("--file", requestFile,
                     "The file the repair request names (default: the item's first file; \"\" for none)")
        ->type_name("PATH");
    repair->excludes(formatOption);
    repair->excludes(countersOption);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {false, kExitSuccess, app.get_formatter()->make_help(&app, "zvscan", CLI::AppFormatMode::All)};
    } catch (const CLI::ParseError& error) {
        return {false, kExitUsage,
                std::string("zvscan: ") + error.what() + "\nRun with --help for more information.\n"};
    }

    options.command = repair->parsed() ? Command::Repair : Command::Scan;
    options.dllPath = Wide(dll);
    options.scanFlags = (skipProbe ? ZV_SCAN_SKIP_PROBE : 0) | (repairableOnly ? ZV_SCAN_REPAIRABLE_ONLY : 0) |
                        (unrepairableOnly ? ZV_SCAN_UNREPAIRABLE_ONLY : 0);
    options.format = format == "json" ? OutputFormat::Json : format == "csv" ? OutputFormat::Csv : OutputFormat::Table;
    for (const std::string& category : categories) options.selection.categories.push_back(*ParseCategory(category));
    for (const std::string& id : ids) options.selection.ids.push_back(*ParseHex32(id));
    for (const std::string& location : locations) options.selection.locations.push_back(Wide(location));
    options.selection.indexes = indexes;
    if (repair->count("--file")) options.requestFile = Wide(requestFile);

    if (options.command == Command::Repair && !options.selection.PinsItems()) {
        return {false, kExitUsage,
                "zvscan: repair needs --index, or --id together with --location\n"
                "Run with --help for more information.\n"};
    }
    return {true, kExitSuccess, {}};
}

}  // namespace zvscan
