// Received grammars: the input is a section-size list followed by the
// sections, read with readGrammar over an in-memory slot; every node of a
// grammar that decodes is then evaluated against the table kept open in
// slot 1 (fuzz_table.h), on each of its records in turn, so that field
// loads and key comparisons reach a real record; when a node makes a
// filter plan (comparisons of fields, or of the calls val, len, left$ and
// toupper over fields, with literals), the plan must answer as the
// evaluation did.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "calc/fplan.h"
#include "fuzz_table.h"
#include "image/vlxfsq.h"

namespace {

constexpr int kSlot = 2;
constexpr int kSizeList = 2 * kSections;

void evaluate_every_node(grctx* g) {
  for (unsigned node = 1; node <= g->gr_exp.gc_nbr; node++) {
    res_u value;
    res_zero(&value);
    int st = evafsr(&value, g, node);
    if (st >= 0) st = ifnull(&value);
    res_drop(&value);
    raz_err();
    fplan plan;
    if (plan_make(&plan, g, node) && plan_eval(&plan, g) != (st < 0 ? st : !st)) std::abort();
    raz_err();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (fuzztable::start(), true);
  (void)ready;
  int counts[kSections];
  if (size < kSizeList || grammar_counts(data, counts) < 0) {
    raz_err();
    return 0;
  }
  fuzztable::ensure_table();
  int in = cbuf_open(), out = cbuf_open();
  unsigned slotGroup = adg_get(nullptr, nullptr, kGrpCommunications, "fuzz slot");
  unsigned group = adg_get(nullptr, nullptr, kGrpCommunications, "fuzz grammar");
  i_tcom(kSlot, nullptr, slotGroup, 0, out, in, out, in, 20, nullptr);
  cbuf_feed(in, data + kSizeList, static_cast<int>(size - kSizeList));
  grctx* g = nullptr;
  if (readGrammar(kSlot, &g, group, counts, 65535) == 0) {
    // The first, the second and the last record.
    for (int mode : {0, 2, 1}) {
      int found[17] = {}, flags[17] = {};
      s_keyv key{nullptr, 0};
      int st = Tsy[1] != nullptr ? rd_sys(1, 0, 0, mode, 0, &key, found, 0, 0, flags, nullptr) : -1;
      raz_err();
      if (st != 0) continue;
      evaluate_every_node(g);
    }
  }
  comFree(kSlot);
  adg_free(group);
  adg_free(slotGroup);
  cbuf_close(in);
  cbuf_close(out);
  raz_err();
  return 0;
}
