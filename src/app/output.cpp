#include "app/output.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace migrator {

std::string FormatV(const char* format, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, n);
  std::string big(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(big.data(), big.size() + 1, format, args);
  return big;
}

std::string Format(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string s = FormatV(format, args);
  va_end(args);
  return s;
}

std::string OutputTimestamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d:%02d:%03d ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

namespace {
// The first `limit` characters of UTF-8 text (never a part of a character).
std::string_view FirstChars(std::string_view text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (chars++ == limit) return text.substr(0, i);
  }
  return text;
}
}  // namespace

OutputLine MakeOutputLine(std::string_view message, std::string_view timestamp) {
  message = FirstChars(message, kMaxMessageChars);
  OutputLine line;
  if (message.size() >= 3 && message[1] == ':' && message[2] == ':' &&
      (message[0] == 'E' || message[0] == 'S' || message[0] == 'T')) {
    line.coloured = true;
    line.textColour = message[0] == 'E' ? kRed : message[0] == 'S' ? kGreen : kOrange;
    line.backColour = kWhite;
    message.remove_prefix(3);
  }
  line.text.reserve(timestamp.size() + message.size());
  line.text.append(timestamp).append(message);
  return line;
}

void WriteOutputText(Frontend& out, std::string_view message) {
  out.AppendOutput(MakeOutputLine(message, OutputTimestamp()));
}

void WriteOutputV(Frontend& out, const char* format, std::va_list args) {
  WriteOutputText(out, FormatV(format, args));
}

void WriteOutput(Frontend& out, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteOutputV(out, format, args);
  va_end(args);
}

bool OutputLog::Append(OutputLine line) {
  bool dropped = false;
  if (lines_.size() > kOutputLineCap) {
    lines_.pop_front();
    dropped = true;
  }
  lines_.push_back(std::move(line));
  return dropped;
}

}  // namespace migrator
