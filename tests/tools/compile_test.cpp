// Compile cases of data/compile.txt through vlxcalc's library, under each
// compiler version they name; and the differential test: every text that
// both versions compile gives the same cells.
#include <gtest/gtest.h>

#include <algorithm>

#include "calcrun.h"
#include "grammar/generator.h"
#include "grammar/parser.h"
#include "image/vlxload.h"
#include "support/vlxtest.h"

namespace {

struct Compile : ::testing::Test {
  static void SetUpTestSuite() {
    calcrun::init();
    grammar::Exception_fd = -1;
    grammar::L4gerror_fd = -1;
  }
};

// The outcome as the data file writes it: vlxcalc's line, or "tree" and
// the prefix form of the compiled root when the value needs a built-in
// function that is not installed yet.
std::string outcome(const std::string& source, const calcrun::Options& flags, char version, bool tree) {
  calcrun::Options options = flags;
  options.version = version;
  calcrun::Outcome out = calcrun::run(source, options);
  if (tree && out.tree.empty()) return out.line;
  return tree ? "tree " + out.tree : out.line;
}

// The first field: the versions (R, S), D for SData text, X for an
// expression source given as it is.
calcrun::Options options_of(const std::string& field) {
  calcrun::Options options;
  options.sdata = field.find('D') != std::string::npos;
  options.raw = field.find('X') != std::string::npos;
  return options;
}

TEST_F(Compile, CasesOfTheDataFile) {
  int cases = 0;
  for (const vlxtest::Case& c : vlxtest::read_cases("compile.txt")) {
    ASSERT_EQ(c.fields.size(), 3u) << "line " << c.line;
    std::string source = vlxtest::expand(c.fields[1]);
    const std::string& expected = c.fields[2];
    bool tree = expected.compare(0, 5, "tree ") == 0;
    calcrun::Options flags = options_of(c.fields[0]);
    for (char version : c.fields[0]) {
      if (version != 'R' && version != 'S') continue;
      EXPECT_EQ(outcome(source, flags, version, tree), expected) << "line " << c.line << " version " << version;
    }
    cases++;
  }
  EXPECT_GT(cases, 100);
}

// Whether the expression positions of both versions can be compared:
// continued lines report their statement's first line in the classic
// scanner, their own in the current parser; and the current parser's
// columns stop at 65535.
bool positions_compare(const std::string& source) {
  std::size_t longest = 0, start = 0;
  for (std::size_t end; (end = source.find('\n', start)) != std::string::npos; start = end + 1)
    longest = std::max(longest, end - start);
  longest = std::max(longest, source.size() - start);
  return source.find("\n&") == std::string::npos && longest < 65535;
}

TEST_F(Compile, BothVersionsWriteTheSameCells) {
  int compared = 0, refused = 0;
  for (const vlxtest::Case& c : vlxtest::read_cases("compile.txt")) {
    if (c.fields[0].find("RS") != 0) continue;
    std::string source = vlxtest::expand(c.fields[1]);
    std::string images[2];
    int statuses[2];
    for (int v = 0; v < 2; v++) {
      grctx g;
      ASSERT_EQ(init_pt_exp(&g, 0), 0);
      calcrun::Options options = options_of(c.fields[0]);
      options.version = v == 0 ? 'R' : 'S';
      statuses[v] = calcrun::compile(source, options, &g);
      images[v] = calcrun::image(&g, positions_compare(source));
      Grammar_free(&g);
    }
    EXPECT_EQ(statuses[0] < 0, statuses[1] < 0) << "line " << c.line;
    if (statuses[0] < 0 || statuses[1] < 0) {
      refused++;
      continue;
    }
    EXPECT_EQ(images[0], images[1]) << "line " << c.line << ": " << source.substr(0, 100);
    compared++;
  }
  std::printf("R/S differential: %d texts with identical cells, %d refused by both\n", compared, refused);
  EXPECT_GT(compared, 80);
}

}  // namespace
