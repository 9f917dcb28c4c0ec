// System tables end to end inside the engine: spooling, reads in every
// mode at both ends, filters both ways, selections, key criteria, and
// what a table leaves behind when it closes or fails to open.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/filsrv.h"
#include "table/sysop.h"
#include "table_support.h"
#include "values/date.h"
#include "values/vlxdcb.h"
#include "variables/varcla.h"

using namespace tabletest;
using Fields = std::vector<std::string>;

namespace {

class SysTable : public EngineTest {};

TEST_F(SysTable, EmptyOutput) {
  int slot = open_text("empty", "");
  ASSERT_GT(slot, 0);
  EXPECT_EQ(read_table(slot, 0, nullptr), 4);
  EXPECT_EQ(read_table(slot, 1, nullptr), 4);
  EXPECT_EQ(close_table(slot), 0);
}

TEST_F(SysTable, LongLinesBlanksAndWords) {
  std::string word300(300, 'w');
  int slot = open_text("shapes", std::string(600, 'x') + "\na  b\n" + word300 + " next\nlast line without feed");
  ASSERT_GT(slot, 0);
  Fields f;
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  EXPECT_EQ(f[0], std::string(255, 'x')) << "the first 512 bytes, cut to a field";
  ASSERT_EQ(read_table(slot, 2, &f), 0);
  EXPECT_EQ(f[0], std::string(88, 'x')) << "the remaining 88 bytes";
  ASSERT_EQ(read_table(slot, 2, &f), 0);
  EXPECT_EQ(f, (Fields{"a", "b", ""}));
  ASSERT_EQ(read_table(slot, 2, &f), 0);
  EXPECT_EQ(f, (Fields{std::string(255, 'w'), "next", ""}));
  EXPECT_EQ(read_table(slot, 2, &f), 4) << "the unterminated last line is lost";
  close_table(slot);
}

// The record of a spooled line by the reading rules, a byte at a time:
// blanks (0x20 only) separate the words, each word goes to its 255-byte
// slot cut to the slot, zeros after it; surplus words are dropped.
std::string record_of(const std::string& line, int fields) {
  std::string record(static_cast<std::size_t>(fields) * kFieldWidth, '\0');
  std::size_t at = 0;
  for (int field = 0; field < fields; ++field) {
    while (at < line.size() && line[at] == ' ') ++at;
    for (int n = 0; at < line.size() && line[at] != ' '; ++at, ++n)
      if (n < kFieldWidth) record[static_cast<std::size_t>(field) * kFieldWidth + static_cast<std::size_t>(n)] = line[at];
  }
  return record;
}

// Words split a block at a time must give the records the rules give:
// words and blank runs of every length around the block size and the slot
// size, at every place in a line, with each slot's earlier contents longer
// or shorter than its new word.
TEST_F(SysTable, RecordsAsTheReadingRulesFillThem) {
  const int lengths[] = {0, 1, 2, 3, 7, 14, 15, 16, 17, 18, 31, 32, 33, 47, 64, 100, 254, 255, 256, 300};
  // Word bytes: tabs, bytes above 127 and the NUL at the end are not blanks.
  const char bytes[] = "abc\txyz\x80\xff";
  std::mt19937 random(19);
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i) {
    std::string line;
    int words = static_cast<int>(random() % 9);
    for (int w = 0; w < words; ++w) {
      line += std::string(static_cast<std::size_t>(lengths[random() % 8]), ' ');
      int length = lengths[random() % 20];
      for (int k = 0; k < std::max(length, 1); ++k) line += bytes[random() % sizeof bytes];
    }
    if (random() % 3 == 0) line += std::string(static_cast<std::size_t>(lengths[random() % 8]), ' ');
    // The spool cuts longer lines; what is read is that cut.
    lines.push_back(line.substr(0, kSpoolLine - 1));
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  for (int fields : {1, 3, 8}) {
    int slot = open_text("words", text, fields);
    ASSERT_GT(slot, 0);
    std::string record;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      ASSERT_EQ(read_record(slot, i == 0 ? 0 : 2, &record), 0);
      ASSERT_EQ(record, record_of(lines[i], fields)) << "line " << i << " with " << fields << " fields: " << lines[i];
    }
    EXPECT_EQ(read_record(slot, 2, &record), 4);
    // Backwards each record is filled over the one after it.
    for (std::size_t i = lines.size(); i-- > 0;) {
      ASSERT_EQ(read_record(slot, i + 1 == lines.size() ? 1 : 3, &record), 0);
      ASSERT_EQ(record, record_of(lines[i], fields)) << "line " << i << " backwards";
    }
    close_table(slot);
  }
}

