#pragma once
// RegExpService: replace every match of a pattern, or fetch the last match.
//
// Patterns and replacements have the meaning of a JavaScript RegExp with the
// global flag and no other flag:
//   - matching is case-sensitive and greedy;
//   - "." matches any character except a line break (\n, \r, U+2028, U+2029);
//   - "^" and "$" match only at the very start and the very end of the text;
//   - negated classes such as "[^,]" and "\s" match line breaks;
//   - a backreference to a group that did not take part matches nothing.
// In a replacement "$1".."$99" is a group, "$&" the match, "$`" and "$'" the
// text before and after it, "$<name>" a named group and "$$" a dollar; any
// other "$" stands for itself. After an empty match the search goes on one
// character further, so every position is tried once.
//
// Texts are UTF-8. A text or pattern that is not valid UTF-8 is matched byte
// by byte instead. Every call stands alone: nothing is kept between calls, so
// any thread may call at any time.
//
// A pattern that does not compile, or a match that runs past the engine's
// limits (a pathological pattern over a large text), gives the failure
// result kFailure ("Error") instead of a text; nothing is shown and nothing
// is thrown.

#include <string>

namespace migrator {

class RegExpService {
 public:
  static constexpr const char* kFailure = "Error";

  // The source text with every match of the pattern replaced by the
  // replacement text.
  static std::string Replace(const std::string& source, const std::string& pattern,
                             const std::string& replacement);

  // The value of the last match of the pattern in the source text; empty when
  // nothing matches. Callers test whether a pattern occurs at all by testing
  // this for emptiness.
  static std::string LastMatch(const std::string& source, const std::string& pattern);
};

}  // namespace migrator
