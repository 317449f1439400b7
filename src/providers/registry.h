#pragma once
// The provider registry: the data providers compiled into the program, keyed
// by provider identifier (what a ProgID is elsewhere). The table is constant;
// a provider is added by adding its row in registry.cpp.

#include <memory>
#include <span>
#include <string_view>

#include "oledb/data_source.h"
#include "oledb/provider.h"
#include "support/hresult.h"

namespace migrator::providers {

struct ProviderEntry {
  std::string_view id;       // provider identifier, e.g. "MSDASQL"
  std::string_view name;     // display name, e.g. "Microsoft OLE DB Provider for ODBC Drivers"
  std::string_view library;  // the library it loads ("libodbc.so.2"); empty when built in
  oledb::ProviderFactory create;
};

// Every registered provider, in table order.
std::span<const ProviderEntry> RegisteredProviders();

// The entry for an identifier (compared without regard to case), or null.
const ProviderEntry* FindProvider(std::string_view id);

// Creates the data source object of a provider, uninitialised. An unknown
// identifier fails with hr::REGDB_E_CLASSNOTREG, as an unregistered class
// does.
HRESULT CreateDataSource(std::string_view id, std::shared_ptr<oledb::DataSource>& dataSource);

}  // namespace migrator::providers
