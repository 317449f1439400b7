#include "providers/odbc/connection_string.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "oledb/text.h"

namespace migrator::providers::odbc {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

using Keys = std::span<const std::string_view>;

bool IsOneOf(std::string_view keyword, Keys names) {
  return std::any_of(names.begin(), names.end(),
                     [&](std::string_view n) { return oledb::EqualsNoCase(keyword, n); });
}

bool NeedsBraces(std::string_view value) {
  if (value.empty()) return false;
  return value.find_first_of(" \t;{}=") != std::string_view::npos;
}

constexpr std::string_view kUserKeys[] = {"UID", "USER"};
constexpr std::string_view kPasswordKeys[] = {"PWD", "PASSWORD"};
constexpr std::string_view kDriverKeys[] = {"DRIVER"};
constexpr std::string_view kDsnKeys[] = {"DSN", "FILEDSN"};

}  // namespace

std::vector<ConnectionAttribute> ParseConnectionString(std::string_view text) {
  std::vector<ConnectionAttribute> out;
  std::size_t i = 0;
  while (i < text.size()) {
    // keyword up to "=" or ";"
    std::size_t end = text.find_first_of("=;", i);
    if (end == std::string_view::npos) end = text.size();
    std::string_view keyword = Trim(text.substr(i, end - i));
    if (end == text.size() || text[end] == ';') {
      // a segment without "=": kept as a keyword with no value unless empty
      if (!keyword.empty()) out.push_back({std::string(keyword), {}});
      i = end + 1;
      continue;
    }
    i = end + 1;  // past "="
    std::size_t j = i;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t'))
      ++j;
    std::string value;
    if (j < text.size() && text[j] == '{') {
      ++j;
      for (;;) {
        if (j >= text.size()) break;  // unterminated: the rest is the value
        if (text[j] == '}') {
          if (j + 1 < text.size() && text[j + 1] == '}') {
            value += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += text[j++];
      }
      // anything up to the next ";" after the closing brace is dropped
      std::size_t semi = text.find(';', j);
      i = semi == std::string_view::npos ? text.size() : semi + 1;
    } else {
      std::size_t semi = text.find(';', i);
      if (semi == std::string_view::npos) semi = text.size();
      value = std::string(Trim(text.substr(i, semi - i)));
      i = semi + 1;
    }
    if (!keyword.empty()) out.push_back({std::string(keyword), std::move(value)});
  }
  return out;
}

std::string EscapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '{';
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

std::string FormatConnectionString(const std::vector<ConnectionAttribute>& attributes) {
  std::string out;
  for (const auto& a : attributes) {
    out += a.keyword;
    out += '=';
    out += NeedsBraces(a.value) ? EscapeValue(a.value) : a.value;
    out += ';';
  }
  return out;
}

std::string BuildConnectionString(const oledb::PropertySet& init) {
  using namespace oledb;
  std::vector<ConnectionAttribute> attrs =
      ParseConnectionString(init.FindText(DBPROP_INIT_PROVIDERSTRING).value_or(""));
  auto remove = [&attrs](Keys keys) {
    std::erase_if(attrs, [&](const ConnectionAttribute& a) { return IsOneOf(a.keyword, keys); });
  };
  auto has = [&attrs](Keys keys) {
    return std::any_of(attrs.begin(), attrs.end(),
                       [&](const ConnectionAttribute& a) { return IsOneOf(a.keyword, keys); });
  };

  std::vector<ConnectionAttribute> added;
  const std::string dataSource = init.FindText(DBPROP_INIT_DATASOURCE).value_or("");
  if (!dataSource.empty() && !has(kDriverKeys)) {
    remove(kDsnKeys);
    attrs.insert(attrs.begin(), ConnectionAttribute{"DSN", dataSource});
  }

  const std::string user = init.FindText(DBPROP_AUTH_USERID).value_or("");
  const auto password = init.FindText(DBPROP_AUTH_PASSWORD);
  if (!user.empty()) {
    remove(kUserKeys);
    remove(kPasswordKeys);
    added.push_back({"UID", user});
    added.push_back({"PWD", password.value_or("")});
  } else if (password && !password->empty()) {
    remove(kPasswordKeys);
    added.push_back({"PWD", *password});
  }

  // Attributes of the base are written back as they came; the ones the
  // properties supply are always braced.
  std::string out = FormatConnectionString(attrs);
  for (const auto& a : added) {
    out += a.keyword;
    out += '=';
    out += EscapeValue(a.value);
    out += ';';
  }
  return out;
}

std::string InitValuesProblem(const oledb::PropertySet& init) {
  using namespace oledb;
  static constexpr struct {
    DBPROPID id;
    const char* name;
  } kValues[] = {
      {DBPROP_AUTH_USERID, "user name"},
      {DBPROP_AUTH_PASSWORD, "password"},
      {DBPROP_INIT_DATASOURCE, "data source name"},
      {DBPROP_INIT_CATALOG, "database name"},
      {DBPROP_INIT_PROVIDERSTRING, "connection string"},
  };
  for (const auto& v : kValues) {
    const std::string text = init.FindText(v.id).value_or("");
    for (unsigned char c : text) {
      if (c < 0x20 || c == 0x7F) {
        char code[8];
        std::snprintf(code, sizeof code, "%02X", c);
        return std::string("The ") + v.name + " holds a control character (0x" + code +
               "), which cannot be passed to the ODBC driver.";
      }
    }
  }
  const std::string password = init.FindText(DBPROP_AUTH_PASSWORD).value_or("");
  if (!password.empty() && (password.front() == ' ' || password.back() == ' ')) {
    return "The password begins or ends with a blank, which the ODBC driver drops, so the "
           "login would fail.";
  }
  return {};
}

std::string RedactConnectionString(std::string_view text) {
  auto attrs = ParseConnectionString(text);
  for (auto& a : attrs) {
    if (IsOneOf(a.keyword, kPasswordKeys)) a.value = "***";
  }
  return FormatConnectionString(attrs);
}

}  // namespace migrator::providers::odbc
