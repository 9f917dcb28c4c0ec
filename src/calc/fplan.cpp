#include "calc/fplan.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <type_traits>

#include "base/bigend.h"
#include "values/uplowu.h"

plan_view_fn Plan_view = nullptr;
plan_functions Plan_functions = {};

namespace {

constexpr int kPlanPass = -1, kPlanFail = -2;

// Stored forms a comparison reads in the record: big-endian integers of
// 1, 2, 4 and 8 bytes, dates of 3 and 4 bytes, 8-bit text up to its first
// NUL, a decimal record; and 8-bit text under val, len, left$, toupper.
enum : std::uint8_t {
  kLoaded, kByte, kShort, kInt, kLong, kDate3, kDate4, kText8, kDecimalRecord,
  kValText8, kLenText8, kLeftText8, kUpperText8,
};
// The functions a test applies to its field (ORDER CALLS: the stored
// forms above, Plan_functions).
enum : std::uint8_t { kNoCall, kVal, kLen, kLeft, kUpper };
// The order of a stored form that only the calculator can tell (a text
// that val cannot read).
constexpr int kNoOrder = 2;
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

  // The call of a function the plan computes over a field and nothing
  // else (left$: a count literal of 0 or more): which, with its field and
  // count; kNoCall otherwise.
  std::uint8_t call_of(unsigned node, unsigned* field, std::uint32_t* count) const {
    if (node == 0 || node > g_->gr_exp.gc_nbr) return kNoCall;
    const s_exp* e = gt_exp(g_, node);
    const plan_function* known[] = {&Plan_functions.val, &Plan_functions.len, &Plan_functions.left,
                                    &Plan_functions.upper};
    std::uint8_t call = kNoCall;
    for (std::uint8_t k = 0; k < 4; ++k)
      if (known[k]->handler != nullptr && e->code == known[k]->code && e->code < kCodes && Obef[e->code] == known[k]->handler)
        call = static_cast<std::uint8_t>(kVal + k);
    if (call == kNoCall || !is_field(e->header)) return kNoCall;
    unsigned after = gt_exp(g_, e->header)->next;
    if (call == kLeft) {
      if (after == 0 || after > g_->gr_exp.gc_nbr) return kNoCall;
      const s_exp* n = gt_exp(g_, after);
      calc_fn load = n->code < kCodes ? Obef[n->code] : nullptr;
      if (load != loadint || n->objectId < 1 || n->objectId > g_->gr_int.gc_nbr || n->next != 0) return kNoCall;
      std::int32_t value = gt_int(g_, n->objectId);
      if (value < 0) return kNoCall;
      *count = static_cast<std::uint32_t>(value);
    } else if (after != 0) {
      return kNoCall;
    }
    *field = e->header;
    return call;
  }

  // A field, or a call the plan computes over one: the field node, with
  // the call in t.
  unsigned subject(unsigned node, plan_test* t) const {
    if (is_field(node)) return node;
    unsigned field = 0;
    t->call = call_of(node, &field, &t->count);
    return t->call != kNoCall ? field : 0;
  }