TEST_F(SysTable, ModesAtBothEnds) {
  int slot = open_text("three", "1 one\n2 two\n3 three\n");
  Fields f;
  ASSERT_EQ(read_table(slot, 1, &f), 0);
  EXPECT_EQ(f[0], "3");
  ASSERT_EQ(read_table(slot, 3, &f), 0);
  EXPECT_EQ(f[0], "2");
  ASSERT_EQ(read_table(slot, 3, &f), 0);
  EXPECT_EQ(f[0], "1");
  EXPECT_EQ(read_table(slot, 3, &f), 4) << "nothing before the first";
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  ASSERT_EQ(read_table(slot, 2, &f), 0);
  ASSERT_EQ(read_table(slot, 2, &f), 0);
  EXPECT_EQ(read_table(slot, 2, &f), 4);
  ASSERT_EQ(read_table(slot, 3, &f), 0) << "previous after the end is the last";
  EXPECT_EQ(f[0], "3");
  EXPECT_EQ(read_table(slot, 5, &f), -4);
  EXPECT_STREQ(Errmes, "rd_sys");
  close_table(slot);
}

TEST_F(SysTable, CurrentRecordDeepInALargeOutput) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i) + " row\n";
  int slot = open_text("large", text);
  Fields f;
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  for (int i = 0; i < 12345; ++i) ASSERT_EQ(read_table(slot, 2, &f), 0);
  EXPECT_EQ(f[0], "12345");
  ASSERT_EQ(read_table(slot, 4, &f), 0);
  EXPECT_EQ(f[0], "12345");
  ASSERT_EQ(read_table(slot, 3, &f), 0);
  EXPECT_EQ(f[0], "12344");
  close_table(slot);
}

TEST_F(SysTable, FiltersForwardBackwardAndRemoved) {
  int slot = open_text("pets", "1 cat a\n2 dog b\n3 cat c\n4 eel d\n5 cat e\n");
  int filter = add_filter(slot, {{1, "=", "cat"}});
  EXPECT_EQ(filter, 1) << "the filter's number";
  Fields f;
  std::string seen;
  for (int st = read_table(slot, 0, &f); st == 0; st = read_table(slot, 2, &f)) seen += f[0];
  EXPECT_EQ(seen, "135");
  seen.clear();
  for (int st = read_table(slot, 1, &f); st == 0; st = read_table(slot, 3, &f)) seen += f[0];
  EXPECT_EQ(seen, "531") << "backwards, no passing record skipped";
  EXPECT_EQ(add_filter(slot, {{0, ">", "1"}, {0, "<", "5"}}), 2);
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  EXPECT_EQ(f[0], "3");
  EXPECT_EQ(remove_filter(slot, 1), 0);
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  EXPECT_EQ(f[0], "2") << "only the range filter is left";
  close_table(slot);
}

