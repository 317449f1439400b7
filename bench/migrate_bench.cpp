// Migrates a 65,535-row, 10-column table (texts, numbers, dates, NULLs) from
// the private server into a new workbook with `migrator-cli migrate` (header
// formatting included), then again with --typed (the same table with typed
// cells; the two take turns at going first), and, in the same run, times
//   - the floor: `mariadb --quick -B -e "select * from ..." > /dev/null`;
//   - the peer: migrate_peer.py, the same copy with MySQLdb and xlwt (for
//     .xlsx: XlsxWriter in its constant-memory mode);
// and prints each time, the ratios and each program's peak memory. The best of
// five rounds counts for each: the machine it runs on is shared.
//
// Needs the private server: scripts/with-mariadb.sh build/bench/migrate_bench
// [ROWS [xls|xlsx [ROUNDS]]]; with xlsx the workbook is an .xlsx one.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_clock.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using migrator::bench::Clock;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

struct Run {
  double seconds = -1;  // -1: the program failed
  int status = -1;
  double peakMiB = 0;
};

// Runs a program with its standard output (and with `quiet` its standard
// error) thrown away; its time, exit status and peak memory. What earlier
// steps left to write (the server loading the table, the previous program's
// workbook) is written out first, outside the time, so that no program
// waits for another's disk writes.
Run Spawn(const std::vector<std::string>& args, bool quiet = true) {
  ::sync();
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  Run run;
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = migrator::bench::Seconds(start, Clock::now());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

std::string PercentEncode(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool xlsx = argc > 2 && std::string(argv[2]) == "xlsx";
  const long rows = argc > 1 ? std::atol(argv[1]) : 65535;
  const std::string ext = xlsx ? ".xlsx" : ".xls";
  const char* peerName = xlsx ? "MySQLdb + XlsxWriter" : "MySQLdb + xlwt";
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const std::string host = Env("MIGRATOR_TEST_MYSQL_HOST"), port = Env("MIGRATOR_TEST_MYSQL_PORT"),
                    user = Env("MIGRATOR_TEST_MYSQL_USER"),
                    password = Env("MIGRATOR_TEST_MYSQL_PASSWORD"),
                    socket = Env("MIGRATOR_TEST_MYSQL_SOCKET");
  if (port.empty() || user.empty()) {
    std::fprintf(stderr, "migrate_bench: no server; run it under scripts/with-mariadb.sh\n");
    return 2;
  }
  const fs::path self = fs::canonical("/proc/self/exe").parent_path();
  const std::string cli = (self.parent_path() / "migrator-cli").string();
  const std::string peer = (fs::path(MIGRATOR_SOURCE_DIR) / "bench" / "migrate_peer.py").string();
  const fs::path work = fs::temp_directory_path() / ("migrate_bench_" + std::to_string(::getpid()));
  fs::create_directories(work);

  const std::string db = "bench_migrate_" + std::to_string(::getpid());
  auto sql = [&](const std::string& text) {
    return Spawn({"mariadb", "--no-defaults", "-uroot", "--socket=" + socket, "-e", text}, false)
               .status == 0;
  };
  const bool made =
      sql("create database " + db + " character set utf8mb4") &&
      sql("create table " + db +
          ".t (id int primary key, name varchar(40), city varchar(30), amount decimal(12,2), "
          "qty int, price double, created datetime, day date, note varchar(100), flag tinyint)") &&
      sql("insert into " + db +
          ".t select seq, concat('customer name ', seq), if(seq % 7 = 0, null, "
          "concat('City ', seq % 977)), seq * 1.25, seq % 1000, seq / 7.0, "
          "'2024-01-01 00:00:00' + interval seq second, '2000-01-01' + interval seq % 9000 day, "
          "if(seq % 5 = 0, null, concat('a note about row ', seq, ' with ''quoted'' words')), "
          "seq % 2 from " +
          db + ".seq_1_to_" + std::to_string(rows));
  if (!made) {
    sql("drop database if exists " + db);
    return 1;
  }
  std::printf("table: %ld rows x 10 columns (texts, numbers, dates, NULLs)\n", rows);

  const std::string url = "mysql://" + PercentEncode(user) + ":" + PercentEncode(password) + "@" +
                          host + ":" + port + "/" + db;
  const std::string book = (work / ("clone" + ext)).string();
  const std::string typedBook = (work / ("typed" + ext)).string();
  const std::string home = "MIGRATOR_HOME=" + (work / "home").string();
  fs::create_directories(work / "home");

  Run floor, ours, typed, python;
  bool peerMissing = false;
  auto keepBest = [](Run& best, const Run& run) {
    if (run.seconds >= 0 && (best.seconds < 0 || run.seconds < best.seconds)) best = run;
  };
  for (int round = 1; round <= rounds; ++round) {
    const Run f = Spawn({"mariadb", "--no-defaults", "--quick", "-B", "-h", host, "-P", port, "-u",
                         user, "--password=" + password, "-e", "select * from " + db + ".t"});
    // The plain and the typed migration take turns at going first.
    Run o, t;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == (round % 2 == 1)) {
        fs::remove(book);
        o = Spawn(
            {"env", home, cli, "migrate", "--yes", "--quiet", "--source", url, "--target", book});
      } else {
        fs::remove(typedBook);
        t = Spawn({"env", home, cli, "migrate", "--yes", "--quiet", "--typed", "--source", url,
                   "--target", typedBook});
      }
    }
    Run p;
    if (!peerMissing) {
      p = Spawn({"/usr/bin/python3", peer, host, port, user, password, db, "t",
                 (work / ("peer" + ext)).string()});
      peerMissing = p.status == 3;
    }
    if (f.status != 0 || o.status != 0 || t.status != 0 || (!peerMissing && p.status != 0)) {
      std::fprintf(stderr, "round %d failed: mariadb %d, migrator-cli %d, --typed %d, peer %d\n",
                   round, f.status, o.status, t.status, p.status);
      sql("drop database if exists " + db);
      fs::remove_all(work);
      return 1;
    }
    keepBest(floor, f);
    keepBest(ours, o);
    keepBest(typed, t);
    if (!peerMissing) keepBest(python, p);
    std::printf("round %d: mariadb --quick %.3f s, migrator-cli %.3f s, --typed %.3f s, peer %s\n",
                round, f.seconds, o.seconds, t.seconds,
                peerMissing ? "skipped" : (std::to_string(p.seconds) + " s").c_str());
  }
  const auto bytes = fs::file_size(book);
  const auto typedBytes = fs::file_size(typedBook);
  sql("drop database if exists " + db);
  fs::remove_all(work);

  std::printf("mariadb --quick -B (floor): %7.3f s  %9.0f rows/s  peak %6.1f MiB\n", floor.seconds,
              rows / floor.seconds, floor.peakMiB);
  std::printf(
      "migrator-cli migrate      : %7.3f s  %9.0f rows/s  peak %6.1f MiB  (%.1f MB "
      "workbook)\n",
      ours.seconds, rows / ours.seconds, ours.peakMiB, static_cast<double>(bytes) / 1e6);
  std::printf(
      "migrator-cli migrate --typed: %5.3f s  %9.0f rows/s  peak %6.1f MiB  (%.1f MB "
      "workbook)\n",
      typed.seconds, rows / typed.seconds, typed.peakMiB, static_cast<double>(typedBytes) / 1e6);
  if (peerMissing) {
    std::printf("%s (peer): skipped, python3-mysqldb or the writer module missing\n", peerName);
  } else {
    std::printf("%-20s (peer): %7.3f s  %9.0f rows/s  peak %6.1f MiB\n", peerName, python.seconds,
                rows / python.seconds, python.peakMiB);
  }
  std::printf("migrator-cli / floor: %.2fx (target: at most %dx)\n", ours.seconds / floor.seconds,
              xlsx ? 4 : 5);
  std::printf("--typed / plain     : %.2fx (target: at most 1.20x)\n",
              typed.seconds / ours.seconds);
  if (!peerMissing) {
    std::printf("peer / migrator-cli : %.2fx (target: at least 8x)\n",
                python.seconds / ours.seconds);
  }
  return 0;
}
