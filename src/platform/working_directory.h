#pragma once
// WorkingDirectory: the directory that the migration, backup and help
// commands make "current" before they write files by relative names. The
// process's own current directory is never changed (the window thread and
// the controller thread share it); commands keep one of these in the
// workspace and tasks take a copy.
//
// File and directory names made from table, view and database names never
// leave the directory they are meant for. MakeSafeFileName makes a name safe:
//   - "/", "\" and NUL become "_";
//   - every run of two or more dots becomes as many "_" (so ".." and "..."
//     cannot name a parent), and a name that is just "." becomes "_";
//   - an empty name becomes "_";
//   - a name longer than 255 bytes is cut there (never inside a UTF-8
//     character).
// Any other name is kept as it is. The result says whether the name changed,
// so the caller can report the name it really used.

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace migrator {

struct SafeName {
  std::string name;
  bool changed = false;
};

SafeName MakeSafeFileName(std::string_view name);

// A path inside a working directory, and whether the name had to change.
struct SafePath {
  std::string path;
  bool changed = false;
};

class WorkingDirectory {
 public:
  // path: made absolute (against the process's current directory) and
  // lexically normal.
  explicit WorkingDirectory(const std::string& path);

  const std::string& path() const { return path_; }

  // A directory chosen by a person: the path (made absolute and normal) is
  // created when missing (its parent must exist). Unlike Step, an entry of
  // that name that is not a directory is left alone, and the call fails.
  static Result<WorkingDirectory> Enter(const std::string& path);

  // The directory step: the name is made safe; an entry of that name that is
  // not a directory (a file, a link to a file, a dangling link) is deleted;
  // the directory is created when missing; and it becomes the current
  // directory. A link to a directory is followed. On failure nothing changes.
  // Step never goes up: a name ".." is a directory named "__". Use Up().
  Result<SafeName> Step(std::string_view name);
  // The step "..": the parent directory ("/" stays "/").
  void Up();

  // The path of a file with this name in the current directory.
  SafePath File(std::string_view fileName) const;

 private:
  std::string path_;
};

// Opens a file for writing that only its owner may read (an existing one is
// emptied and made so); a symbolic link in its place is refused, not
// followed. Null (errno set) when it cannot be.
std::FILE* OpenOwnerOnly(const std::string& path);

}  // namespace migrator