// A forward read passes over the lines that lack the text an equality
// filter requires; it must find what the same test written as a range
// finds, which reads every line.
TEST_F(SysTable, LinesWithoutTheRequiredTextAnswerAsRead) {
  const char* words[] = {"hit", "white", "hits", "ahit", "miss", "h", "HIT", "hit\thit"};
  std::mt19937 random(5);
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    int count = static_cast<int>(random() % 5);
    for (int w = 0; w < count; ++w) text += std::string(random() % 3, ' ') + words[random() % 8];
    if (random() % 50 == 0) text += " " + std::string(300, 'x') + "hit";
    if (random() % 100 == 0) text += std::string(600, 'y') + " hit";
    text += "\n";
  }
  int equal = open_text("required", text), range = open_text("required", text);
  ASSERT_GT(equal, 0);
  ASSERT_GT(range, 0);
  ASSERT_EQ(add_filter(equal, {{1, "=", "hit"}}), 1);
  ASSERT_EQ(add_filter(range, {{1, ">=", "hit"}, {1, "<=", "hit"}}), 1);
  Fields a, b;
  int found = 0;
  for (int mode = 0;; mode = 2) {
    int st = read_table(equal, mode, &a);
    ASSERT_EQ(st, read_table(range, mode, &b));
    if (st != 0) break;
    ASSERT_EQ(a, b);
    EXPECT_EQ(a[1], "hit");
    ++found;
  }
  EXPECT_GT(found, 100);
  // Backward and current reads are not affected.
  ASSERT_EQ(read_table(equal, 1, &a), 0);
  ASSERT_EQ(read_table(range, 1, &b), 0);
  EXPECT_EQ(a, b);
  ASSERT_EQ(read_table(equal, 3, &a), 0);
  ASSERT_EQ(read_table(range, 3, &b), 0);
  EXPECT_EQ(a, b);
  close_table(equal);
  close_table(range);
}

// A filter whose node lies beyond its grammar is refused, its grammar
// released once, and the table goes on unfiltered.
TEST_F(SysTable, FilterNodeBeyondItsGrammar) {
  int slot = open_text("beyond", "1 one\n2 two\n");
  ASSERT_GT(slot, 0);
  EXPECT_EQ(add_filter_rooted(slot, {1, "=", "two"}, 200), -26);
  raz_err();
  Fields f;
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  EXPECT_EQ(f[1], "one");
  EXPECT_EQ(add_filter(slot, {{1, "=", "two"}}), 1) << "the slot of the refused filter is free";
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  EXPECT_EQ(f[1], "two");
  close_table(slot);
}

TEST_F(SysTable, FifthFilterFailsAndTheOthersStay) {
  int slot = open_text("many", "1 a\n2 b\n3 c\n4 d\n5 e\n6 f\n");
  for (int i = 1; i <= 4; ++i) ASSERT_EQ(add_filter(slot, {{0, "<>", std::to_string(i)}}), i);
  EXPECT_EQ(add_filter(slot, {{0, "<>", "5"}}), -31);
  raz_err();
  Fields f;
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  EXPECT_EQ(f[0], "5");
  close_table(slot);
}

TEST_F(SysTable, SelectionInRequestOrder) {
  int slot = open_text("sel", "alpha beta gamma\n");
  EXPECT_EQ(select(slot, {2, 0}), 0);
  std::string record;
  ASSERT_EQ(read_selected(slot, 0, 510, &record), 0);
  EXPECT_EQ(record.substr(0, 5), "gamma");
  EXPECT_EQ(record.substr(255, 5), "alpha");
  close_table(slot);
}

// A sub-record that cannot be made (a field past the record) is not sent
// and not kept: a selection may announce any size.
TEST_F(SysTable, AFailedSubRecordIsNotKept) {
  int slot = open_text("sel", "alpha beta gamma\n");
  EXPECT_EQ(select(slot, {0, 40}), 0);
  std::uint32_t used = adg_used();
  std::string record;
  ASSERT_EQ(read_selected(slot, 0, 0, &record), 0);
  EXPECT_EQ(Tsy[slot]->descriptor->subrecord, 0u);
  EXPECT_EQ(adg_used(), used);
  close_table(slot);
}

