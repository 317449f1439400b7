#include "support/regexp_service.h"

#include "platform/text.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>

namespace migrator {
namespace {

// Limits of one match attempt. They bound the work a pathological pattern can
// do at one starting point; real patterns over real texts stay far below.
constexpr std::uint32_t kMatchLimit = 20'000'000;
constexpr std::uint32_t kDepthLimit = 1'000'000;
constexpr std::size_t kHeapLimitKiB = 256 * 1024;
constexpr std::size_t kJitStackStart = 32 * 1024;
constexpr std::size_t kJitStackMax = 8 * 1024 * 1024;

struct CodeDeleter {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct JitStackDeleter {
  void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;
using MatchContextPtr = std::unique_ptr<pcre2_match_context, MatchContextDeleter>;
using JitStackPtr = std::unique_ptr<pcre2_jit_stack, JitStackDeleter>;

// Length of the character that starts at byte i (1 outside UTF mode).
std::size_t CharLength(std::string_view s, std::size_t i, bool utf) {
  if (!utf) return 1;
  std::size_t len = 1;
  while (i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80)
    ++len;
  return len;
}

// The engine's own syntax differs from the meaning we give patterns in a few
// places; this rewrites those constructs into engine syntax:
//   "."          -> any character but \n, \r, U+2028 and U+2029
//   "\s", "\S"   -> the JavaScript white-space set and its complement (the
//                   engine's own set lacks the Unicode spaces)
//   "[" in a class is an ordinary character ("[[:alpha:]]" has no special
//   meaning), so it is escaped.
// Everything else is copied unchanged.
std::string TranslatePattern(std::string_view pattern, bool utf) {
  // Written with \uhhhh: the JavaScript escapes (PCRE2_ALT_BSUX) are on, and
  // with them the engine has no \x{...}. The engine's \s comes first, so that a range written
  // against it ("[a-\s]") keeps the engine's reading of the hyphen as an ordinary character.
  const std::string_view space =
      utf ? "\\s\\u00a0\\u1680\\u2000-\\u200a\\u2028\\u2029\\u202f\\u205f\\u3000\\ufeff" : "\\s";
  // The complement of that set, as ranges for use inside a class (U+10FFFF,
  // the last character, is written as itself).
  const std::string_view nonSpace =
      utf ? "\\x00-\\x08\\x0e-\\x1f\\x21-\\x9f\\u00a1-\\u167f\\u1681-\\u1fff\\u200b-\\u2027"
            "\\u202a-\\u202e\\u2030-\\u205e\\u2060-\\u2fff\\u3001-\\ufefe\\uff00-\xF4\x8F\xBF\xBF"
          : "\\S";
  const std::string_view dot = utf ? "[^\\n\\r\\u2028\\u2029]" : "[^\\n\\r]";
  std::string out;
  out.reserve(pattern.size() * 2);
  bool inClass = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      if (i + 1 >= pattern.size()) {
        out += c;  // a trailing backslash: the engine reports it
        continue;
      }
      const char e = pattern[i + 1];
      ++i;
      if ((e == 's' || e == 'S') && inClass) {
        out += e == 's' ? space : nonSpace;
        // A hyphen after the set is an ordinary character, not a range.
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
          out += "\\-";
          ++i;
        }
      } else if ((e == 's' || e == 'S') && !inClass) {
        out += e == 's' ? "[" : "[^";
        out += space;
        out += ']';
      } else if (e == 'Q' && !inClass) {
        // Quoted text runs to "\E" untouched.
        const std::size_t end = pattern.find("\\E", i + 1);
        const std::size_t stop = end == std::string_view::npos ? pattern.size() : end + 2;
        out.append(pattern.substr(i - 1, stop - (i - 1)));
        i = stop - 1;
      } else {
        out += c;
        out += e;
      }
      continue;
    }
    if (inClass) {
      if (c == ']') {
        inClass = false;  // "[]" and "[^]" too: the empty class and the class of all
        out += c;
      } else if (c == '[') {
        out += "\\[";
      } else {
        out += c;
      }
      continue;
    }
    if (c == '[') {
      inClass = true;
      out += c;
      if (i + 1 < pattern.size() && pattern[i + 1] == '^') {
        out += '^';
        ++i;
      }
      continue;
    }
    if (c == '.') {
      out += dot;
      continue;
    }
    out += c;
  }
  return out;
}

struct Compiled {
  CodePtr code;
  bool utf = false;
  std::uint32_t captureCount = 0;
  bool hasNames = false;
};

// Compiles in UTF mode when both pattern and subject are UTF-8, byte mode
// otherwise. Returns false when the pattern does not compile.
bool Compile(const std::string& pattern, bool subjectUtf, Compiled& out) {
  const bool utf = subjectUtf && IsValidUtf8(pattern);
  const std::string translated = TranslatePattern(pattern, utf);
  std::uint32_t options = PCRE2_DOLLAR_ENDONLY | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                          PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_BACKSLASH_C;
  if (utf) options |= PCRE2_UTF | PCRE2_NO_UTF_CHECK;
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
  if (!cctx) return false;
  pcre2_set_newline(cctx, PCRE2_NEWLINE_ANYCRLF);
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()),
                                   translated.size(), options, &error, &offset, cctx);
  pcre2_compile_context_free(cctx);
  if (!code) return false;
  out.code.reset(code);
  out.utf = utf;
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);  // without JIT the interpreter runs
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &out.captureCount);
  std::uint32_t names = 0;
  pcre2_pattern_info(code, PCRE2_INFO_NAMECOUNT, &names);
  out.hasNames = names > 0;
  return true;
}