  // The literal kinds a call's value is compared with quickly: its own
  // (val's decimals take integer literals converted as cmp_exp would).
  static bool suits(plan_test* t) {
    switch (t->call) {
      case kVal:
        if (t->kind == kInteger) {
          res_u v;
          res_temp(&v);
          v.rs_type = LINTG;
          v.rs_int = t->value.integer;
          if (convdcb(&v) < 0) return false;
          t->kind = kDecimal;
          t->value.decimal = v.rs_dcb;
        }
        return t->kind == kDecimal;
      case kLen: return t->kind == kInteger;
      case kLeft: case kUpper: return t->kind == kText;
      default: return true;
    }
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

  // A comparison of a field, or of a call over it, with a literal, either
  // way round; -1 when the node is some other comparison.
  int compare(const s_exp* e, int depth, std::uint8_t accept, int onTrue, int onFalse) {
    plan_test probe{};
    unsigned field = subject(e->header, &probe);
    bool swapped = field == 0;
    if (swapped) field = subject(e->tail, &probe);
    unsigned operand = swapped ? e->tail : e->header, other = swapped ? e->header : e->tail;
    if (field == 0) return -1;
    if (!literal(other, &probe) || !suits(&probe)) return -1;
    plan_test* t = add(onTrue, onFalse);
    if (t == nullptr) return -1;
    *t = probe;
    t->onTrue = static_cast<std::int8_t>(onTrue);
    t->onFalse = static_cast<std::int8_t>(onFalse);
    // The accepted orders are those of the field against the literal.
    t->accept = swapped ? static_cast<std::uint8_t>((accept & 2) | (accept >> 2) | ((accept & 1) << 2)) : accept;
    t->swapped = swapped;
    t->node = operand;
    t->depth = static_cast<std::uint16_t>(depth);
    stored_form(gt_exp(g_, field), t);
    return plan_->count - 1;
  }

  // The stored form of the field when it is one this test compares as it
  // is: the same kind of value as its literal.
  static void stored_form(const s_exp* field, plan_test* t) {
    unsigned length = field->tail;
    // A length that is negative as the load reads it is refused (error
    // 10) whatever the type: a received grammar may declare one.
    if (static_cast<int>(length) < 0) return;
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
    if (t->call != kNoCall) {
      // Calls read 8-bit text.
      if (f.form != kText8) return;
      const std::uint8_t forms[] = {kLoaded, kValText8, kLenText8, kLeftText8, kUpperText8};
      f.form = forms[t->call];
    } else if (f.kind != t->kind) {
      return;
    }
    t->stored = f.form;
    if (f.form == kLenText8)
      t->count = t->value.integer < 0 ? 0 : static_cast<std::uint32_t>(std::min<std::int64_t>(t->value.integer + 1, f.size));
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

// The characters of 8-bit text stored at `in` within `limit` bytes: up to
// its first NUL. Fields are short: eight bytes at a time, inline, while
// the field (`room` bytes, `limit` or more) has them.
inline unsigned text_length(const unsigned char* in, unsigned limit, unsigned room) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  unsigned n = 0;
  for (; n < limit && n + 8 <= room; n += 8) {
    std::uint64_t word;
    std::memcpy(&word, in + n, 8);
    // The lowest marked byte is the first NUL (bytes in memory order).
    if (std::uint64_t zero = (word - kOnes) & ~word & kHighs; zero != 0)
      return std::min(limit, n + static_cast<unsigned>(__builtin_ctzll(zero) >> 3));
  }
  while (n < limit && in[n] != 0) n++;
  return std::min(n, limit);
}

// The same for a limit under 16 in a field of 16 bytes or more, without a
// branch on the bytes: whether a name ends before the limit is as good as
// random from one record to the next, and a mispredicted jump costs more
// than reading all 16.
// REQUIRES: limit < 16 <= the field's bytes.
inline unsigned short_text_length(const unsigned char* in, unsigned limit) {
  using u128 = unsigned __int128;
  constexpr u128 kOnes = static_cast<u128>(0x0101010101010101) << 64 | 0x0101010101010101;
  u128 word;
  std::memcpy(&word, in, 16);
  // A mark on the byte at the limit stops the count there; one on the
  // last byte keeps the high half marked.
  u128 zero = ((word - kOnes) & ~word & (kOnes << 7)) | static_cast<u128>(1) << (8 * limit) | static_cast<u128>(1) << 120;
  auto low = static_cast<std::uint64_t>(zero), high = static_cast<std::uint64_t>(zero >> 64);
  unsigned bit = low != 0 ? static_cast<unsigned>(__builtin_ctzll(low)) : 64 + static_cast<unsigned>(__builtin_ctzll(high));
  return bit >> 3;
}

// The order of the n characters of 8-bit text at `in` against the test's
// literal, which has no NUL before its own end; as the texts would
// compare.
inline int text_order(const plan_test& t, const grctx* g, const unsigned char* in, unsigned n) {
  const char16_t* literal = reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + t.value.text;
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

// The order of a text of units next() (0 past its end, none before)
// against the test's literal, which has no NUL before its own end: as
// stucmp orders them.
template <class Next>
inline int stream_order(const plan_test& t, const grctx* g, Next next) {
  const char16_t* literal = reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + t.value.text;
  for (unsigned i = 0;; ++i) {
    unsigned a = next(), b = i < t.textLength ? literal[i] : 0;
    if (a != b || a == 0) return (a > b) - (a < b);
  }
}

// val of 8-bit text: the decimal reading of its first 255 characters, as
// the loaded value's text is read; kNoOrder when that reading fails.
int val_order(const plan_test& t, const unsigned char* in) {
  char text[256];
  unsigned n = text_length(in, std::min(t.size, 255u), t.size);
  std::memcpy(text, in, n);
  text[n] = 0;
  s_dcb d;
  if (strdcb(&d, text) < 0) return kNoOrder;
  int c = dcbcmp(&d, &t.value.decimal);
  return (c > 0) - (c < 0);
}

// toupper of 8-bit text, mapped a character at a time as it is compared.
int upper_order(const plan_test& t, const grctx* g, const unsigned char* in) {
  unsigned n = text_length(in, t.size, t.size), at = 0;
  char16_t mapped[16];
  int pending = 0, used = 0;
  return stream_order(t, g, [&]() -> unsigned {
    if (used == pending) {
      if (at == n) return 0;
      char16_t c = in[at++];
      pending = toupper_u(mapped, c);
      if (pending == 0) mapped[0] = c, pending = 1;
      used = 0;
    }
    return mapped[used++];
  });
}

// The stored forms of integers and dates, which a test reads as a number.
constexpr bool integral(std::uint8_t form) { return form >= kByte && form <= kDate4; }

// The value of a field of the integral stored form kForm at `in`, as its
// load reads it.
template <std::uint8_t kForm>
[[gnu::always_inline]] inline std::int64_t form_value(const unsigned char* in) {
  if constexpr (kForm == kByte) return in[0];
  if constexpr (kForm == kShort) return get_be16(in);
  if constexpr (kForm == kInt) return static_cast<std::int32_t>(get_be32(in));
  if constexpr (kForm == kLong) return static_cast<std::int64_t>(get_be64(in));
  if constexpr (kForm == kDate3) return static_cast<std::uint32_t>(in[0]) << 16 | in[1] << 8 | in[2];
  if constexpr (kForm == kDate4) return get_be32(in);
  return 0;
}

// The literal of an integral test, as a number.
std::int64_t integral_literal(const plan_test& t) { return t.kind == kDate ? t.value.date : t.value.integer; }

// The order of a field read in the stored form kForm at `in` against the
// test's literal, as its load and the comparison would give it.
template <std::uint8_t kForm>
[[gnu::always_inline]] inline int form_order(const plan_test& t, const grctx* g, const unsigned char* in) {
  if constexpr (integral(kForm)) return sign(form_value<kForm>(in), integral_literal(t));
  if constexpr (kForm == kDecimalRecord) return dcbcmp_at(in, t.against.bound);
  if constexpr (kForm == kText8) return text_order(t, g, in, text_length(in, t.size, t.size));
  if constexpr (kForm == kValText8) return val_order(t, in);
  if constexpr (kForm == kLenText8) {
    // Against a length L, the first L + 1 bytes tell (t.count, set when
    // the plan is made): a text that long is longer than L.
    unsigned n = t.count < 16 && t.size >= 16 ? short_text_length(in, t.count) : text_length(in, t.count, t.size);
    return sign(n, t.value.integer);
  }
  if constexpr (kForm == kLeftText8) return text_order(t, g, in, text_length(in, std::min(t.size, t.count), t.size));
  if constexpr (kForm == kUpperText8) return upper_order(t, g, in);
  return 0;
}

// The result of a test in a tabled plan, on its field read in the stored
// form kForm at `in`: whether it passes, but for an integer or a date
// whether its value lies in the test's range, without a jump on the
// value (the plan's truth table reads the range of an `outside` test
// inverted).
// REQUIRES: kForm is not kValText8 (whose order may need the calculator).
template <std::uint8_t kForm>
[[gnu::always_inline]] inline unsigned tabled_result(const plan_test& t, const grctx* g, const unsigned char* in) {
  if constexpr (integral(kForm))
    return static_cast<std::uint64_t>(form_value<kForm>(in)) - t.against.range.low <= t.against.range.span;
  else
    return t.accept >> (form_order<kForm>(t, g, in) + 1) & 1u;
}

// The forms a test may have, as the evaluations that dispatch on it know
// them: any; a tabled plan's (never val's or toupper's, whose calls would
// give the run a frame); or numbers only (integers, dates, decimals), in a
// run without the text loops' registers.
enum class Forms { kAny, kTabled, kNumbers };

// Calls visit(form) with the test's stored form as a constant.
// REQUIRES: the form is one of `kForms`.
template <Forms kForms, class Visit>
[[gnu::always_inline]] inline auto by_form(std::uint8_t form, Visit visit) {
  using F = std::uint8_t;
  switch (form) {
    case kByte: return visit(std::integral_constant<F, kByte>{});
    case kShort: return visit(std::integral_constant<F, kShort>{});
    case kInt: return visit(std::integral_constant<F, kInt>{});
    case kLong: return visit(std::integral_constant<F, kLong>{});
    case kDate3: return visit(std::integral_constant<F, kDate3>{});
    case kDate4: return visit(std::integral_constant<F, kDate4>{});
    default: break;
  }
  if constexpr (kForms == Forms::kNumbers) {
    return visit(std::integral_constant<F, kDecimalRecord>{});
  } else {
    switch (form) {
      case kDecimalRecord: return visit(std::integral_constant<F, kDecimalRecord>{});
      case kLenText8: return visit(std::integral_constant<F, kLenText8>{});
      case kLeftText8: return visit(std::integral_constant<F, kLeftText8>{});
      case kValText8:
        if constexpr (kForms == Forms::kAny) return visit(std::integral_constant<F, kValText8>{});
        break;
      case kUpperText8:
        if constexpr (kForms == Forms::kAny) return visit(std::integral_constant<F, kUpperText8>{});
        break;
      default: break;
    }
    return visit(std::integral_constant<F, kText8>{});
  }
}

inline int stored_order(const plan_test& t, const grctx* g, const unsigned char* in) {
  return by_form<Forms::kAny>(t.stored, [&](auto form) { return form_order<decltype(form)::value>(t, g, in); });
}

// The record of the fields' table, fetched once an evaluation.
struct RecordView {
  unsigned table = ~0u;
  plan_record view{nullptr, 0};
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
      record->view = *Plan_view(t.table);
    }
    // Out of the record, the load answers its error.
    if (record->view.bytes != nullptr && t.offset + static_cast<std::uint64_t>(t.size) <= record->view.length)
      if (int order = stored_order(t, g, record->view.bytes + t.offset); order != kNoOrder)
        return (t.accept >> (order + 1)) & 1;
  }
  if (t.call != kNoCall) {
    // The call's value, computed where the comparison would.
    *loaded = 0;
    if (int st = evafsr_at(v, g, t.node, t.depth + 1); st < 0) return st;
  } else if (*loaded != t.node) {
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

// The tests of a plan that reads one record, all of stored form kForm
// (kLoaded: of any forms): 1 or 0.
// REQUIRES: every field of the plan lies inside the record.
template <std::uint8_t kForm>
int stored_loop(const fplan* plan, const grctx* g, const unsigned char* record) {
  int at = plan->start;
  while (at >= 0) {
    const plan_test& t = plan->tests[at];
    int order = kForm == kLoaded ? stored_order(t, g, record + t.offset) : form_order<kForm>(t, g, record + t.offset);
    if (order == kNoOrder) return -1;
    at = (t.accept >> (order + 1)) & 1 ? t.onTrue : t.onFalse;
  }
  return at == kPlanPass;
}

// A plan whose tests all read the one record: 1, 0, or -1 when a field
// lies outside the record or a test's order needs the calculator (the
// general evaluation then answers, loading the fields that its tests
// reach).
int eval_stored(const fplan* plan, const grctx* g) {
  plan_record view = *plan->record;
  const unsigned char* record = view.bytes;
  if (record == nullptr || plan->extent > view.length) return -1;
  switch (plan->form) {
    case kInt: return stored_loop<kInt>(plan, g, record);
    case kDate4: return stored_loop<kDate4>(plan, g, record);
    case kText8: return stored_loop<kText8>(plan, g, record);
    case kValText8: return stored_loop<kValText8>(plan, g, record);
    case kLenText8: return stored_loop<kLenText8>(plan, g, record);
    case kLeftText8: return stored_loop<kLeftText8>(plan, g, record);
    case kUpperText8: return stored_loop<kUpperText8>(plan, g, record);
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

// A tabled plan whose tests are all of stored form kForm (kLoaded: of
// kForms): every test, then its truth table. kCount: the plan's number of
// tests when the run is made for it (the loop unrolled), 0 for any.
template <std::uint8_t kForm, Forms kForms, int kCount>
int run_tabled(const fplan* plan, const grctx* g, const unsigned char* record) {
  unsigned results = 0;
  int count = kCount > 0 ? kCount : plan->count;
  for (int i = 0; i < count; ++i) {
    const plan_test& t = plan->tests[i];
    const unsigned char* in = record + t.offset;
    unsigned result = 0;
    if constexpr (kForm == kLoaded)
      result = by_form<kForms>(t.stored, [&](auto form) { return tabled_result<decltype(form)::value>(t, g, in); });
    else
      result = tabled_result<kForm>(t, g, in);
    results |= result << i;
  }
  return static_cast<int>(plan->truth >> results & 1);
}

// Most filters are one or two comparisons.
template <std::uint8_t kForm, Forms kForms = Forms::kTabled>
plan_run_fn tabled_run(int count) {
  return count == 1 ? run_tabled<kForm, kForms, 1>
         : count == 2 ? run_tabled<kForm, kForms, 2>
                      : run_tabled<kForm, kForms, 0>;
}

plan_run_fn tabled_run(const fplan* plan) {
  switch (plan->form) {
    case kInt: return tabled_run<kInt>(plan->count);
    case kDate4: return tabled_run<kDate4>(plan->count);
    case kText8: return tabled_run<kText8>(plan->count);
    case kLenText8: return tabled_run<kLenText8>(plan->count);
    case kLeftText8: return tabled_run<kLeftText8>(plan->count);
    default: break;
  }
  bool numbers = true;
  for (int i = 0; i < plan->count; ++i)
    numbers = numbers && (integral(plan->tests[i].stored) || plan->tests[i].stored == kDecimalRecord);
  return numbers ? tabled_run<kLoaded, Forms::kNumbers>(plan->count) : tabled_run<kLoaded>(plan->count);
}

// A tabled plan that runs as its one test `between`.
template <std::uint8_t kForm>
int run_between(const fplan* plan, const grctx* g, const unsigned char* record) {
  const plan_test& t = plan->between;
  return static_cast<int>(tabled_result<kForm>(t, g, record + t.offset) != static_cast<unsigned>(t.against.range.outside));
}

// Makes `between` of a plan of two tests of one integer or date field
// that passes when both do; false for any other plan.
bool fuse_ranges(fplan* plan) {
  const plan_test &a = plan->tests[0], &b = plan->tests[1];
  if (plan->count != 2 || plan->truth != 0b1000 || !integral(a.stored) || b.stored != a.stored ||
      b.offset != a.offset || a.against.range.outside || b.against.range.outside)
    return false;
  auto low = [](const plan_test& t) { return static_cast<std::int64_t>(t.against.range.low); };
  auto high = [](const plan_test& t) { return static_cast<std::int64_t>(t.against.range.low + t.against.range.span); };
  std::int64_t from = std::max(low(a), low(b)), to = std::min(high(a), high(b));
  plan->between = a;
  // When no value lies in both, every value is outside the whole range.
  plan_range& range = plan->between.against.range;
  range.outside = from > to;
  range.low = from > to ? 0 : static_cast<std::uint64_t>(from);
  range.span = from > to ? ~0ULL : static_cast<std::uint64_t>(to) - static_cast<std::uint64_t>(from);
  return true;
}

plan_run_fn between_run(std::uint8_t form) {
  return by_form<Forms::kNumbers>(form, [](auto f) -> plan_run_fn { return run_between<decltype(f)::value>; });
}

// An integral test's accepted orders as the range of values that pass.
void set_range(plan_test* t) {
  using i128 = __int128;
  constexpr i128 kMin = INT64_MIN, kMax = INT64_MAX;
  i128 literal = integral_literal(*t), low = literal, high = literal;
  plan_range& range = t->against.range;
  range.outside = false;
  if (t->accept == kDifferent) {
    range.outside = true;
  } else {
    low = t->accept & 1 ? kMin : t->accept & 2 ? literal : literal + 1;
    high = t->accept & 4 ? kMax : t->accept & 2 ? literal : literal - 1;
    if (low > high) low = kMin, high = kMax, range.outside = true;  // none passes
  }
  range.low = static_cast<std::uint64_t>(static_cast<std::int64_t>(low));
  range.span = static_cast<std::uint64_t>(static_cast<std::int64_t>(high)) - range.low;
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
  // val may need the calculator; toupper is too dear to run where a jump
  // would have skipped it.
  plan->tabled = plan->count <= kPlanTabled && Plan_view != nullptr;
  for (int i = 0; i < plan->count; ++i) {
    plan_test& t = plan->tests[i];
    plan->extent = std::max(plan->extent, static_cast<std::uint64_t>(t.offset) + t.size);
    plan->stored = plan->stored && t.stored != kLoaded && t.table == plan->table;
    if (t.stored != plan->form) plan->form = kLoaded;
    plan->tabled = plan->tabled && t.stored != kValText8 && t.stored != kUpperText8;
    if (integral(t.stored)) set_range(&t);
    if (t.stored == kDecimalRecord) t.against.bound = dcbbound(&t.value.decimal);
  }
  plan->tabled = plan->tabled && plan->stored;
  plan->run = plan->tabled ? tabled_run(plan) : nullptr;
  plan->record = plan->stored && Plan_view != nullptr ? Plan_view(plan->table) : nullptr;
  plan->truth = 0;
  for (unsigned results = 0; plan->tabled && results < 1u << plan->count; ++results) {
    int at = plan->start;
    while (at >= 0) {
      const plan_test& t = plan->tests[at];
      bool passes = (results >> at & 1) != (integral(t.stored) && t.against.range.outside);
      at = passes ? t.onTrue : t.onFalse;
    }
    plan->truth |= static_cast<std::uint64_t>(at == kPlanPass) << results;
  }
  if (plan->tabled && fuse_ranges(plan)) plan->run = between_run(plan->form);
  return plan->count > 0;
}

int plan_eval_any(const fplan* plan, grctx* g) {
  if (plan->record != nullptr)
    if (int st = eval_stored(plan, g); st >= 0) return st;
  return eval_loaded(plan, g);
}

bool plan_required_text(const fplan* plan, grctx* g, const s_exp** field, std::string* text) {
  if (plan->count == 0) return false;
  const plan_test& t = plan->tests[plan->start];
  if (t.kind != kText || t.call != kNoCall || t.accept != kEqual || t.onFalse != kPlanFail || t.textLength == 0 ||
      t.textLength > 255)
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
