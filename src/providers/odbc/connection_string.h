#pragma once
// ODBC connection strings: parsing, escaping and the string the ODBC provider
// connects with.

#include <string>
#include <string_view>
#include <vector>

#include "oledb/properties.h"

namespace migrator::providers::odbc {

struct ConnectionAttribute {
  std::string keyword;  // as written, without surrounding blanks
  std::string value;    // unescaped
};

// Splits "KEY=value;KEY={va;l}}ue};..." into attributes. Empty segments are
// skipped; a braced value runs to its closing "}" ("}}" stands for "}"); an
// unterminated brace takes the rest of the string.
std::vector<ConnectionAttribute> ParseConnectionString(std::string_view text);

// A value as it must be written into a connection string: always braced,
// with "}" doubled, so that no ";", "=", "{" or "}" in it can end it early.
std::string EscapeValue(std::string_view value);

// "KEY=value;" for every attribute, values escaped where they need it.
std::string FormatConnectionString(const std::vector<ConnectionAttribute>& attributes);

// The string SQLDriverConnect gets for a set of initialisation properties:
//  - DBPROP_INIT_PROVIDERSTRING is the base;
//  - DBPROP_INIT_DATASOURCE, when not empty and the base names no DRIVER,
//    becomes DSN (replacing any DSN of the base);
//  - DBPROP_AUTH_USERID, when not empty, replaces the base's UID/USER and its
//    password with DBPROP_AUTH_PASSWORD (even an empty one); without a user
//    ID a non-empty DBPROP_AUTH_PASSWORD still replaces PWD/PASSWORD.
// Every value the properties supply is escaped. The catalog is not part of
// the string: it is selected after connecting.
std::string BuildConnectionString(const oledb::PropertySet& init);

// Why the initialisation values cannot be handed to the driver as they are,
// or "" when they can: a control character in the user name, password, data
// source name, database name or provider string (a NUL would end the string
// there and drop what follows, the credentials included), or a password with
// a blank at either end (the driver drops such blanks, even inside braces).
std::string InitValuesProblem(const oledb::PropertySet& init);

// The string with the values of UID/PWD-like keywords replaced by "***", for
// logs and messages.
std::string RedactConnectionString(std::string_view text);

}  // namespace migrator::providers::odbc
