#include "calc/fplan.h"

#include <algorithm>
#include <cstring>

#include "base/bigend.h"

plan_view_fn Plan_view = nullptr;

namespace {

constexpr int kPlanPass = -1, kPlanFail = -2;

// Stored forms a comparison reads in the record: big-endian integers of
// 1, 2, 4 and 8 bytes, dates of 3 and 4 bytes, 8-bit text up to its first
// NUL, a decimal record.
enum : std::uint8_t { kLoaded, kByte, kShort, kInt, kLong, kDate3, kDate4, kText8, kDecimalRecord };
// Deeper and/or/not nesting than this is left to the calculator, which
// also catches the loops of a malformed tree.
constexpr int kPlanDepth = 32;

// Test kinds: a node for the calculator, or a field compared with a
// literal of one type.
enum : std::uint8_t { kOther, kInteger, kDate, kDecimal, kText };
// How a node that is not a comparison is read as a truth value: as an
// operand of and/or, as the operand of not or as the whole filter.
enum : std::uint8_t { kTruth, kNotNull };

// The orders (-1, 0, 1) for which each comparison is true, as bits 0..2.
struct Relation {
  calc_fn handler;
  std::uint8_t accept;
};
constexpr std::uint8_t kEqual = 0b010, kDifferent = 0b101;
const Relation kRelations[] = {
    {cgrth, 0b100}, {cgreq, 0b110}, {clsth, 0b001}, {clseq, 0b011}, {cequa, kEqual}, {cdiff, kDifferent},
};

int sign(std::int64_t a, std::int64_t b) { return (a > b) - (a < b); }

class Planner {
 public:
  Planner(fplan* plan, grctx* g) : plan_(plan), g_(g) {}

  // Emits the tests of `node` read as a truth value, going to onTrue or
  // onFalse after them; the first of its tests, or -1 when it has no plan.
  // Tests are emitted last first, so that every target is known.
  int emit(unsigned node, int depth, std::uint8_t view, int onTrue, int onFalse) {
    if (node == 0 || node > g_->gr_exp.gc_nbr || depth >= kPlanDepth) return -1;
    const s_exp* e = gt_exp(g_, node);
    calc_fn handler = e->code < kCodes ? Obef[e->code] : nullptr;
    if (handler == dand || handler == dor) {
      bool both = handler == dand;
      int second = emit(e->tail, depth + 1, kTruth, onTrue, onFalse);
      if (second < 0) return -1;
      return emit(e->header, depth + 1, kTruth, both ? second : onTrue, both ? onFalse : second);
    }
    if (handler == unot) return emit(e->header, depth + 1, kNotNull, onFalse, onTrue);
    for (const Relation& r : kRelations)
      if (handler == r.handler) {
        if (int at = compare(e, depth, r.accept, onTrue, onFalse); at != -1) return at;
        break;
      }
    plan_test* t = add(onTrue, onFalse);
    if (t == nullptr) return -1;
    t->kind = kOther;
    t->accept = view;
    t->node = node;
    t->depth = static_cast<std::uint16_t>(depth);
    return plan_->count - 1;
  }

 private:
  plan_test* add(int onTrue, int onFalse) {
    if (plan_->count == kPlanTests) return nullptr;
    plan_test* t = &plan_->tests[plan_->count++];
    std::memset(static_cast<void*>(t), 0, sizeof *t);
    t->onTrue = static_cast<std::int8_t>(onTrue);
    t->onFalse = static_cast<std::int8_t>(onFalse);
    return t;
  }

  bool is_field(unsigned node) const {
    return node >= 1 && node <= g_->gr_exp.gc_nbr && gt_exp(g_, node)->code == kFieldLoad;
  }

  // Decodes a literal operand as its load handler would; false when it is
  // not a literal this plan knows, or its pool entry is out of range.
  bool literal(unsigned node, plan_test* t) const {
    if (node == 0 || node > g_->gr_exp.gc_nbr) return false;
    const s_exp* e = gt_exp(g_, node);
    calc_fn handler = e->code < kCodes ? Obef[e->code] : nullptr;
    unsigned id = e->objectId;
    if (handler == loadint || handler == loaddte) {
      if (id < 1 || id > g_->gr_int.gc_nbr) return false;
      t->kind = handler == loadint ? kInteger : kDate;
      if (handler == loadint) t->value.integer = gt_int(g_, id);
      else t->value.date = static_cast<std::uint32_t>(gt_int(g_, id));
    } else if (handler == loaddcb) {
      if (id < 1 || id > g_->gr_dcb.gc_nbr) return false;
      t->kind = kDecimal;
      std::memcpy(&t->value.decimal, g_->gr_dcb.gc_ptr + sizeof(s_dcb) * id, sizeof(s_dcb));
    } else if (handler == loadstu) {
      if (id < 1 || id > g_->gr_stu.gc_nbr) return false;
      // Only a text that ends inside its pool and fits a value's inline
      // buffer; the load handler answers the others.
      auto* text = reinterpret_cast<const char16_t*>(g_->gr_stu.gc_ptr) + id;
      unsigned room = g_->gr_stu.gc_nbr - id + 1, n = 0;
      while (n < room && text[n] != 0) n++;
      if (n == room || n > kInlineChars) return false;
      t->kind = kText;
      t->value.text = id;
      t->textLength = static_cast<std::uint16_t>(n);
    } else {
      return false;
    }
    t->literal = node;
    return true;
  }

