#pragma once
// The configuration file "migrator.cfg" in the program's directory: the two
// connections' properties and the options, kept between runs. Only the
// connection configuration dialog reads and writes it, through the operations
// below; the dialog's fields and check boxes are modelled by ConfigForm.
//
// The file holds a password in the clear, so it is readable by its owner
// only: a new file is created 0600, and an existing one that others may read
// is narrowed to its owner the next time it is saved.
//
// Values are read whole. (A fixed read buffer used to keep only the first 79
// characters, which lost the ends of long passwords and workbook paths; files
// written then read the same now.)

#include <cstddef>
#include <string>
#include <string_view>

#include "app/frontend.h"
#include "platform/result.h"
#include "support/profile_file.h"
#include "tasks/task.h"

namespace migrator {

// One side's five text fields in the dialog.
struct ConnectionFields {
  std::string provider;    // the provider as shown in the list
  std::string sourceName;  // data source name, server:port or file path
  std::string userId;
  std::string password;
  std::string catalogName;  // database
  friend bool operator==(const ConnectionFields&, const ConnectionFields&) = default;
};

// The dialog's ten fields and its options. The migration options are kept
// as Public/KeepColumnTypes, SplitSheets, FilterButtons, OverwriteTable and
// OverwriteDatabase, beside AutoBackup and read and written as it is.
struct ConfigForm {
  bool config = false;      // "Properties from and to config file"
  bool tips = false;        // "Display Tips"
  bool autoBackup = false;  // "Auto Backup (need more time and disk space)"
  MigrationOptions migration;
  ConnectionFields source;
  ConnectionFields target;
  friend bool operator==(const ConfigForm&, const ConfigForm&) = default;
};

inline constexpr const char* kConfigFileName = "migrator.cfg";
// %s: the file's full path.
inline constexpr const char* kConfigMissingMessage = "找不到有效配置文件(%s),检查配置文件路径!";
inline constexpr const char* kConfigSavedMessage = "The Config Infomation saved successfully!";
inline constexpr const char* kConfigNotSavedMessage = "The Config Infomation can not be saved!";

// A flag is on when its value contains "true" (case-sensitive).
bool ConfigFlagIsOn(std::string_view value);

class ConfigFile {
 public:
  explicit ConfigFile(const std::string& programDir);

  const std::string& path() const { return file_.path(); }

  // Load options (the dialog is being created): nothing happens when the file
  // cannot be opened. Otherwise Config, AutoBackup and the migration options
  // are set when on (and Config loads the connection properties), Tips is set
  // on or off, and the main window's Tips tab is shown or hidden to match.
  void LoadOptions(ConfigForm& form, Frontend& frontend) const;

  // Load connection properties: the five keys of SourceDB and of TargetDB
  // into the ten fields. When the file cannot be opened, the message
  // kConfigMissingMessage is shown, the fields stay as they are, and the
  // result is false.
  bool LoadConnectionProperties(ConfigForm& form, Frontend& frontend) const;

  // The Save Config button: with Config on, Config=true, Tips, AutoBackup,
  // the migration options and the ten fields; with Config off only
  // Config=false. Tells the person
  // kConfigSavedMessage, or kConfigNotSavedMessage with the reason when the
  // file could not be written.
  Status SaveConfig(const ConfigForm& form, Frontend& frontend) const;

  // The Connect button: Config=false when off, then Tips, AutoBackup and the
  // migration options always, then with Config on Config=true and the ten
  // fields. Shows nothing.
  Status SaveOnConnect(const ConfigForm& form) const;

 private:
  ProfileFile file_;
};

}  // namespace migrator
