// Reads a 1,000,000-row, 10-column table through the text-row reader of the
// data-source layer (ODBC provider, MariaDB server) and, in the same run, with
// `mariadb --quick -B -e "select * from ..." > /dev/null`, and prints rows per
// second for both, their ratio and the peak memory of each. Reads of 1 %, 10 %
// and all of the rows first show whether memory grows with the rows read.
//
// Needs the private server: scripts/with-mariadb.sh build/bench/oledb_read_bench [rows]

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "oledb/data_source.h"
#include "oledb/slot.h"
#include "oledb/text_rows.h"
#include "providers/registry.h"

extern char** environ;

namespace {

using namespace migrator;
using bench::Clock;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

bool Run(oledb::Session& session, const std::string& sql) {
  auto run = oledb::RunCommand(session, sql, oledb::StandardRowsetProperties());
  if (hr::Failed(run.hr)) std::fprintf(stderr, "%s: %s\n", sql.c_str(), run.ErrorText().c_str());
  return hr::Succeeded(run.hr);
}

// Runs the client with its output thrown away; the elapsed seconds, or -1.
double TimeClient(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int rounds = 3;
  const std::string host = Env("MIGRATOR_TEST_MYSQL_HOST"), port = Env("MIGRATOR_TEST_MYSQL_PORT"),
                    user = Env("MIGRATOR_TEST_MYSQL_USER"),
                    password = Env("MIGRATOR_TEST_MYSQL_PASSWORD");
  if (port.empty() || user.empty()) {
    std::fprintf(stderr, "oledb_read_bench: no server; run it under scripts/with-mariadb.sh\n");
    return 2;
  }

  std::shared_ptr<oledb::DataSource> ds;
  if (hr::Failed(providers::CreateDataSource("MSDASQL", ds))) return 1;
  oledb::PropertySet init(oledb::PropertySetId::DBInit);
  init.Add(oledb::DBPROP_AUTH_PASSWORD, oledb::Variant::Bstr(password));
  init.Add(oledb::DBPROP_AUTH_USERID, oledb::Variant::Bstr(user));
  init.Add(oledb::DBPROP_INIT_PROVIDERSTRING,
           oledb::Variant::Bstr(";Driver={MariaDB Unicode};SERVER=" + host + ";PORT=" + port +
                                ";UID=root;"));
  if (hr::Failed(ds->SetProperties(init)) || hr::Failed(ds->Initialize())) {
    std::fprintf(stderr, "connect: %s\n",
                 oledb::ErrorDescription(ds.get(), oledb::Iid::IDBInitialize).c_str());
    return 1;
  }
  std::shared_ptr<oledb::Session> session;
  if (hr::Failed(ds->CreateSession(session))) return 1;
  oledb::SessionSlot slot;
  slot.Set(session);

  const std::string db = "bench_oledb_" + std::to_string(::getpid());
  const std::string table = db + ".t";
  if (!Run(*session, "create database " + db + " character set utf8mb4") ||
      !Run(*session, "use " + db) ||
      !Run(*session, "create table " + table +
                         " (id int primary key, name varchar(40), city varchar(30), amount "
                         "decimal(12,2), qty int, price double, created datetime, note "
                         "varchar(100), flag tinyint, code char(8))") ||
      !Run(*session, "insert into " + table +
                         " select seq, concat('customer name ', seq), concat('City ', seq % 977),"
                         " seq * 1.25, seq % 1000, seq / 7.0,"
                         " '2024-01-01 00:00:00' + interval seq second,"
                         " concat('a note about row ', seq, ' with some words'), seq % 2,"
                         " lpad(seq, 8, '0') from seq_1_to_" +
                         std::to_string(rows))) {
    Run(*session, "drop database if exists " + db);
    return 1;
  }

  std::printf("table: %ld rows x 10 columns (%s)\n", rows, table.c_str());
  // Reads `limit` rows (all when 0); the seconds, or -1 after a failure.
  auto read = [&](long limit, std::size_t& bytes) {
    std::size_t count = 0;
    bytes = 0;
    const std::string sql =
        "select * from " + table + (limit ? " limit " + std::to_string(limit) : std::string());
    const bench::Watch watch;
    auto r = oledb::ReadTextRows(&slot, sql, [&](const oledb::TextRow& row) {
      ++count;
      for (const auto& v : row.values)
        bytes += v.size();
      return true;
    });
    const double seconds = watch.Wall();
    const long expected = limit ? limit : rows;
    if (r.outcome != oledb::TextReadOutcome::Rows || static_cast<long>(count) != expected) {
      std::fprintf(stderr, "read failed: %s (%zu rows)\n", r.errorText.c_str(), count);
      return -1.0;
    }
    return seconds;
  };

  std::size_t bytes = 0;
  for (long limit : {rows / 100, rows / 10, rows}) {
    const double seconds = read(limit, bytes);
    if (seconds < 0) {
      Run(*session, "drop database if exists " + db);
      return 1;
    }
    std::printf("read %8ld rows: %.3f s, peak memory so far %.1f MiB\n", limit, seconds,
                bench::PeakMiB());
  }

  double best = 1e9, bestClient = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const double seconds = read(0, bytes);
    if (seconds < 0) {
      Run(*session, "drop database if exists " + db);
      return 1;
    }
    best = std::min(best, seconds);

    const double client =
        TimeClient({"mariadb", "--no-defaults", "--quick", "-B", "-h", host, "-P", port, "-u", user,
                    "--password=" + password, "-e", "select * from " + table});
    if (client < 0) {
      std::fprintf(stderr, "the mariadb client failed\n");
      Run(*session, "drop database if exists " + db);
      return 1;
    }
    bestClient = std::min(bestClient, client);
    std::printf("round %d: layer %.3f s, client %.3f s\n", round + 1, seconds, client);
  }
  Run(*session, "drop database if exists " + db);

  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf(
      "text-row reader : %10.0f rows/s  (%.3f s, %.1f MB of text, %.1f MB/s), peak %.1f MiB\n",
      rows / best, best, bytes / 1e6, bytes / 1e6 / best, bench::PeakMiB());
  std::printf("mariadb --quick : %10.0f rows/s  (%.3f s, process start included), peak %.1f MiB\n",
              rows / bestClient, bestClient, children.ru_maxrss / 1024.0);
  std::printf("layer / client time: %.2fx\n", best / bestClient);
  return 0;
}
