#include "providers/odbc/statement_text.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <vector>

namespace migrator::providers::odbc {
namespace {

struct Words {
  std::vector<std::string> words;  // upper case, in order
  bool leadingInComment = false;   // the first word stands in an executable comment
  bool variable = false;           // an "@" outside quotes and comments
  bool moreStatements = false;     // a ";" followed by more text
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

Words Scan(std::string_view s) {
  Words out;
  bool inExecutable = false;  // inside "/*! ... */": its text counts
  bool afterSemicolon = false;
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const char c = s[i];
    if (c == '\'' || c == '"' || c == '`') {  // quoted: skipped whole
      std::size_t j = i + 1;
      while (j < n) {
        if (s[j] == '\\' && c != '`') {
          j += 2;
          continue;
        }
        if (s[j] == c) {
          if (j + 1 < n && s[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      i = j + 1;
      if (afterSemicolon) out.moreStatements = true;
      continue;
    }
    const bool dashes = s.substr(i, 2) == "--" &&
                        (i + 2 == n || std::isspace(static_cast<unsigned char>(s[i + 2])));
    if (c == '#' || dashes) {
      const auto eol = s.find('\n', i);
      i = eol == std::string_view::npos ? n : eol + 1;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      std::size_t j = i + 2;
      if (j < n && s[j] == 'M') ++j;
      if (j < n && s[j] == '!') {  // executable: skip the marker and version only
        ++j;
        while (j < n && std::isdigit(static_cast<unsigned char>(s[j])))
          ++j;
        inExecutable = true;
        i = j;
        continue;
      }
      const auto end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
      continue;
    }
    if (c == '*' && inExecutable && i + 1 < n && s[i + 1] == '/') {
      inExecutable = false;
      i += 2;
      continue;
    }
    if (c == '@') out.variable = true;
    if (c == ';') {
      afterSemicolon = true;
      ++i;
      continue;
    }
    if (IsWordChar(c)) {
      std::size_t j = i;
      while (j < n && IsWordChar(s[j]))
        ++j;
      if (out.words.empty()) out.leadingInComment = inExecutable;
      out.words.push_back(Upper(s.substr(i, j - i)));
      if (afterSemicolon) out.moreStatements = true;
      i = j;
      continue;
    }
    if (afterSemicolon && !std::isspace(static_cast<unsigned char>(c))) out.moreStatements = true;
    ++i;
  }
  return out;
}

bool OneOf(const std::string& w, std::initializer_list<std::string_view> set) {
  return std::find(set.begin(), set.end(), w) != set.end();
}

bool Has(const Words& w, std::initializer_list<std::string_view> set) {
  return std::any_of(w.words.begin(), w.words.end(),
                     [&](const std::string& x) { return OneOf(x, set); });
}

// Statements that return rows, by their first word.
bool RowStatement(const std::string& w) {
  return OneOf(w, {"SELECT", "WITH", "VALUES", "TABLE", "SHOW", "DESC", "DESCRIBE", "EXPLAIN",
                   "ANALYZE", "CALL", "CHECK", "CHECKSUM", "HELP", "OPTIMIZE", "REPAIR", "XA",
                   "CACHE", "EXECUTE", "HANDLER"});
}

}  // namespace

std::string LeadingKeyword(std::string_view statement) {
  const Words w = Scan(statement);
  return w.words.empty() ? std::string() : w.words.front();
}

bool DriverLosesRows(std::string_view statement, std::string& kind) {
  const Words w = Scan(statement);
  if (w.words.empty()) return false;
  const std::string& first = w.words.front();
  if (w.leadingInComment && (RowStatement(first) || Has(w, {"RETURNING"}))) {
    kind = "a " + first + " inside an executable comment";
    return true;
  }
  if (OneOf(first, {"VALUES", "HELP", "OPTIMIZE", "REPAIR", "XA", "CACHE"})) {
    kind = first;
    return true;
  }
  if (first == "LOAD" && w.words.size() > 1 && w.words[1] == "INDEX") {
    kind = "LOAD INDEX";
    return true;
  }
  if (first == "SET" && w.words.size() > 1 && w.words[1] == "STATEMENT") {
    const auto f = std::find(w.words.begin() + 2, w.words.end(), "FOR");
    if (f != w.words.end() && f + 1 != w.words.end() &&
        (RowStatement(*(f + 1)) || Has(w, {"RETURNING"}))) {
      kind = "SET STATEMENT ... FOR " + *(f + 1);
      return true;
    }
  }
  return false;
}

bool ReadsOnly(std::string_view statement) {
  const Words w = Scan(statement);
  if (w.words.empty() || w.leadingInComment || w.variable || w.moreStatements) return false;
  if (!OneOf(w.words.front(), {"SELECT", "WITH"})) return false;
  return !Has(w, {"INTO",
                  "UPDATE",
                  "SHARE",
                  "LOCK",
                  "INSERT",
                  "DELETE",
                  "REPLACE",
                  "TEMPORARY",
                  "LAST_INSERT_ID",
                  "FOUND_ROWS",
                  "ROW_COUNT",
                  "CONNECTION_ID",
                  "GET_LOCK",
                  "RELEASE_LOCK",
                  "RELEASE_ALL_LOCKS",
                  "IS_USED_LOCK",
                  "IS_FREE_LOCK",
                  "NEXTVAL",
                  "LASTVAL",
                  "SETVAL",
                  "NEXT",
                  "PREVIOUS",
                  "SQL_CALC_FOUND_ROWS"});
}

bool BindsSession(std::string_view statement) {
  const Words w = Scan(statement);
  if (w.words.empty()) return false;
  const std::string& first = w.words.front();
  const std::string second = w.words.size() > 1 ? w.words[1] : std::string();
  if (OneOf(first, {"START", "LOCK", "XA", "HANDLER", "SAVEPOINT"})) return true;
  if (first == "BEGIN") return second != "NOT";  // BEGIN NOT ATOMIC is a compound statement
  if (first == "CREATE") return Has(w, {"TEMPORARY"});
  if (first == "SET") return Has(w, {"AUTOCOMMIT", "TRANSACTION"});
  return false;
}

bool MayChangeSessionSettings(std::string_view statement) {
  const Words w = Scan(statement);
  if (w.words.empty()) return false;
  if (w.leadingInComment || w.moreStatements) return true;
  return !OneOf(w.words.front(),
                {"SELECT", "WITH",     "SHOW",   "DESC",     "DESCRIBE", "EXPLAIN", "ANALYZE",
                 "CHECK",  "CHECKSUM", "INSERT", "UPDATE",   "DELETE",   "REPLACE", "CREATE",
                 "ALTER",  "DROP",     "RENAME", "TRUNCATE", "GRANT",    "REVOKE",  "FLUSH"});
}

}  // namespace migrator::providers::odbc