// Words of fields declared with other types than 8-bit text are read as
// those types into the typed record, which filters and answers see.
TEST_F(SysTable, DeclaredTypesConvertTheWords) {
  const Field name{0, LSTRG, 255}, count{255, LINTG, 4}, price{259, LDCB, 0}, day{279, LDATE, 4};
  std::string typed = vlxtest::data_file("typed", "alpha 42 1.5 20240301\nbeta 7 -0.25 19991231\ngamma\ndelta 9999999999 1 20240301\nepsilon x\n");
  int slot = open_declared("cat " + typed, {name, count, price, day}, 283);
  ASSERT_GT(slot, 0);
  std::string record;
  ASSERT_EQ(read_record(slot, 0, &record), 0);
  ASSERT_EQ(record.size(), 283u);
  EXPECT_EQ(record.substr(0, 6), std::string("alpha\0", 6));
  EXPECT_EQ(record.substr(255, 4), be32(42));
  s_dcb expected;
  strdcb(&expected, "1.5");
  EXPECT_EQ(record.substr(259, sizeof expected), std::string(reinterpret_cast<char*>(&expected), sizeof expected));
  int n = 0;
  ltodate(&n, 2024, 3, 1, 0);
  EXPECT_EQ(record.substr(279, 4), be32(n));

  // Missing words are the null values of their types.
  ASSERT_EQ(read_record(slot, 2, &record), 0);
  ASSERT_EQ(read_record(slot, 2, &record), 0);
  EXPECT_EQ(record.substr(0, 6), std::string("gamma\0", 6));
  EXPECT_EQ(record.substr(255), std::string(28, '\0'));

  // A number too large for its field is the read's answer (error 10);
  // the next read goes on. Other text reads as the decimal reading does.
  EXPECT_EQ(read_record(slot, 2, &record), -10);
  raz_err();
  ASSERT_EQ(read_record(slot, 2, &record), 0);
  EXPECT_EQ(record.substr(255, 4), be32(0));
  EXPECT_EQ(read_record(slot, 2, &record), 4);

  // Filters compare the typed values.
  ASSERT_EQ(add_field_filter(slot, count, ">", "10"), 1);
  ASSERT_EQ(add_field_filter(slot, day, "<", "@2000-01-01"), 2);
  EXPECT_EQ(read_record(slot, 0, &record), -10) << "no record has both, and the scan meets the large number";
  raz_err();
  ASSERT_EQ(remove_filter(slot, 1), 0);
  ASSERT_EQ(read_record(slot, 0, &record), 0);
  EXPECT_EQ(record.substr(0, 5), std::string("beta\0", 5));
  EXPECT_EQ(record.substr(255, 4), be32(7));
  close_table(slot);
}

TEST_F(SysTable, EachTableHasAClassOfItsFields) {
  int slot = open_text("vars", "a 1 x\nb 2 y\n");
  ASSERT_GT(slot, 0);
  int cls = Tfs[slot]->varClass;
  ASSERT_GT(cls, 0);
  EXPECT_EQ(cla_abv(cls), ("cat " + data_dir() + "/vars").substr(0, 64));
  EXPECT_EQ(builder::variable(cls, "~SLOT"), "int " + std::to_string(slot));
  EXPECT_EQ(builder::variable(cls, "~FIELDS"), "int 3");
  Fields f;
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  EXPECT_EQ(builder::variable(cls, "F1"), "str a");
  EXPECT_EQ(builder::variable(cls, "F3"), "str x");
  ASSERT_EQ(read_table(slot, 2, &f), 0);
  EXPECT_EQ(builder::variable(cls, "F2"), "str 2");
  EXPECT_EQ(builder::variable(cls, "~UPDTICK"), "int 2");
  close_table(slot);
  EXPECT_EQ(cls_ptr(cls), nullptr) << "released with the table";

  // Declared types: the variables read the typed record.
  const Field name{0, 306, 255}, count{255, 302, 4};
  slot = open_declared("cat " + vlxtest::data_file("typedvars", "alpha 42\n"), {name, count}, 259);
  ASSERT_GT(slot, 0);
  cls = Tfs[slot]->varClass;
  ASSERT_EQ(read_table(slot, 0, &f, 0, 1), 0);
  EXPECT_EQ(builder::variable(cls, "F1"), "str alpha");
  EXPECT_EQ(builder::variable(cls, "F2"), "int 42");
  close_table(slot);
}

