#include "config/config_file.h"

#include <vector>

#include "app/output.h"

namespace migrator {
namespace {

constexpr const char* kPublic = "Public";
constexpr const char* kSourceDb = "SourceDB";
constexpr const char* kTargetDb = "TargetDB";

const char* FlagText(bool on) {
  return on ? "true" : "false";
}

// The migration options' keys in Public.
struct OptionKey {
  const char* key;
  bool MigrationOptions::*flag;
};
constexpr OptionKey kMigrationKeys[] = {
    {"KeepColumnTypes", &MigrationOptions::typed},
    {"SplitSheets", &MigrationOptions::splitSheets},
    {"FilterButtons", &MigrationOptions::filters},
    {"OverwriteTable", &MigrationOptions::replaceTables},
    {"OverwriteDatabase", &MigrationOptions::replaceWorkbook},
};

// Tips and AutoBackup, then the migration options: each one that is on, or
// that the file already names (so that a file that never had them stays as
// it was).
void AddOptions(std::vector<ProfileEntry>& out, const ConfigForm& form, const ProfileText& now) {
  out.push_back({kPublic, "Tips", FlagText(form.tips)});
  out.push_back({kPublic, "AutoBackup", FlagText(form.autoBackup)});
  for (const auto& k : kMigrationKeys) {
    const bool on = form.migration.*k.flag;
    if (on || now.Get(kPublic, k.key)) out.push_back({kPublic, k.key, FlagText(on)});
  }
}

void AddFields(std::vector<ProfileEntry>& out, const char* section, const ConnectionFields& f) {
  out.push_back({section, "Provider", f.provider});
  out.push_back({section, "SourceName", f.sourceName});
  out.push_back({section, "UserID", f.userId});
  out.push_back({section, "PassWord", f.password});
  out.push_back({section, "CatalogName", f.catalogName});
}

}  // namespace

bool ConfigFlagIsOn(std::string_view value) {
  return value.find("true") != std::string_view::npos;
}

ConfigFile::ConfigFile(const std::string& programDir)
    : file_((programDir.empty() ? std::string(".") : programDir) +
                (!programDir.empty() && programDir.back() == '/' ? "" : "/") + kConfigFileName,
            0600, 0700) {}

void ConfigFile::LoadOptions(ConfigForm& form, Frontend& frontend) const {
  if (!file_.Readable()) return;
  const ProfileText text = file_.Snapshot();
  auto flag = [&](const char* key) { return ConfigFlagIsOn(text.Get(kPublic, key).value_or("")); };
  if (flag("Config")) {
    form.config = true;
    LoadConnectionProperties(form, frontend);
  }
  if (flag("AutoBackup")) form.autoBackup = true;
  for (const auto& k : kMigrationKeys) {
    if (flag(k.key)) form.migration.*k.flag = true;
  }
  form.tips = flag("Tips");
  frontend.SetTipsTabVisible(form.tips);
}

bool ConfigFile::LoadConnectionProperties(ConfigForm& form, Frontend& frontend) const {
  if (!file_.Readable()) {
    frontend.Tell(Format(kConfigMissingMessage, file_.path().c_str()));
    return false;
  }
  const ProfileText text = file_.Snapshot();
  auto load = [&](const char* section, ConnectionFields& f) {
    auto read = [&](const char* key) { return text.Get(section, key).value_or(""); };
    f.provider = read("Provider");
    f.sourceName = read("SourceName");
    f.userId = read("UserID");
    f.password = read("PassWord");
    f.catalogName = read("CatalogName");
  };
  load(kSourceDb, form.source);
  load(kTargetDb, form.target);
  return true;
}

Status ConfigFile::SaveConfig(const ConfigForm& form, Frontend& frontend) const {
  std::vector<ProfileEntry> entries;
  if (form.config) {
    entries.push_back({kPublic, "Config", "true"});
    AddOptions(entries, form, file_.Snapshot());
    AddFields(entries, kSourceDb, form.source);
    AddFields(entries, kTargetDb, form.target);
  } else {
    entries.push_back({kPublic, "Config", "false"});
  }
  Status saved = file_.Write(entries);
  if (saved) {
    frontend.Tell(kConfigSavedMessage);
  } else {
    frontend.Tell(std::string(kConfigNotSavedMessage) + "\r\n" + saved.message());
  }
  return saved;
}

Status ConfigFile::SaveOnConnect(const ConfigForm& form) const {
  std::vector<ProfileEntry> entries;
  if (!form.config) entries.push_back({kPublic, "Config", "false"});
  AddOptions(entries, form, file_.Snapshot());
  if (form.config) {
    entries.push_back({kPublic, "Config", "true"});
    AddFields(entries, kSourceDb, form.source);
    AddFields(entries, kTargetDb, form.target);
  }
  return file_.Write(entries);
}

}  // namespace migrator
