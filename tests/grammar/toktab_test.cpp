// The token table against the word lists of data/toktab.txt, the reverse
// arrays that name codes, and the look-ups the scanners make.
#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "grammar/toktab.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

namespace {

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + separator.size();
  }
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct Word {
  int group, code;
  std::string name;
};

// The lists of the data file.
struct Lists {
  std::map<std::string, int> tokens, sdataTokens;  // name -> number
  std::vector<Word> words;
  std::map<std::string, std::string> classes;  // word -> class name
  std::vector<std::string> sdata;              // "name group code class"

  Lists() {
    for (const vlxtest::Case& c : vlxtest::read_cases("toktab.txt")) {
      const std::string& kind = c.fields[0];
      if (kind == "tokens" || kind == "sdatatokens") {
        int number = 258;
        for (const std::string& name : split(c.fields[1], ", "))
          (kind == "tokens" ? tokens : sdataTokens)[name] = number++;
      } else if (kind == "words") {
        for (const std::string& entry : split(c.fields[2], "; ")) {
          std::size_t blank = entry.rfind(' ');
          words.push_back({std::stoi(c.fields[1]), std::stoi(entry.substr(blank + 1)), entry.substr(0, blank)});
        }
      } else if (kind == "class") {
        for (const std::string& word : split(c.fields[2], ", ")) classes[word] = c.fields[1];
      } else if (kind == "sdata") {
        sdata = split(c.fields[1], "; ");
      }
    }
  }

  int number(const std::string& tokclass) const { return tokclass.size() == 1 ? tokclass[0] : tokens.at(tokclass); }
};

struct Toktab : ::testing::Test {
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    ASSERT_GT(iniTokTab(), 0);
    iniTokTabSdata();
  }
  const Lists lists;
};

TEST_F(Toktab, HoldsEveryListedWordWithItsCodeAndClass) {
  ASSERT_EQ(lists.tokens.size(), 213u);
  EXPECT_EQ(lists.tokens.at("comment"), 434);
  EXPECT_EQ(lists.tokens.at("wn"), 470);
  std::map<int, int> perGroup;
  for (const Word& w : lists.words) {
    perGroup[w.group]++;
    int code = -1, tokclass = -1;
    ASSERT_EQ(findToken(upper(w.name).c_str(), &code, &tokclass), 1) << w.name;
    EXPECT_EQ(code, w.code) << w.name;
    auto listed = lists.classes.find(w.name);
    if (w.group == 2) {
      EXPECT_EQ(tokclass, lists.number("varsys")) << w.name;
    } else if (listed != lists.classes.end()) {
      EXPECT_EQ(tokclass, lists.number(listed->second)) << w.name;
    } else if (w.group == 1) {
      EXPECT_EQ(tokclass, lists.number("wn")) << w.name;
    }
  }
  EXPECT_EQ(perGroup[1], 242);
  EXPECT_EQ(perGroup[2], 127);
  EXPECT_EQ(perGroup[3], 254);
  EXPECT_EQ(Maxtok, 622) << "the table holds exactly the listed words";
}

TEST_F(Toktab, ReverseArraysNameEveryCode) {
  std::map<std::pair<int, int>, std::set<std::string>> byCode;
  for (const Word& w : lists.words) byCode[{w.group, w.code}].insert(w.name);
  for (int group = 1; group <= 3; group++) {
    for (int code = 0; code <= Mtk[group - 1]; code++) {
      auto names = byCode.find({group, code});
      if (names == byCode.end()) {
        EXPECT_STREQ(recup_tok(group, code), "") << group << "/" << code;
      } else {
        EXPECT_TRUE(names->second.contains(recup_tok(group, code))) << group << "/" << code;
      }
    }
  }
  // Libelle and Tinyint share 70: both are found, the later key names it.
  const std::set<std::string> shared{"Libelle", "Tinyint"};
  EXPECT_EQ(byCode[std::make_pair(3, 70)], shared);
  EXPECT_STREQ(recup_tok(3, 70), "Tinyint");
}

TEST_F(Toktab, NamesOutsideTheGroupsAndLimitsAreEmpty) {
  EXPECT_STREQ(recup_tok(1, 30), "abs");
  EXPECT_STREQ(recup_tok(1, 252), "Replace$");
  EXPECT_STREQ(recup_tok(1, 253), "");
  EXPECT_STREQ(recup_tok(2, 130), "vlxsqlfast");
  EXPECT_STREQ(recup_tok(2, 999), "");
  EXPECT_STREQ(recup_tok(3, 256), "Boolean");
  EXPECT_STREQ(recup_tok(3, 385), "");
  EXPECT_STREQ(recup_tok(3, 386), "");
  EXPECT_STREQ(recup_tok(1, -1), "");
  EXPECT_STREQ(recup_tok(0, 1), "");
  EXPECT_STREQ(recup_tok(4, 1), "");
}

TEST_F(Toktab, LookupNeedsTheUpperCaseKeyAndLeavesOutputsOnAMiss) {
  int code = -7, tokclass = -7;
  EXPECT_EQ(findToken("left$", &code, &tokclass), 0);
  EXPECT_EQ(findToken("LEFT", &code, &tokclass), 0);
  EXPECT_EQ(findToken("", &code, &tokclass), 0);
  EXPECT_EQ(findToken("ZZZZZZZZ", &code, &tokclass), 0);
  EXPECT_EQ(code, -7);
  EXPECT_EQ(tokclass, -7);
  EXPECT_EQ(findToken("ADDITM", &code, &tokclass), 1) << "the first key";
  EXPECT_EQ(code, 53);
}

TEST_F(Toktab, ArraysComeBackAfterTheirGroupIsFreed) {
  int group = iniTokTab();
  EXPECT_EQ(iniTokTab(), group) << "built once";
  adg_free(static_cast<unsigned>(group));
  EXPECT_STREQ(recup_tok(1, 30), "") << "no name from freed memory";
  vlx::fault::arm(vlx::fault::alloc, 2);
  EXPECT_EQ(iniTokTab(), -31) << "the second array cannot be had";
  vlx::fault::arm(vlx::fault::alloc, 0);
  raz_err();
  EXPECT_STREQ(recup_tok(1, 30), "");
  ASSERT_GT(iniTokTab(), 0);
  EXPECT_STREQ(recup_tok(1, 30), "abs");
  int code = 0, tokclass = 0;
  EXPECT_EQ(findToken("ABS", &code, &tokclass), 1) << "sorted once, found always";
}

TEST_F(Toktab, SdataKeywords) {
  ASSERT_EQ(lists.sdata.size(), 32u);
  EXPECT_EQ(Maxtok_sdata, 31);
  for (const std::string& entry : lists.sdata) {
    std::istringstream in(entry);
    std::string name, tokclass;
    int group = 0, code = 0, foundCode = -1, foundClass = -1;
    in >> name >> group >> code >> tokclass;
    ASSERT_EQ(findTokenSdata(upper(name).c_str(), &foundCode, &foundClass), 1) << name;
    EXPECT_EQ(foundCode, code) << name;
    EXPECT_EQ(foundClass, lists.sdataTokens.at(tokclass)) << name;
  }
  int code = 0, tokclass = 0;
  EXPECT_EQ(findTokenSdata("LEFT$", &code, &tokclass), 0) << "the 4GL's words are not SData's";
}

}  // namespace
