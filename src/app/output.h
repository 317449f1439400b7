#pragma once
// WriteOutput and the output-pane line model: timestamped lines, coloured by a
// three-character prefix, at most 1001 of them.

#include <cstdarg>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "app/frontend.h"

namespace migrator {

inline constexpr std::size_t kMaxMessageChars = 1024;
inline constexpr std::size_t kOutputLineCap = 1000;  // more than this: drop the oldest

inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kOrange{255, 128, 0};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kSelectionBlue{0, 0, 255};

// Status texts of the controller pane.
inline constexpr const char* kStatusIdle = "Main Controller:IDLE";
inline constexpr const char* kStatusWorking = "Some Tasks are WORKING!!!";
inline constexpr const char* kStatusStopped = "NO PROCESSING!!!";

// Formats with printf conversions, cuts at 1024 characters, strips and applies
// a colour prefix, stamps the local time and hands the line to the frontend.
void WriteOutput(Frontend& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void WriteOutputV(Frontend& out, const char* format, std::va_list args);
// The same for a finished message: nothing in it is interpreted.
void WriteOutputText(Frontend& out, std::string_view message);

// The line that WriteOutputText would hand over, for a given timestamp.
OutputLine MakeOutputLine(std::string_view message, std::string_view timestamp);
// "YYYY/MM/DD hh:mm:ss:mmm " for the current local time.
std::string OutputTimestamp();

// printf into a std::string, with no length limit.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, std::va_list args);

// The lines a pane holds: appending the 1002nd line drops the oldest.
class OutputLog {
 public:
  // Returns true when the oldest line was dropped to make room.
  bool Append(OutputLine line);
  const std::deque<OutputLine>& lines() const { return lines_; }
  std::size_t size() const { return lines_.size(); }
  void Clear() { lines_.clear(); }

 private:
  std::deque<OutputLine> lines_;
};

}  // namespace migrator
