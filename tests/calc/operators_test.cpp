// Operator cases: each expression is evaluated as built, and again after a
// trip through the transfer form in both release widths; all three must
// give the expected value or error.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "image/vlxfsq.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/peer.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"

namespace {

constexpr int kSlot = 9;
s_gcl grctx::*const kCells[kSections] = {&grctx::gr_exp, &grctx::gr_int, &grctx::gr_dcb, &grctx::gr_stu,
                                         &grctx::gr_ide, &grctx::gr_cla, &grctx::gr_cid, &grctx::gr_i64};

struct Calc : ::testing::Test {
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    fsring();
    Obef[LDBLE] = builder::load_double;
  }
};

// Sends g on a slot of `protocol` and reads it back with readGrammar.
std::string through_channel(grctx* g, unsigned root, int protocol) {
  vlxtest::Peer peer = vlxtest::make_peer(kSlot, kModeBuffer, protocol);
  unsigned char sizes[16] = {};
  int maxSize = 0;
  int listed = getGrammarSize(g, sizes, &maxSize, kSlot);
  std::vector<unsigned char> buffer(static_cast<std::size_t>(maxSize) + 1);
  EXPECT_EQ(listed, 16);
  EXPECT_EQ(sendGrammarElements(kSlot, sizes, g, buffer.data()), 0);
  peer.send(peer.received());
  int counts[kSections];
  EXPECT_EQ(grammar_counts(sizes, counts), 0);
  unsigned received = adg_get(nullptr, nullptr, kGrpCommunications, "received");
  grctx* copy = nullptr;
  std::string result = readGrammar(kSlot, &copy, received, counts, 65535) < 0 ? "read error"
                                                                             : builder::evaluate(copy, root);
  adg_free(received);
  vlxtest::drop_peer(peer);
  return result;
}

// Encodes each section with release "N" and decodes it with the codecs.
std::string through_narrow(grctx* g, unsigned root) {
  using encoder = int (*)(char, unsigned char*, grctx*);
  using decoder = int (*)(grctx*, const unsigned char*, int, char);
  const encoder enc[] = {transformExp, transformInt, transformDcb, transformStu,
                         transformIde, transformClass, transformCid, transformDtm};
  const decoder dec[] = {readExp, readIntegers, readDcb, readStu, readIdentifiers, readClasses,
                         readClassesIdentifiers, readDatetimes};
  grctx copy;
  init_pt_exp(&copy, 0);
  for (int i = 0; i < kSections; i++) {
    int slot = section_slot_size(i, 'N');
    std::vector<unsigned char> buffer(static_cast<std::size_t>(encoded_bound(i, g, 'N')) + slot);
    int n = enc[i]('N', buffer.data(), g);
    if (n <= 0) continue;
    int count = static_cast<int>((g->*kCells[i]).gc_nbr) + 1;
    buffer.resize(static_cast<std::size_t>(count) * slot + 32);
    if (dec[i](&copy, buffer.data(), count, 'N') < 0) return "decode error";
  }
  std::string result = builder::evaluate(&copy, root);
  Grammar_free(&copy);
  return result;
}

TEST_F(Calc, OperatorCases) {
  auto cases = vlxtest::read_cases("operators.txt");
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": " + c.fields[0]);
    ASSERT_GE(c.fields.size(), 2u);
    grctx g;
    ASSERT_EQ(init_pt_exp(&g, 0), 0);
    unsigned root = builder::parse(&g, c.fields[0]);
    ASSERT_NE(root, 0u);
    EXPECT_EQ(builder::evaluate(&g, root), c.fields[1]);
    if (c.fields.size() > 2) {
      EXPECT_NE(std::strstr(Errmes, c.fields[2].c_str()), nullptr) << Errmes;
    }
    EXPECT_EQ(through_channel(&g, root, 20), c.fields[1]);
    EXPECT_EQ(through_narrow(&g, root), c.fields[1]);
    Grammar_free(&g);
  }
}

// The dispatch table in force is restored whatever the outcome.
TEST_F(Calc, EvafsrRestoresCalculator) {
  calc_fn other[kCodes];
  for (calc_fn& f : other) f = err_f;
  Calculator = other;
  grctx g;
  init_pt_exp(&g, 0);
  unsigned root = builder::parse(&g, "(+ 1 (code 5))");
  EXPECT_EQ(builder::evaluate(&g, root), "error 4");
  EXPECT_EQ(Calculator, other);
  Calculator = Obef;
  Grammar_free(&g);
}

}  // namespace