// Walks the matches of a compiled pattern from left to right with the global
// flag's rules. Calls onMatch(ovector) for each; returns false when the engine
// fails (limits, memory).
template <class OnMatch>
bool ForEachMatch(const Compiled& re, std::string_view subject, OnMatch&& onMatch) {
  MatchDataPtr data(pcre2_match_data_create_from_pattern(re.code.get(), nullptr));
  MatchContextPtr mctx(pcre2_match_context_create(nullptr));
  if (!data || !mctx) return false;
  pcre2_set_match_limit(mctx.get(), kMatchLimit);
  pcre2_set_depth_limit(mctx.get(), kDepthLimit);
  pcre2_set_heap_limit(mctx.get(), kHeapLimitKiB);
  JitStackPtr jitStack(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
  if (jitStack) pcre2_jit_stack_assign(mctx.get(), nullptr, jitStack.get());

  const auto* subj = reinterpret_cast<PCRE2_SPTR>(subject.data());
  const std::uint32_t options = re.utf ? PCRE2_NO_UTF_CHECK : 0;
  std::size_t pos = 0;
  while (pos <= subject.size()) {
    const int rc =
        pcre2_match(re.code.get(), subj, subject.size(), pos, options, data.get(), mctx.get());
    if (rc == PCRE2_ERROR_NOMATCH) return true;
    if (rc < 0) return false;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
    const std::size_t start = ov[0], end = ov[1];
    // Only \K could move a match outside [pos, size]; such a match is refused.
    if (start < pos || start > end || end > subject.size()) return false;
    onMatch(ov);
    if (end == start) {
      if (end >= subject.size()) return true;
      pos = end + CharLength(subject, end, re.utf);
    } else {
      pos = end;
    }
  }
  return true;
}

std::string_view Group(std::string_view subject, const PCRE2_SIZE* ov, std::uint32_t n) {
  if (ov[2 * n] == PCRE2_UNSET || ov[2 * n + 1] == PCRE2_UNSET || ov[2 * n] > ov[2 * n + 1]) {
    return {};
  }
  return subject.substr(ov[2 * n], ov[2 * n + 1] - ov[2 * n]);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Appends the replacement for one match, with "$" forms expanded.
void Expand(const Compiled& re, std::string_view subject, const PCRE2_SIZE* ov,
            std::string_view replacement, std::string& out) {
  const std::uint32_t m = re.captureCount;
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const char c = replacement[i];
    if (c != '$' || i + 1 >= replacement.size()) {
      out += c;
      continue;
    }
    const char d = replacement[i + 1];
    if (d == '$') {
      out += '$';
      ++i;
    } else if (d == '&') {
      out.append(Group(subject, ov, 0));
      ++i;
    } else if (d == '`') {
      out.append(subject.substr(0, ov[0]));
      ++i;
    } else if (d == '\'') {
      out.append(subject.substr(ov[1]));
      ++i;
    } else if (IsDigit(d)) {
      // Two digits when they name a group, else one digit, else literal.
      const unsigned one = static_cast<unsigned>(d - '0');
      if (i + 2 < replacement.size() && IsDigit(replacement[i + 2])) {
        const unsigned two = one * 10 + static_cast<unsigned>(replacement[i + 2] - '0');
        if (two >= 1 && two <= m) {
          out.append(Group(subject, ov, two));
          i += 2;
          continue;
        }
      }
      if (one >= 1 && one <= m) {
        out.append(Group(subject, ov, one));
        ++i;
      } else {
        out += c;
      }
    } else if (d == '<' && re.hasNames) {
      const std::size_t close = replacement.find('>', i + 2);
      if (close == std::string_view::npos) {
        out += c;
        continue;
      }
      const std::string name(replacement.substr(i + 2, close - i - 2));
      const int n = pcre2_substring_number_from_name(re.code.get(),
                                                     reinterpret_cast<PCRE2_SPTR>(name.c_str()));
      if (n > 0) out.append(Group(subject, ov, static_cast<std::uint32_t>(n)));
      i = close;
    } else {
      out += c;
    }
  }
}

}  // namespace

std::string RegExpService::Replace(const std::string& source, const std::string& pattern,
                                   const std::string& replacement) {
  try {
    Compiled re;
    if (!Compile(pattern, IsValidUtf8(source), re)) return kFailure;
    std::string out;
    std::size_t copied = 0;
    const std::string_view subject(source);
    const bool ok = ForEachMatch(re, subject, [&](const PCRE2_SIZE* ov) {
      out.append(subject.substr(copied, ov[0] - copied));
      Expand(re, subject, ov, replacement, out);
      copied = ov[1];
    });
    if (!ok) return kFailure;
    out.append(subject.substr(copied));
    return out;
  } catch (const std::bad_alloc&) {
    return kFailure;
  }
}

std::string RegExpService::LastMatch(const std::string& source, const std::string& pattern) {
  try {
    Compiled re;
    if (!Compile(pattern, IsValidUtf8(source), re)) return kFailure;
    const std::string_view subject(source);
    std::size_t start = 0, end = 0;
    const bool ok = ForEachMatch(re, subject, [&](const PCRE2_SIZE* ov) {
      start = ov[0];
      end = ov[1];
    });
    if (!ok) return kFailure;
    return std::string(subject.substr(start, end - start));
  } catch (const std::bad_alloc&) {
    return kFailure;
  }
}

}  // namespace migrator
