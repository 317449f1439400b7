#include "providers/registry.h"

#include <array>

#include "oledb/text.h"
#include "providers/odbc/odbc_provider.h"
#include "providers/workbook/workbook_provider.h"

namespace migrator::providers {
namespace {

// The registered providers. To add one, add its row here.
constexpr std::array kProviders = {
    ProviderEntry{odbc::kProviderId, odbc::kProviderName, odbc::kProviderLibrary,
                  &odbc::CreateDataSource},
    ProviderEntry{workbook::kProviderId, workbook::kProviderName, workbook::kProviderLibrary,
                  &workbook::CreateDataSource},
};

}  // namespace

std::span<const ProviderEntry> RegisteredProviders() {
  return kProviders;
}

const ProviderEntry* FindProvider(std::string_view id) {
  for (const auto& entry : kProviders) {
    if (oledb::EqualsNoCase(entry.id, id)) return &entry;
  }
  return nullptr;
}

HRESULT CreateDataSource(std::string_view id, std::shared_ptr<oledb::DataSource>& dataSource) {
  dataSource.reset();
  const ProviderEntry* entry = FindProvider(id);
  if (!entry || !entry->create) return hr::REGDB_E_CLASSNOTREG;
  auto provider = entry->create();
  if (!provider) return hr::E_OUTOFMEMORY;
  dataSource = std::make_shared<oledb::DataSource>(std::string(entry->id), std::move(provider));
  return hr::S_OK;
}

}  // namespace migrator::providers
