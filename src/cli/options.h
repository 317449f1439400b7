#pragma once
// Options several subcommands share.

#include <cstddef>
#include <optional>
#include <string>

#include "cli/commands.h"

namespace migrator::cli {

// What the commands that write a workbook print about other writers of it.
inline constexpr const char* kWorkbookLockUsage =
    "  Other writers: while a change is written the workbook is locked (an fcntl\n"
    "  lock on .NAME.~lock beside it). A change waits up to 10 seconds while another\n"
    "  migrator-cli or the window writes the workbook, or LibreOffice has it open\n"
    "  (.~lock.NAME#), then fails naming the holder. A workbook changed by another\n"
    "  program since it was read is never saved over, and a read-only one (no\n"
    "  write permission) is not written.\n";

// Takes the argument after args[i] into `into` and moves i onto it; false when
// there is none or `into` already holds a value (an option given twice).
bool TakeValue(const Args& args, std::size_t& i, std::optional<std::string>& into);

// Which objects of a database or workbook a command takes: all of it, its
// tables, its views or one table (--tables, --views, --table T).
enum class Scope { Whole, Tables, Views, Table };
struct ObjectScope {
  Scope scope = Scope::Whole;
  std::optional<std::string> table;
  int given = 0;  // how many of --table, --tables, --views were given
};

// When args[i] is --table, --tables or --views, takes it (and the table's
// name) into `into` and returns true; `bad` is set when the name is missing or
// --table was given twice.
bool TakeScopeOption(const Args& args, std::size_t& i, ObjectScope& into, bool& bad);

}  // namespace migrator::cli
