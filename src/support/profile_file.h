#pragma once
// Profile (INI) files with the rules of the platform's private-profile calls,
// which the configuration file and the condition file were always read and
// written with. Rules kept:
//   - "[name]" starts a section; blanks around the name inside the brackets
//     are ignored, and so is anything after the "]". Lines before the first
//     section belong to no section and are never read.
//   - "key=value": blanks (space, tab, vertical tab) around key and value are
//     ignored. A value written between a pair of equal quotes ('...' or "...")
//     is read without them, which is how a value keeps outer blanks.
//   - A line whose first non-blank character is ";" is a comment. A ";" later
//     in a line is part of the key or value.
//   - A line without "=" is a key without a value: it reads as missing, and
//     a write to that key gives it the value in place.
//   - Section and key names are found without regard to ASCII case, after the
//     spaces around the names asked for are dropped. Only the first of
//     duplicated sections, and the first of duplicated keys, counts.
//   - A missing file, section or key reads as the default text.
//   - A write replaces the value of an existing key in place (the key keeps
//     its spelling and the line its text up to "="), adds a new key after the
//     last key of its section, and adds a new section at the end of the file,
//     in the order first written. Every other line (comments, blank lines,
//     lines without "=", other sections) is kept byte for byte, and so are the
//     line ends (new lines take the file's first line end, "\n" for a new
//     file).
//
// Where writing exactly what the caller gives would change what is read back
// or damage the file, the value or the call is changed, and the header says
// how:
//   - A value with outer blanks, or one that starts and ends with the same
//     quote, is written between double quotes so that it reads back as given.
//   - Line breaks and NUL characters in a value are written as spaces (a value
//     is one line; an SQL condition keeps its meaning).
//   - A section name holding "]", a line break or NUL, and a key that is
//     empty, holds "=", a line break or NUL, or starts with ";" or "[", are
//     refused: they could not be read back, or would read as another line.
//     So are names that start or end with a tab or vertical tab (the file's
//     blanks are dropped when read, those of the name asked for are not).
//
// Writes never leave a half-written file: the new text goes into a temporary
// file beside the old one, is flushed to disk and renamed over it. A new file
// gets the creation mode given to the ProfileFile; an existing one keeps its
// mode. Writers on the same directory take an exclusive lock on it, so writes
// from two threads (or two processes) never lose each other's changes; reads
// take no lock, since every replacement is complete.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace migrator {

// One key to write.
struct ProfileEntry {
  std::string section;
  std::string key;
  std::string value;
};

// The text of a profile file, parsed line by line. Pure: no file access.
class ProfileText {
 public:
  ProfileText() = default;
  static ProfileText Parse(std::string_view text);

  // The value of a key, unquoted; nothing when the section or key is missing
  // or the key's line has no "=".
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Sets a key as the rules above say. Refused names leave the text as it was.
  Status Set(std::string_view section, std::string_view key, std::string_view value);

  // Section names in file order (duplicates included), and the keys of the
  // first section of that name (comments excluded).
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(std::string_view section) const;

  std::string ToString() const;

 private:
  struct Line {
    std::string text;  // without the line end
    std::string end;   // "\n", "\r\n" or "" (last line)
  };
  std::string NewLineEnd() const;
  std::optional<std::size_t> FindSection(std::string_view name) const;
  std::size_t SectionEnd(std::size_t header) const;

  std::string bom_;
  std::vector<Line> lines_;
};

// A value as the platform's read call returns it into a buffer of bufferSize
// bytes: at most bufferSize - 1 bytes (never half a UTF-8 character), and the
// default, without its trailing spaces, when the key is missing.
std::string CutToBuffer(std::string value, std::size_t bufferSize);

class ProfileFile {
 public:
  // Files larger than this are not read (they read as empty) or rewritten.
  static constexpr std::size_t kMaxFileBytes = 16u << 20;

  explicit ProfileFile(std::string path, mode_t createMode = 0644, mode_t modeLimit = 07777);

  const std::string& path() const { return path_; }
  // Whether the file exists and can be opened for reading.
  bool Readable() const;
  // The file's text as it is now (empty when it is missing or unreadable),
  // for callers that read several keys that belong together.
  ProfileText Snapshot() const;

  // The platform's read call: the value of section/key cut to bufferSize - 1
  // bytes, or the default (trailing spaces dropped, cut the same way).
  std::string Read(std::string_view section, std::string_view key, std::string_view defaultValue,
                   std::size_t bufferSize) const;
  // The whole value, or nothing when it is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(std::string_view section) const;

  // Writes one key, or several in order as one replacement of the file. A
  // refused name fails the whole call and leaves the file as it was.
  Status Write(std::string_view section, std::string_view key, std::string_view value) const;
  Status Write(std::span<const ProfileEntry> entries) const;

  // Creates the file empty when it does not exist (an existing file is left
  // alone).
  Status CreateIfMissing() const;

 private:
  // The file's text; nothing when it does not exist; an error when it exists
  // but cannot be read.
  Result<std::optional<std::string>> Load() const;

  std::string path_;
  mode_t createMode_;
  mode_t modeLimit_;
};

}  // namespace migrator
