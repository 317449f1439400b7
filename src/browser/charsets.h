#pragma once
// The character sets that "Change Charset" offers, in the order of the
// dialog's radio buttons: the button text, the description beside it, and the
// name the statements use.

#include <span>
#include <string>
#include <string_view>

namespace migrator {

struct CharsetEntry {
  const char* button;       // "latin1"
  const char* description;  // "cp1252 West European"
  const char* name;         // "LATIN1"
};

std::span<const CharsetEntry> Charsets();

// The name at a button index, "UNKOWNEN" outside the table.
std::string CharsetName(int index);
// The button index of a name (compared exactly), -1 when none has it.
int CharsetIndex(std::string_view name);

}  // namespace migrator
