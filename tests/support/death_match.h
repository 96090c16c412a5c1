// What a death test's child wrote, matched by a regular expression of the
// standard library (ECMAScript syntax), so that a pattern means the same on
// every platform: googletest's own patterns are POSIX extended ones on POSIX
// systems but a much smaller syntax on Windows (no brackets, braces or
// groups).
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>

namespace talven::test {

class OutputMatches {
 public:
  using is_gtest_matcher = void;
  explicit OutputMatches(std::string pattern) : pattern_(std::move(pattern)), re_(pattern_) {}
  bool MatchAndExplain(const std::string& text, std::ostream*) const {
    return std::regex_search(text, re_);
  }
  void DescribeTo(std::ostream* os) const { *os << "contains regular expression " << pattern_; }
  void DescribeNegationTo(std::ostream* os) const {
    *os << "does not contain regular expression " << pattern_;
  }

 private:
  std::string pattern_;
  std::regex re_;
};

// The third argument of EXPECT_EXIT / EXPECT_DEATH.
inline ::testing::Matcher<const std::string&> output_matches(const std::string& pattern) {
  return OutputMatches(pattern);
}

}  // namespace talven::test