  // A comparison of a field with a literal, either way round; -1 when the
  // node is some other comparison.
  int compare(const s_exp* e, int depth, std::uint8_t accept, int onTrue, int onFalse) {
    bool swapped = !is_field(e->header);
    unsigned field = swapped ? e->tail : e->header, other = swapped ? e->header : e->tail;
    if (!is_field(field)) return -1;
    plan_test probe{};
    if (!literal(other, &probe)) return -1;
    plan_test* t = add(onTrue, onFalse);
    if (t == nullptr) return -1;
    *t = probe;
    t->onTrue = static_cast<std::int8_t>(onTrue);
    t->onFalse = static_cast<std::int8_t>(onFalse);
    // The accepted orders are those of the field against the literal.
    t->accept = swapped ? static_cast<std::uint8_t>((accept & 2) | (accept >> 2) | ((accept & 1) << 2)) : accept;
    t->swapped = swapped;
    t->node = field;
    t->depth = static_cast<std::uint16_t>(depth);
    stored_form(gt_exp(g_, field), t);
    return plan_->count - 1;
  }

  // The stored form of the field when it is one this test compares as it
  // is: the same kind of value as its literal.
  static void stored_form(const s_exp* field, plan_test* t) {
    unsigned length = field->tail;
    struct Form {
      std::uint8_t form, kind;
      unsigned size;
    } f{kLoaded, kOther, 0};
    switch (field->type) {
      case LLIBE: f = {kByte, kInteger, 1}; break;
      case LSINT: f = {kShort, kInteger, 2}; break;
      case LINTG: f = {kInt, kInteger, 4}; break;
      case LINT64: f = {kLong, kInteger, 8}; break;
      // Other lengths the load refuses or bounds by their whole size.
      case LDATE:
        if (length == 3) f = {kDate3, kDate, 3};
        else if (length == 0 || length == 4) f = {kDate4, kDate, 4};
        break;
      case LSTRG: f = {kText8, kText, length}; break;
      case LDCB: if (length == 0) f = {kDecimalRecord, kDecimal, sizeof(s_dcb)}; break;
      default: break;
    }
    if (f.kind != t->kind) return;
    t->stored = f.form;
    t->table = field->objectId;
    t->offset = field->header;
    t->size = f.size;
  }

