// The request decoders against what a client sends: every field in its
// place, every byte announced after a body consumed, also when the request
// is refused, and hostile grammars answered without harm.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/vlxerr.h"
#include "image/vlxfsq.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table_support.h"

using namespace tabletest;

namespace {

class Decoders : public EngineTest {};

// A grammar of one integer literal: its size list and sections.
std::string small_grammar(std::string* sizes) {
  grctx g;
  init_pt_exp(&g, 0);
  builder::parse(&g, "7");
  std::string raw = encode_grammar(&g, sizes);
  Grammar_free(&g);
  return raw;
}

// Each field with a value of its own; a grammar's bytes go to `raw`.
std::string fields_of(const std::string& layout, std::string* raw) {
  std::string body;
  int n = 1;
  for (char f : layout) {
    switch (f) {
      case 'c': body += std::string(1, static_cast<char>(n)); break;
      case 'i': body += be16(0x0100 + n); break;
      case 'l': body += be32(0x01000000 + n); break;
      case 's': body += text("t" + std::to_string(n)); break;
      case 'g': {
        std::string sizes;
        *raw += small_grammar(&sizes);
        body += sizes;
        break;
      }
    }
    ++n;
  }
  return body;
}

// Each request is followed in its body by event 5 (a request of no
// fields, answered 0): a decoder that read its fields out of order would
// take that byte, or the grammar's bytes, for something else.
TEST_F(Decoders, UnservedRequestsReadTheirFieldsInOrder) {
  for (const vlxtest::Case& c : vlxtest::read_cases("decoders.txt")) {
    int object = std::stoi(c.fields[0]);
    std::string raw;
    std::string body = std::string(1, 3) + std::string(1, static_cast<char>(std::stoi(c.fields[1]))) +
                       fields_of(c.fields[2], &raw) + std::string(1, object != 0 ? 5 : 3);
    std::string answer = call(object, body, raw);
    std::string expected = std::string(1, '\0') + std::string(static_cast<std::size_t>(std::stoi(c.fields[3])), '\0') +
                           std::string(1, '\0');
    EXPECT_EQ(answer, expected) << "line " << c.line;
    EXPECT_EQ(unread().size(), 0u) << "line " << c.line << ": bytes left on the stream";
  }
}

// Sizes that are not a multiple of their section's element size refuse
// the grammar; the bytes they announce are consumed all the same.
TEST_F(Decoders, RefusedGrammarsConsumeWhatTheyAnnounce) {
  int slot = open_text("refused", "1 one\n");
  ASSERT_GT(slot, 0);
  std::string sizes = be16(25) + be16(6) + std::string(12, '\0');
  std::string raw(31, 'x');
  struct Request {
    const char* what;
    std::string body;
  } requests[] = {
      {"filter", std::string("\x03\x0D", 2) + sizes + be16(1) + std::string(1, '\0')},
      {"selection", std::string("\x03\x17", 2) + sizes + std::string(3, '\0')},
      {"key", std::string("\x03\x0C", 2) + sizes + be16(1) + be16(2) + be16(3) + text("")},
      {"link", std::string("\x03\x0F", 2) + be16(1) + sizes},
      {"filter on no table", std::string("\x03\x0D", 2) + sizes + be16(1) + std::string(1, '\0')},
  };
  for (const Request& r : requests) {
    int object = std::string(r.what) == "filter on no table" ? 40 : slot;
    std::string answer = call(object, r.body, raw);
    EXPECT_EQ(answer, object == slot ? std::string(1, static_cast<char>(-26)) : "") << r.what;
    EXPECT_EQ(unread(), "") << r.what;
    raz_err();
  }
  std::vector<std::string> f;
  EXPECT_EQ(read_table(slot, 0, &f), 0);
  close_table(slot);
}

// A key comparison whose compared value leads back to itself, directly or
// through other nodes, is answered with an error; the table goes on.
TEST_F(Decoders, CyclicKeyComparisonsAreAnswered) {
  int slot = open_text("cyclic", "1 one\n2 two\n");
  ASSERT_GT(slot, 0);
  for (int through = 0; through < 3; ++through) {
    grctx g;
    init_pt_exp(&g, 0);
    // Node 1 compares the table's key (mode 5, equal) with node 1 + through.
    unsigned first = static_cast<unsigned>(stfexp(&g, 335, 5, 1 + through, 0, static_cast<unsigned>(slot), 0));
    for (int i = 1; i <= through; ++i)
      stfexp(&g, i == through ? 266 : 264, 0, i == through ? first : 2 + i, first, 0, 0);
    int filter = add_filter_grammar(slot, g, first);
    ASSERT_GT(filter, 0) << through;
    std::vector<std::string> f;
    EXPECT_LT(read_table(slot, 0, &f), 0) << through;
    raz_err();
    EXPECT_EQ(remove_filter(slot, filter), 0);
    ASSERT_EQ(read_table(slot, 0, &f), 0) << "the next request is served";
    EXPECT_EQ(f[1], "one");
  }
  close_table(slot);
}

}  // namespace
