#pragma once
// Helpers shared by the tests.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace migrator::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable for the object's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Holds the process's file-size limit at `bytes` for the object's lifetime,
// with SIGXFSZ ignored, so that writing past it fails with EFBIG as a full
// disk or a quota would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  unsigned long long oldSoft_ = 0;
  void (*oldHandler_)(int) = nullptr;
};

// The private MariaDB server that scripts/with-mariadb.sh started, or nothing
// when the tests run without one.
struct MySqlServer {
  std::string host, port, socket, user, password, rootUser;
};
std::optional<MySqlServer> TestMySqlServer();

// Polls the condition until it holds or the time is up; its last value.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(60));

// Runs a shell command, returns its exit status and standard output.
struct CommandResult {
  int status = -1;
  std::string out;
};
CommandResult RunCommand(const std::string& command);

// A shell command run in the background as a child of the test ("exec"ed,
// so its process id is the program's). Signals reach the program itself.
class BackgroundCommand {
 public:
  explicit BackgroundCommand(const std::string& command);
  ~BackgroundCommand();  // a program still running is killed and reaped
  BackgroundCommand(const BackgroundCommand&) = delete;
  BackgroundCommand& operator=(const BackgroundCommand&) = delete;
  int pid() const { return pid_; }
  void Signal(int signal) const;
  // Waits for the end: the exit status, or 128 + the signal that ended it.
  int Wait();

 private:
  int pid_ = -1;
  int status_ = -1;
};

// A text as one word of a shell command line, in single quotes.
std::string ShellQuote(const std::string& s);
// Appends a text as a JSON string ("..." with quotes, backslashes and control
// characters escaped), for arguments of the Python checks.
void AppendJsonString(std::string& out, const std::string& s);
// Every byte but letters and digits as %XX, for a URL.
std::string PercentEncode(const std::string& s);
// The private server's mariadb client, logged in as root (setup and cleanup).
std::string RootClient(const MySqlServer& server);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

}  // namespace migrator::testing

// Skips the current test when no private MariaDB server is available.
#define MIGRATOR_REQUIRE_MYSQL(var)                                                  \
  auto var##_opt = ::migrator::testing::TestMySqlServer();                           \
  if (!var##_opt) GTEST_SKIP() << "no private MariaDB server (run scripts/test.sh)"; \
  const auto& var = *var##_opt