TEST_F(SysTable, KeyCriteria) {
  int slot = open_text("keys", "1 x\n2 y\n");
  Fields f;
  ASSERT_EQ(read_by_key(slot, 0, 1, 1, &f), 0);
  EXPECT_EQ(f[0], "2") << "mode last with key 0";
  EXPECT_EQ(read_by_key(slot, 1, 1, 0, &f), -21);
  EXPECT_NE(std::string(Errmes).find("of_sys"), std::string::npos);
  raz_err();
  EXPECT_EQ(read_by_key(slot, 0, 2, 0, &f), -21) << "two criteria";
  raz_err();
  // The current record goes through the filters too: one that fails them
  // turns the read into mode 4 + 2, which is no read mode.
  ASSERT_EQ(read_table(slot, 0, &f), 0);
  ASSERT_EQ(add_filter(slot, {{0, "=", "2"}}), 1);
  EXPECT_EQ(read_by_key(slot, 0, 1, 4, &f), -4);
  raz_err();
  ASSERT_EQ(read_by_key(slot, 0, 1, 0, &f), 0);
  EXPECT_EQ(f[0], "2");
  ASSERT_EQ(read_by_key(slot, 0, 1, 4, &f), 0) << "a current record that passes";
  EXPECT_EQ(f[0], "2");
  close_table(slot);
}

TEST_F(SysTable, SlotReuseAndNothingLeftBehind) {
  // The first command of a process opens the children's /dev/null for good.
  close_table(open_text("warm", "w\n"));
  int before = open_descriptors();
  std::uint32_t used = adg_used();
  int a = open_text("a", "a\n"), b = open_text("b", "b\n");
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(spool_files().size(), 2u);
  close_table(a);
  EXPECT_EQ(open_text("c", "c\n"), 1) << "the lowest free slot";
  close_table(1);
  close_table(b);
  EXPECT_TRUE(spool_files().empty());
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_EQ(adg_used(), used);
}

TEST_F(SysTable, RefusedAndUnstartableCommands) {
  std::uint32_t used = adg_used();
  EXPECT_EQ(open_table("ls; id"), -27);
  raz_err();
  EXPECT_EQ(open_table("cat /etc/shadow"), -27);
  raz_err();
  EXPECT_TRUE(spool_files().empty());
  EXPECT_EQ(adg_used(), used);
  EXPECT_EQ(Tsy[1], nullptr);
  EXPECT_EQ(read_table(1, 0, nullptr), -26) << "a read on a slot never opened";
  raz_err();
  EXPECT_EQ(close_table(9), -26);
}

TEST_F(SysTable, ThousandOpenCloseCycles) {
  int slot = open_text("cycle", "x y\n");
  close_table(slot);
  int descriptors = open_descriptors();
  std::uint32_t used = adg_used();
  long forgotten = negative_names();
  for (int i = 0; i < 1000; ++i) {
    slot = open_table("cat " + data_dir() + "/cycle");
    ASSERT_EQ(slot, 1);
    ASSERT_EQ(read_table(slot, 0, nullptr), 0);
    ASSERT_EQ(close_table(slot), 0);
  }
  // A spool deleted after its close would leave one per cycle (other
  // processes of the machine add a few of their own meanwhile).
  if (forgotten >= 0) {
    EXPECT_LT(negative_names() - forgotten, 500) << "names of deleted spools kept";
  }
  EXPECT_EQ(open_descriptors(), descriptors);
  EXPECT_EQ(adg_used(), used);
  EXPECT_TRUE(spool_files().empty());
}

}  // namespace