  fplan* plan_;
  grctx* g_;
};

// The order of the field's value against the test's literal, when their
// types are the pair the test was decoded for; false otherwise.
bool quick_order(const plan_test& t, const grctx* g, const res_u* v, int* order) {
  switch (t.kind) {
    case kInteger:
      if (!is_int(v->rs_type)) return false;
      *order = sign(v->rs_int, t.value.integer);
      return true;
    case kDate:
      if (v->rs_type != LDATE) return false;
      *order = sign(v->rs_date, t.value.date);
      return true;
    case kDecimal: {
      if (v->rs_type != LDCB) return false;
      int c = dcbcmp(&v->rs_dcb, &t.value.decimal);
      *order = (c > 0) - (c < 0);
      return true;
    }
    default: {
      if (v->rs_type != LCLOB || v->rs_str == nullptr) return false;
      const char16_t* text = reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + t.value.text;
      const varstu* s = v->rs_str;
      if (t.accept == kEqual || t.accept == kDifferent) {
        // Texts compare up to their first NUL, and the literal has none
        // before its end: the field equals it only when it holds the
        // literal and then ends or has a NUL.
        unsigned n = t.textLength;
        bool same = s->length >= n && s->text[n] == 0;
        for (unsigned i = 0; same && i < n; ++i) same = s->text[i] == text[i];
        *order = same ? 0 : 1;
        return true;
      }
      int c = stucmp(s->text, text);
      *order = (c > 0) - (c < 0);
      return true;
    }
  }
}

// The order of 8-bit text read where it is stored (it ends at its first
// NUL or at the field's end) against the test's literal, which has no NUL
// before its own end; as the texts would compare.
inline int text_order(const plan_test& t, const grctx* g, const unsigned char* in) {
  const char16_t* literal = reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + t.value.text;
  const void* nul = std::memchr(in, 0, t.size);
  unsigned n = nul != nullptr ? static_cast<unsigned>(static_cast<const unsigned char*>(nul) - in) : t.size;
  if (t.accept == kEqual || t.accept == kDifferent) {
    bool same = n == t.textLength;
    for (unsigned i = 0; same && i < n; ++i) same = in[i] == literal[i];
    return same ? 0 : 1;
  }
  for (unsigned i = 0;; ++i) {
    unsigned a = i < n ? in[i] : 0, b = i < t.textLength ? literal[i] : 0;
    if (a != b || a == 0) return (a > b) - (a < b);
  }
}

// The order of a field read in the stored form kForm at `in` against the
// test's literal, as its load and the comparison would give it.
template <std::uint8_t kForm>
[[gnu::always_inline]] inline int form_order(const plan_test& t, const grctx* g, const unsigned char* in) {
  if constexpr (kForm == kByte) return sign(in[0], t.value.integer);
  if constexpr (kForm == kShort) return sign(get_be16(in), t.value.integer);
  if constexpr (kForm == kInt) return sign(static_cast<std::int32_t>(get_be32(in)), t.value.integer);
  if constexpr (kForm == kLong) return sign(static_cast<std::int64_t>(get_be64(in)), t.value.integer);
  if constexpr (kForm == kDate3) return sign(static_cast<std::uint32_t>(in[0]) << 16 | in[1] << 8 | in[2], t.value.date);
  if constexpr (kForm == kDate4) return sign(get_be32(in), t.value.date);
  if constexpr (kForm == kDecimalRecord) {
    s_dcb d;
    std::memcpy(&d, in, sizeof d);
    int c = dcbcmp(&d, &t.value.decimal);
    return (c > 0) - (c < 0);
  }
  if constexpr (kForm == kText8) return text_order(t, g, in);
  return 0;
}

// The same for the test's own stored form.
inline int stored_order(const plan_test& t, const grctx* g, const unsigned char* in) {
  switch (t.stored) {
    case kByte: return form_order<kByte>(t, g, in);
    case kShort: return form_order<kShort>(t, g, in);
    case kInt: return form_order<kInt>(t, g, in);
    case kLong: return form_order<kLong>(t, g, in);
    case kDate3: return form_order<kDate3>(t, g, in);
    case kDate4: return form_order<kDate4>(t, g, in);
    case kDecimalRecord: return form_order<kDecimalRecord>(t, g, in);
    default: return form_order<kText8>(t, g, in);
  }
}

// The record of the fields' table, fetched once an evaluation.
struct RecordView {
  unsigned table = ~0u;
  const unsigned char* bytes = nullptr;
  unsigned length = 0;
};

// A node that is not a comparison with a literal, read as the test's view
// of its value; kept out of the loop over comparisons.
[[gnu::noinline]] int run_other(const plan_test& t, grctx* g, res_u* v) {
  int st = evafsr_at(v, g, t.node, t.depth);
  if (st < 0) return st;
  if (t.accept == kTruth) return to_boolean(v);
  st = ifnull(v);
  return st < 0 ? st : !st;
}

// The order of the field's value against the literal by the operator's
// own rules, with the literal loaded as its handler does; cmp_exp may
// convert the field's value in place.
[[gnu::noinline]] int slow_order(const plan_test& t, grctx* g, res_u* v, int* order) {
  res_u literal;
  res_temp(&literal);
  int st = evafsr_at(&literal, g, t.literal, t.depth + 1);
  if (st >= 0) st = t.swapped ? cmp_exp(&literal, v, order) : cmp_exp(v, &literal, order);
  if (literal.rs_grp != 0) res_drop(&literal);
  if (t.swapped) *order = -*order;
  return st;
}

// Evaluates one test on the current values; its truth, or a negated error.
// v holds the value of the field `*loaded` (0: none) and is left holding
// the field it loaded, if any.
int run_test(const plan_test& t, grctx* g, res_u* v, unsigned* loaded, RecordView* record) {
  if (t.kind == kOther) {
    *loaded = 0;
    return run_other(t, g, v);
  }
  if (t.stored != kLoaded && Plan_view != nullptr) {
    if (record->table != t.table) {
      record->table = t.table;
      record->bytes = Plan_view(t.table, &record->length);
    }
    // Out of the record, the load answers its error.
    if (record->bytes != nullptr && t.offset + static_cast<std::uint64_t>(t.size) <= record->length)
      return (t.accept >> (stored_order(t, g, record->bytes + t.offset) + 1)) & 1;
  }
  if (*loaded != t.node) {
    *loaded = 0;
    int st = Obef[kFieldLoad](v, g, gt_exp(g, t.node), kFieldLoad);
    if (st < 0) return st;
    *loaded = t.node;
  }
  int order = 0;
  if (!quick_order(t, g, v, &order)) {
    *loaded = 0;
    if (int st = slow_order(t, g, v, &order); st < 0) return st;
  }
  return (t.accept >> (order + 1)) & 1;
}

}  // namespace

