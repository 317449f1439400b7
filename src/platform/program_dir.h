#pragma once
// The program's directory: where migrator.cfg, Condition.cfg, the data cache
// and the backup tree live.
//
// Three cases, the first that applies:
//   1. MIGRATOR_HOME is set and not empty: that directory (tests, copies kept
//      elsewhere).
//   2. The executable runs from a build tree: a file named
//      kBuildTreeMarker lies in the executable's directory or in one above it
//      (the build writes it at the top of every build directory). Then the
//      executable's directory, as before installation.
//   3. Otherwise the program is installed: the user's own data directory,
//      $XDG_DATA_HOME/migrator, by default ~/.local/share/migrator, made with
//      owner-only permissions when missing. Nothing is written next to an
//      installed executable.

#include <filesystem>
#include <string>

namespace migrator {

inline constexpr const char* kHomeVariable = "MIGRATOR_HOME";
inline constexpr const char* kBuildTreeMarker = ".migrator-build-tree";

// The program directory of the running executable (/proc/self/exe). The
// result is absolute and has no trailing "/" (except for "/" itself). When the
// executable cannot be found, the current directory.
std::string ProgramDirectory();

// The same for an executable at `executable` (absolute).
std::string ProgramDirectoryFor(const std::filesystem::path& executable);

// Whether `executable` lies in a build tree (case 2 above).
bool RunsFromBuildTree(const std::filesystem::path& executable);

// $XDG_DATA_HOME/migrator (when XDG_DATA_HOME is absolute), else
// $HOME/.local/share/migrator, with the password database's home directory
// when HOME is unset or not absolute. Only the name: nothing is created.
std::string UserDataDirectory();

// The manual's start page for the window's Help command: the first of
// <executable's directory>/manual/index.html (a build), the documentation
// directory of an installed copy (found relative to the executable, so the
// installation may be moved) and <programDir>/manual/index.html that exists.
// When none exists, where it belongs: the installed copy's documentation
// directory for an installed program, else the program directory's.
std::string ManualIndex(const std::string& programDir);
// The same for an executable at `executable` (absolute).
std::string ManualIndexFor(const std::filesystem::path& executable, const std::string& programDir);

}  // namespace migrator
