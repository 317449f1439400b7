#include "cli/sql_target.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "adapters/excel/excel_adapter.h"
#include "app/workspace.h"
#include "cli/options.h"
#include "cli/print_rows.h"
#include "oledb/data_source.h"
#include "oledb/errors.h"
#include "providers/registry.h"

namespace migrator::cli {
namespace {

void TargetUsage() {
  std::fprintf(stderr, "Usage: migrator-cli sql [--quiet] --target FILE.xls|FILE.xlsx STATEMENT\n");
  std::fputs(kWorkbookLockUsage, stderr);
}

struct TargetArgs {
  std::string workbook;
  std::string statement;
  bool quiet = false;
};

std::optional<TargetArgs> ParseTargetArgs(const Args& args) {
  TargetArgs out;
  std::optional<std::string> workbook, statement;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--target") {
      if (i + 1 >= args.size() || workbook) return std::nullopt;
      workbook = args[++i];
    } else if (a == "--quiet" || a == "-q") {
      out.quiet = true;
    } else if (a == "--") {
      if (i + 2 != args.size() || statement) return std::nullopt;
      statement = args[++i];
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return std::nullopt;
    } else {
      if (statement) return std::nullopt;
      statement = a;
    }
  }
  if (!workbook || workbook->empty() || !statement) return std::nullopt;
  out.workbook = std::move(*workbook);
  out.statement = std::move(*statement);
  return out;
}

}  // namespace

bool IsTargetSql(const Args& args) {
  for (const auto& a : args) {
    if (a == "--") break;
    if (a == "--target") return true;
  }
  return false;
}

int RunSqlTarget(const Args& args) {
  const auto parsed = ParseTargetArgs(args);
  if (!parsed) {
    TargetUsage();
    return 2;
  }

  // The properties the window's target side is opened with.
  ConnectionSettings settings;
  settings.providerId = kJetProvider;
  settings.sourceName = parsed->workbook;
  oledb::PropertySet init(oledb::PropertySetId::DBInit);
  ExcelAdapter::BuildInitProperties(settings, init);

  std::shared_ptr<oledb::DataSource> dataSource;
  if (hr::Failed(providers::CreateDataSource(kJetProvider, dataSource))) {
    std::fprintf(stderr, "migrator-cli sql: the workbook provider is not available\n");
    return 1;
  }
  if (hr::Failed(dataSource->SetProperties(init)) || hr::Failed(dataSource->Initialize())) {
    std::fprintf(stderr, "%s\n",
                 oledb::ErrorDescription(dataSource.get(), oledb::Iid::IDBInitialize).c_str());
    return 1;
  }
  std::shared_ptr<oledb::Session> session;
  if (hr::Failed(dataSource->CreateSession(session))) {
    std::fprintf(stderr, "%s\n",
                 oledb::ErrorDescription(dataSource.get(), oledb::Iid::IDBCreateSession).c_str());
    return 1;
  }

  const auto result = PrintRows(session, parsed->statement);
  // The rows an INSERT added are saved now, so that a save that fails is
  // reported instead of being lost with the release.
  if (result.outcome == oledb::TextReadOutcome::NoRowset ||
      result.outcome == oledb::TextReadOutcome::Rows) {
    if (hr::Failed(session->Flush())) {
      std::fprintf(stderr, "%s\n",
                   oledb::ErrorDescription(session.get(), oledb::Iid::ITransaction).c_str());
      return 1;
    }
  }
  session.reset();
  dataSource.reset();
  return RowsExitCode(result, parsed->quiet);
}

}  // namespace migrator::cli