bool plan_make(fplan* plan, grctx* g, unsigned node) {
  plan->count = 0;
  Planner planner(plan, g);
  plan->start = planner.emit(node, 0, kNotNull, kPlanPass, kPlanFail);
  if (plan->start < 0) plan->count = 0;
  plan->stored = plan->count > 0;
  plan->table = plan->count > 0 ? plan->tests[0].table : 0;
  plan->form = plan->count > 0 ? plan->tests[0].stored : std::uint8_t{kLoaded};
  plan->extent = 0;
  for (int i = 0; i < plan->count; ++i) {
    plan->extent = std::max(plan->extent, static_cast<std::uint64_t>(plan->tests[i].offset) + plan->tests[i].size);
    plan->stored = plan->stored && plan->tests[i].stored != kLoaded && plan->tests[i].table == plan->table;
    if (plan->tests[i].stored != plan->form) plan->form = kLoaded;
  }
  return plan->count > 0;
}

namespace {

// The tests of a plan that reads one record, all of stored form kForm
// (kLoaded: of any forms): 1 or 0.
// REQUIRES: every field of the plan lies inside the record.
template <std::uint8_t kForm>
int stored_loop(const fplan* plan, const grctx* g, const unsigned char* record) {
  int at = plan->start;
  while (at >= 0) {
    const plan_test& t = plan->tests[at];
    int order = kForm == kLoaded ? stored_order(t, g, record + t.offset) : form_order<kForm>(t, g, record + t.offset);
    at = (t.accept >> (order + 1)) & 1 ? t.onTrue : t.onFalse;
  }
  return at == kPlanPass;
}

// A plan whose tests all read the one record: 1, 0, or -1 when a field
// lies outside the record (the general evaluation then answers, loading
// the fields that its tests reach).
int eval_stored(const fplan* plan, const grctx* g) {
  unsigned length = 0;
  const unsigned char* record = Plan_view(plan->table, &length);
  if (record == nullptr || plan->extent > length) return -1;
  switch (plan->form) {
    case kInt: return stored_loop<kInt>(plan, g, record);
    case kDate4: return stored_loop<kDate4>(plan, g, record);
    case kText8: return stored_loop<kText8>(plan, g, record);
    default: return stored_loop<kLoaded>(plan, g, record);
  }
}

// Any plan: fields loaded as values, other nodes by the calculator.
[[gnu::noinline]] int eval_loaded(const fplan* plan, grctx* g) {
  res_u value;
  res_temp(&value);
  int at = plan->start, st = 0;
  unsigned loaded = 0;
  RecordView record;
  while (at >= 0) {
    const plan_test& t = plan->tests[at];
    st = run_test(t, g, &value, &loaded, &record);
    if (value.rs_grp != 0) {
      res_drop(&value);
      loaded = 0;
    }
    if (st < 0) break;
    at = st != 0 ? t.onTrue : t.onFalse;
  }
  return st < 0 ? st : at == kPlanPass;
}

}  // namespace

int plan_eval(const fplan* plan, grctx* g) {
  if (plan->stored && Plan_view != nullptr)
    if (int st = eval_stored(plan, g); st >= 0) return st;
  return eval_loaded(plan, g);
}

bool plan_required_text(const fplan* plan, grctx* g, const s_exp** field, std::string* text) {
  if (plan->count == 0) return false;
  const plan_test& t = plan->tests[plan->start];
  if (t.kind != kText || t.accept != kEqual || t.onFalse != kPlanFail || t.textLength == 0 || t.textLength > 255)
    return false;
  const char16_t* literal = reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + t.value.text;
  text->clear();
  for (unsigned i = 0; i < t.textLength; ++i) {
    if (literal[i] > 0xFF) return false;
    text->push_back(static_cast<char>(literal[i]));
  }
  *field = gt_exp(g, t.node);
  return true;
}
