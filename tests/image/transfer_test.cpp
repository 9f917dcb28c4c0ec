// The transfer form: masked node values, section sizes per peer release,
// readGrammar over an in-memory slot, hostile sections, compiled-file
// headers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/bigend.h"
#include "calc/acalc.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "files/vlxfile.h"
#include "image/vlxfsq.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/peer.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"

namespace {

constexpr int kSlot = 11;

// A slot over two in-memory buffers at a protocol version.
struct Slot : vlxtest::Peer {
  explicit Slot(int protocol) : vlxtest::Peer(vlxtest::make_peer(kSlot, kModeBuffer, protocol)) {}
  ~Slot() { vlxtest::drop_peer(*this); }
};

struct Transfer : ::testing::Test {
  grctx g;
  unsigned received = 0;
  void SetUp() override {
    vlxtest::init_memory();
    fsring();
    init_pt_exp(&g, 0);
    received = adg_get(nullptr, nullptr, kGrpCommunications, "received");
  }
  void TearDown() override {
    Grammar_free(&g);
    adg_free(received);
    raz_err();
  }
  // Reads `sections` (after the sizes) with readGrammar; the result, and
  // whether the bytes after them are still in place.
  int receive(const std::string& sizes, const std::string& body, grctx** out, bool* aligned = nullptr) {
    Slot slot(20);
    slot.send(body + "END");
    int counts[kSections];
    int st = grammar_counts(reinterpret_cast<const unsigned char*>(sizes.data()), counts);
    if (st < 0) return st;
    st = readGrammar(kSlot, out, received, counts, 4096);
    char tail[3] = {};
    int more = rl_req(kSlot, tail, 3);
    if (aligned != nullptr) *aligned = more == 0 && std::memcmp(tail, "END", 3) == 0;
    return st;
  }
};

TEST_F(Transfer, MaskedValues) {
  unsigned char buffer[16];
  unsigned char* p = buffer;
  s_mask m;
  setMaskPointer(&m, &p, 'S');
  writeNodeAndSetMask(&p, &m, 0, 'S');
  writeNodeAndSetMask(&p, &m, 256, 'S');
  setMaskValue(&m, 'S');
  EXPECT_EQ(p - buffer, 4 + 2);
  EXPECT_EQ(buffer[4], 1);
  EXPECT_EQ(buffer[5], 0);
  EXPECT_EQ(m.bits, (1u << 6) | (1u << 7));  // bits 2 and 3 of field 1
  EXPECT_EQ(buffer[0], 0xC0);                 // least significant byte first

  // Any combination of mask bits decodes, in both widths.
  std::mt19937 random(7);
  for (char release : {'N', 'S'}) {
    int node = getSizeOfNode(release);
    for (int round = 0; round < 200; round++) {
      std::uint32_t values[4];
      for (auto& v : values) v = random() >> (random() % 32) & (node == 2 ? 0xFFFF : 0xFFFFFFFF);
      unsigned char out[32];
      unsigned char* w = out;
      setMaskPointer(&m, &w, release);
      for (auto v : values) writeNodeAndSetMask(&w, &m, v, release);
      setMaskValue(&m, release);
      const unsigned char* r = out;
      std::uint32_t mask = readMask(&r, release);
      for (int k = 0; k < 4; k++) ASSERT_EQ(readNodeWithMask(&r, mask, k, release), values[k]);
      ASSERT_EQ(r, w);
    }
  }
}

TEST_F(Transfer, SizesFollowThePeerRelease) {
  unsigned root = builder::parse(&g, "(and (= 'ab' 'ab') (> 2.5 1))");
  stfcla(&g, 1, 2);
  stflargeint(&g, 99);
  unsigned char sizes[16];
  int maxSize = 0;
  {
    Slot slot(13);
    EXPECT_EQ(getRemoteVlxRelease(13), 'N');
    ASSERT_EQ(getGrammarSize(&g, sizes, &maxSize, kSlot), 16);
    int nodes = static_cast<int>(g.gr_exp.gc_nbr) + 1;
    EXPECT_EQ(get_be16(sizes), nodes * 12);
    EXPECT_EQ(get_be16(sizes + 2), 2 * 4);   // the integer 1
    EXPECT_EQ(get_be16(sizes + 4), 2 * 20);  // one decimal
    EXPECT_EQ(get_be16(sizes + 10), 2 * 4);  // narrow class references
    std::vector<unsigned char> buffer(static_cast<std::size_t>(maxSize));
    ASSERT_EQ(sendGrammarElements(kSlot, sizes, &g, buffer.data()), 0);
    std::string wire = slot.received();
    EXPECT_EQ(wire.size(), nodes * 12u + 8 + 40 + 8 + 8 + 16);
    // Element 0 takes 5 bytes; node 1 (the string literal) follows: code
    // 378 and objectId 1 on 2 bytes each, a mask of the two bytes of its type.
    EXPECT_EQ(wire.substr(5, 5), std::string("\x01\x7A\x00\x01\x03", 5));
  }
  {
    Slot slot(6);
    EXPECT_EQ(getGrammarSize(&g, sizes, &maxSize, kSlot), 14);
  }
  Slot slot(20);
  ASSERT_EQ(getGrammarSize(&g, sizes, &maxSize, kSlot), 16);
  EXPECT_EQ(get_be16(sizes), static_cast<int>(g.gr_exp.gc_nbr + 1) * 24);
  EXPECT_EQ(get_be16(sizes + 14), 2 * 8);
  std::vector<unsigned char> buffer(static_cast<std::size_t>(maxSize));
  ASSERT_EQ(sendGrammarElements(kSlot, sizes, &g, buffer.data()), 0);
  std::string wire = slot.received();
  grctx* copy = nullptr;
  ASSERT_EQ(receive(std::string(reinterpret_cast<char*>(sizes), 16), wire, &copy), 0);
  EXPECT_EQ(builder::evaluate(copy, root), "bool 1");
  EXPECT_EQ(gt_cla(copy, 1)->ca_sclas, 2u);
  EXPECT_EQ(copy->gr_int.gc_cmx, 2u);
  EXPECT_EQ(copy->gr_i64.gc_nbr, 1u);
}

TEST_F(Transfer, SectionCountsComeFromAnnouncedSizes) {
  // Five expression slots whatever the encoded length inside them.
  std::string exp(120, '\0');
  std::string sizes = be16(120) + std::string(14, '\0');
  grctx* copy = nullptr;
  bool aligned = false;
  ASSERT_EQ(receive(sizes, exp, &copy, &aligned), 0);
  EXPECT_TRUE(aligned);
  EXPECT_EQ(copy->gr_exp.gc_cmx, 5u);
  EXPECT_EQ(copy->gr_exp.gc_nbr, 4u);
  EXPECT_EQ(copy->gr_stu.gc_cmx, 0u);
  EXPECT_EQ(copy->gr_stu.gc_ptr, nullptr);
}

// Dropped, a received grammar takes its search text with it.
TEST_F(Transfer, IdentifiersRebuildTheSearchText) {
  std::uint32_t used = adg_used();
  std::string ide("\0AB\0CD\0", 7);
  grctx* copy = nullptr;
  ASSERT_EQ(receive(std::string(8, '\0') + be16(7) + std::string(6, '\0'), ide, &copy), 0);
  EXPECT_EQ(gtfide(copy, "CD"), 4);
  EXPECT_EQ(gtfide(copy, "AB"), 1);
  EXPECT_EQ(stfide(copy, "CD"), 4);
  gram_drop()(copy);
  EXPECT_EQ(adg_used(), used);
}

// Refused, a grammar leaves nothing behind in the group it was read into
// (a long-lived one, for the requests this server does not serve).
TEST_F(Transfer, HostileSections) {
  std::uint32_t used = adg_used();
  grctx* copy = nullptr;
  bool aligned = false;
  // A size that is not a multiple of its slot.
  EXPECT_EQ(receive(be16(25) + std::string(14, '\0'), "", &copy), -26);
  // An expression section whose masks claim more bytes than it holds.
  std::string exp(24, '\0');
  exp[8] = exp[9] = '\xFF';
  EXPECT_EQ(receive(be16(24) + std::string(14, '\0'), exp, &copy, &aligned), -26);
  // A bad decimal, then a string section: the string is still read past.
  std::string dcb(20, '\0');
  dcb[0] = '\x80';
  dcb[1] = 120;
  EXPECT_EQ(receive(std::string(4, '\0') + be16(20) + be16(4) + std::string(8, '\0'), dcb + "abcd", &copy, &aligned),
            -50);
  EXPECT_TRUE(aligned);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(adg_used(), used);
  // A section larger than the buffer.
  Slot slot(20);
  int counts[kSections] = {0, 0, 0, 100};
  slot.send(std::string(200, 'x') + "END");
  EXPECT_EQ(readGrammar(kSlot, &copy, received, counts, 64), -26);
  char tail[3];
  EXPECT_EQ(rl_req(kSlot, tail, 3), 0);
  EXPECT_EQ(std::string(tail, 3), "END");
}

// Received grammars that decode but point outside their cells.
TEST_F(Transfer, HostileNodesFailOnEvaluation) {
  auto node = [](int code, int objectId, int header, int tail, int next) {
    std::string s = be16(0) + be16(code) + be16(0) + be16(objectId);
    s += std::string{'\x00', '\x00', '\x00', '\x00'};
    unsigned mask = 0;
    std::string values;
    int k = 0;
    for (int v : {0, header, tail, next}) {
      if (v != 0) {
        mask |= 1u << (4 * k + 3);
        values += static_cast<char>(v);
      }
      k++;
    }
    for (int i = 0; i < 4; i++) s[8 + i] = static_cast<char>(mask >> (8 * i));
    return s + values;
  };
  struct Case {
    std::string nodes;
    std::string strings;
    unsigned root;
  };
  std::string noString;
  const Case cases[] = {
      {node(0, 0, 0, 0, 0) + node(258, 0, 9, 1, 0), noString, 1},                  // operand beyond the nodes
      {node(0, 0, 0, 0, 0) + node(302, 3, 0, 0, 0), noString, 1},                  // literal beyond its pool
      {node(0, 0, 0, 0, 0) + node(258, 0, 1, 1, 0), noString, 1},                  // operand is itself
      {node(0, 0, 0, 0, 0) + node(378, 1, 0, 0, 0), std::string("\0\0\0a", 4), 1},  // string without end
      {node(0, 0, 0, 0, 0) + node(299, 5, 0, 0, 0), noString, 1},                  // boolean neither 209 nor 210
  };
  auto slots = [](std::string nodes, int count) {  // nodes travel packed
    nodes.resize(static_cast<std::size_t>(count) * 24, '\0');
    return nodes;
  };
  for (const Case& c : cases) {
    grctx* copy = nullptr;
    std::string nodes = slots(c.nodes, 2);
    std::string sizes = be16(48) + std::string(4, '\0') + be16(static_cast<int>(c.strings.size())) +
                        std::string(8, '\0');
    ASSERT_EQ(receive(sizes, nodes + c.strings, &copy), 0);
    EXPECT_EQ(builder::evaluate(copy, c.root), "error 26");
    EXPECT_EQ(builder::evaluate(copy, 2), "error 26");
    EXPECT_EQ(gt_elen(copy, 1, 0), 1);
  }
  // A next chain that loops ends with error 26, not an endless walk.
  grctx* copy = nullptr;
  ASSERT_EQ(receive(be16(72) + std::string(14, '\0'), slots(node(0, 0, 0, 0, 0) + node(302, 0, 0, 0, 2) + node(302, 0, 0, 0, 1), 3),
                    &copy),
            0);
  EXPECT_EQ(gt_elen(copy, 1, 0), -26);
  EXPECT_EQ(upepnx(copy, 1, 2), -26);
}

TEST_F(Transfer, CompiledFileHeaders) {
  const std::string& dir = vlxtest::install_dir();
  unsigned group = adg_get(nullptr, nullptr, kGrpServer, "headers");
  auto open = [&](const std::string& text) {
    vlxtest::spit(dir + "/tmp/h.vlx", text);
    return adf_open(group, (dir + "/tmp/h.vlx").c_str(), "r");
  };
  vlx_header h;
  int ch = open("plain");
  EXPECT_EQ(get_header(ch, &h), 0);
  EXPECT_EQ(h.hd_type, '?');
  EXPECT_EQ(h.hd_rel[0], -1);
  char c;
  EXPECT_EQ(adf_read(ch, &c, 1), 1);
  EXPECT_EQ(c, 'p');
  adf_close(ch);

  ch = open(std::string("#<Vlxtx>@(#)%I% NAME\nMARK\0\0\0\0\0\x02\xFF\xFE", 33));
  EXPECT_EQ(get_header(ch, &h), 1);
  EXPECT_EQ(h.hd_type, 't');
  EXPECT_EQ(h.hd_release, 'x');
  EXPECT_EQ(h.hd_rel[0], -1);
  EXPECT_STREQ(h.hd_desc, "NAME");
  EXPECT_STREQ(h.hd_mark, "MARK");
  EXPECT_EQ(h.hd_fmt, 2);
  EXPECT_EQ(h.hd_word, -2);
  adf_close(ch);

  ch = open(std::string("#<VlxVS>@(#)1.2.3.4 A description\n#   xxx\n") + std::string("\0\1\0\1Z", 5));
  EXPECT_EQ(get_header(ch, &h), 2);
  EXPECT_EQ(h.hd_rel[3], 4);
  EXPECT_STREQ(h.hd_desc, "A description");
  EXPECT_STREQ(h.hd_mark, "xxx");
  EXPECT_EQ(h.hd_fmt, 1);
  unsigned char* buffer = nullptr;
  int size = 0;
  EXPECT_EQ(read_section(ch, &buffer, &size, group, 'N'), 1);
  EXPECT_EQ(buffer[0], 'Z');
  adf_close(ch);

  ch = open("#<VlxAS>\n");
  EXPECT_EQ(get_header(ch, &h), 1);
  adf_close(ch);
  ch = open("#Vlx\n");
  EXPECT_EQ(get_header(ch, &h), -19);
  adf_close(ch);
  ch = open("#<Vlxtx> %I% short\nAB");
  EXPECT_EQ(get_header(ch, &h), -19);
  adf_close(ch);
  adg_free(group);
}

}  // namespace
