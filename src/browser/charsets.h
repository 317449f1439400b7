#pragma once
// The character sets that "Change Charset" offers, in the order of the
// dialog's radio buttons: the button text, the description beside it, and the
// name the statements use.

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// One character set the dialog offers.
struct CharsetChoice {
  std::string button;       // "utf16"
  std::string description;  // "UTF-16 Unicode"
  std::string name;         // "UTF16"
  friend bool operator==(const CharsetChoice&, const CharsetChoice&) = default;
};

// What the dialog offers: the table above in its order, then each set the
// connected server reports (name and description, as "show character set"
// lists them) that the table lacks, in the server's order. A server name
// that is not a plain word is passed over: the name goes into statements.
std::vector<CharsetChoice> OfferedCharsets(
    const std::vector<std::pair<std::string, std::string>>& serverSets);

// The index of a name among the choices (compared exactly), -1 when none
// has it.
int ChoiceIndex(const std::vector<CharsetChoice>& choices, std::string_view name);

}  // namespace migrator
