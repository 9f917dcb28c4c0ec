// The --where language: parsing into the condition tree, with the column
// of each error, and the builders' refusal of ill-typed trees.
#include <gtest/gtest.h>

#include "expr.h"
#include "support/vlxtest.h"

namespace {

TEST(Where, ParsesOrPointsAtTheError) {
  auto cases = vlxtest::read_cases("where.txt");
  ASSERT_GT(cases.size(), 30u);
  for (const vlxtest::Case& c : cases) {
    ASSERT_EQ(c.fields.size(), 2u) << "line " << c.line;
    const std::string& input = c.fields[0];
    const std::string& expected = c.fields[1];
    std::string got;
    try {
      got = vlxc::parse_where(input).describe();
    } catch (const vlxc::ParseError& e) {
      got = "error " + std::to_string(e.column) + " " + e.what();
    }
    if (expected.rfind("error ", 0) == 0)
      EXPECT_EQ(got.rfind(expected, 0), 0u) << "line " << c.line << ": " << input << " gave " << got;
    else
      EXPECT_EQ(got, expected) << "line " << c.line << ": " << input;
  }
}

TEST(Where, BuildersRefuseIllTypedTrees) {
  using vlxc::field;
  EXPECT_EQ(((field(1) == "a") && !(field(2) > 3)).describe(), "(and (= $1 'a') (not (> $2 3)))");
  EXPECT_EQ((field(1) >= vlxc::decimal("-0.5")).describe(), "(>= $1 -0.5)");
  EXPECT_THROW(field(0), std::invalid_argument);
  EXPECT_THROW(vlxc::decimal("1e5"), std::invalid_argument);
  EXPECT_THROW(vlxc::decimal("."), std::invalid_argument);
  EXPECT_THROW((void)(field(1) && (field(2) == 1)), std::invalid_argument);
  EXPECT_THROW((void)!field(1), std::invalid_argument);
  EXPECT_THROW((void)((field(1) == 1) == field(2)), std::invalid_argument);
  EXPECT_EQ(vlxc::highest_field(vlxc::parse_where("$2 = 1 or ($7 < $3 and 1 = 1)")), 7);
}

}  // namespace
