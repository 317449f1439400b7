#include "support/condition_file.h"

namespace migrator {

ConditionFile::ConditionFile(const std::string& programDir)
    : file_((programDir.empty() ? std::string(".") : programDir) +
                (!programDir.empty() && programDir.back() == '/' ? "" : "/") + kFileName,
            0644) {}

Status ConditionFile::EnsureExists() const {
  return file_.CreateIfMissing();
}

std::string ConditionFile::Read(std::string_view database, std::string_view table) const {
  return file_.Read(database, table, "", kReadBuffer);
}

Status ConditionFile::Write(std::string_view database, std::string_view table,
                            std::string_view condition) const {
  return file_.Write(database, table, condition);
}

std::string ConditionFile::WhereClause(std::string_view database, std::string_view table) const {
  const std::string condition = Read(database, table);
  // A condition of blanks only is no condition (the platform's reader dropped
  // such blanks; here they would survive as a quoted value).
  if (condition.find_first_not_of(" \t\v\f\r\n") == std::string::npos) return {};
  return " where " + condition;
}

}  // namespace migrator
