#pragma once
// What the ODBC provider reads from a statement's text before it sends it:
// the statement's kind, as far as the routing of its rows depends on it.
//
// Words are found outside quoted strings, quoted identifiers and comments;
// leading blanks, comments and opening parentheses are skipped. An executable
// comment ("/*!40101 ... */", "/*M!100100 ... */") counts as the text it holds.

#include <string>
#include <string_view>

namespace migrator::providers::odbc {

// The statement's first word in upper case ("" for none).
std::string LeadingKeyword(std::string_view statement);

// True for a statement that returns rows which the MariaDB driver takes for
// a statement without rows: it leaves them unread and the connection breaks
// on its next statement. Such statements (VALUES, HELP, OPTIMIZE, REPAIR, XA,
// CACHE INDEX, LOAD INDEX, SET STATEMENT ... FOR a query, a query inside an
// executable comment) are refused instead of sent. `kind` gets the words that
// name it, for the message.
bool DriverLosesRows(std::string_view statement, std::string& kind);

// True for a query that only reads and whose result depends on no session
// state but the current database and the character-set, time-zone and
// SQL-mode settings: a SELECT (or WITH ... SELECT) that uses no variable
// ("@"), stores nothing (INTO), locks nothing (FOR UPDATE, LOCK IN SHARE
// MODE) and calls none of the functions that answer for the session
// (LAST_INSERT_ID, FOUND_ROWS, CONNECTION_ID, GET_LOCK, sequences ...).
// Such a query may run on another connection of the same login.
bool ReadsOnly(std::string_view statement);

// True for a statement after which the session holds state that another
// connection cannot see: a transaction, table locks, temporary tables, an open
// handler, autocommit switched off.
bool BindsSession(std::string_view statement);

// True for a statement that may change the session's current database or its
// character-set, time-zone or SQL-mode settings (USE, SET, executable
// comments holding one of them).
bool MayChangeSessionSettings(std::string_view statement);

}  // namespace migrator::providers::odbc
