#include "platform/find.hpp"

#include <gtest/gtest.h>

namespace texport::platform {
namespace {

TEST(WildcardMatch, ExtensionsMatchInAnyLetterCaseAndOnlyWhole) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.sfd", "a.sfd", true},
      {"*.sfd", "A.SFD", true},
      {"*.sfd", "x.Sfd", true},
      {"*.sfd", ".sfd", true},
      {"*.sfd", "a.sfdx", false},
      {"*.sfd", "asfd", false},
      {"*.sfd", "a.sfd.tif", false},
      {"*.sfd", "b.c.sfd", true},
      {"*.m8", "tile.M8", true},
      {"*.m8", "tile.m80", false},
      {"?.tex", "a.tex", true},
      {"?.tex", "ab.tex", false},
      {"*", "", true},
      {"*.sfd", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wildcard_match(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

}  // namespace
}  // namespace texport::platform
