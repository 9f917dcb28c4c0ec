#include "grammar/grammar.h"

#include <algorithm>

#include "values/date.h"
#include "values/vlxdcb.h"

namespace grammar {

namespace {

constexpr int kNoMemory = -31;

}  // namespace

SourcePos position_of(const Node* node) {
  if (node == nullptr) return {};
  return {node->line() + 1, node->column() > 1 ? node->column() - 1u : 0u};
}

Grammar::Grammar(grctx* g) : g_(g), depth_(1, 0) {}

void Grammar::failed(const char* store, int status) {
  if (status == kNoMemory) exhausted_ = true;
  grammar_exception e;
  e.text = std::string(store) + " failed with error " + std::to_string(status);
  throw e;
}

int Grammar::depthOfChain(unsigned first) const {
  int deepest = 0;
  // A chain is at most as long as the table: the bound ends a loop that a
  // caller's mistake would make.
  for (unsigned i = first, n = 0; i != 0 && i < depth_.size() && n < depth_.size(); i = gt_exp(g_, i)->next, n++)
    deepest = std::max<int>(deepest, depth_[i]);
  return deepest;
}

unsigned Grammar::addExpression(unsigned code, SourcePos at, unsigned objectId, unsigned type, unsigned header,
                                unsigned tail, unsigned next) {
  int depth = 1 + std::max(depthOfChain(header), depthOfChain(tail));
  if (depth > kMaxDepth) {
    grammar_exception e;
    e.text = "expression nested too deeply";
    throw e;
  }
  int index = stfexp(g_, code, objectId, header, tail, type, next);
  if (index < 0) failed("stfexp", index);
  s_pos position{at.line, at.character};
  if (int st = st_cel(&g_->gr_est, &position, 1); st < 0) failed("gr_est", st);
  if (firstExpression_ == 0) firstExpression_ = static_cast<unsigned>(index);
  depth_.resize(static_cast<std::size_t>(index) + 1, 0);
  depth_[static_cast<std::size_t>(index)] = static_cast<std::uint16_t>(depth);
  return static_cast<unsigned>(index);
}

unsigned Grammar::chainExpressions(const std::vector<unsigned>& list) {
  unsigned first = 0, previous = 0;
  for (unsigned index : list) {
    if (index == 0) continue;
    if (previous != 0) gt_exp(g_, previous)->next = index;
    if (first == 0) first = index;
    previous = index;
  }
  return first;
}

void Grammar::chainExpressions(unsigned index, unsigned next) {
  if (next != 0) gt_exp(g_, index)->next = next;
}

unsigned Grammar::addInteger(std::int32_t value) {
  int index = stfint(g_, value);
  if (index < 0) failed("stfint", index);
  return static_cast<unsigned>(index);
}

unsigned Grammar::addLargeInteger(std::int64_t value) {
  int index = stflargeint(g_, value);
  if (index < 0) failed("stflargeint", index);
  return static_cast<unsigned>(index);
}

unsigned Grammar::addString(const std::string& utf8) {
  int index = stfstr(g_, utf8.c_str());
  if (index < 0) failed("stfstr", index);
  return static_cast<unsigned>(index);
}

unsigned Grammar::addDecimal(const std::string& text) {
  s_dcb value;
  if (int st = strdcb(&value, text.c_str()); st < 0) failed("strdcb", st);
  int index = stfdcb(g_, &value);
  if (index < 0) failed("stfdcb", index);
  return static_cast<unsigned>(index);
}

unsigned Grammar::addDate(int year, int month, int day) {
  int n = 0;
  if (ltodate(&n, year, month, day, 0) < 0 || n == 0) {
    grammar_exception e;
    e.text = "invalid date " + std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day);
    throw e;
  }
  return addInteger(n);
}

unsigned Grammar::addDatetime(int year, int month, int day, int hour, int minute, int second) {
  int n = 0;
  if (ltodate(&n, year, month, day, 0) < 0 || n == 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    grammar_exception e;
    e.text = "invalid date-time " + std::to_string(year) + "-" + std::to_string(month) + "-" +
             std::to_string(day) + "T" + std::to_string(hour) + ":" + std::to_string(minute) + ":" +
             std::to_string(second);
    throw e;
  }
  s_dtm dtm{static_cast<std::uint8_t>(second), static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(hour),
            static_cast<std::uint8_t>(day),    static_cast<std::uint8_t>(month),  0,
            static_cast<std::uint16_t>(year)};
  // The calculator loads a date-time as its timestamp.
  std::uint64_t timestamp = 0;
  dtm2timestamp(dtm_pack(dtm), &timestamp);
  return addLargeInteger(static_cast<std::int64_t>(timestamp));
}

unsigned Grammar::addExpressionLiteral(const Node& node) {
  // ORDER LOADCODES: NodeValue kinds.
  const NodeValue& v = node.value;
  unsigned objectId = 0, load = 0;
  switch (v.kind) {
    case NodeValue::STRING: objectId = addString(v.text), load = code::kString; break;
    case NodeValue::INTEGER: objectId = addInteger(v.integer), load = code::kInteger; break;
    case NodeValue::DECIMAL: objectId = addDecimal(v.text), load = code::kDecimal; break;
    case NodeValue::DATE: objectId = addDate(v.year, v.month + 1, v.day), load = code::kDate; break;
    case NodeValue::DATETIME:
      objectId = addDatetime(v.year, v.month, v.day, v.hour, v.minute, v.second), load = code::kDatetime;
      break;
    case NodeValue::LARGEINTEGER: objectId = addLargeInteger(v.large), load = code::kDatetime; break;
    case NodeValue::BOOLEAN: objectId = addBoolean(v.boolean), load = code::kBoolean; break;
    default: {
      grammar_exception e;
      e.text = "no runtime found for node value's type " + std::to_string(v.kind);
      throw e;
    }
  }
  return addExpression(load, position_of(&node), objectId, 0, 0, 0);
}

unsigned Grammar::addIdentifier(std::string_view name) {
  std::string upper = Parser::toUpper(name);
  int index = stfide(g_, upper.c_str());
  if (index < 0) failed("stfide", index);
  return static_cast<unsigned>(index);
}

unsigned Grammar::addInstruction(unsigned code, SourcePos at, unsigned elt1, unsigned elt2, unsigned elt3,
                                 unsigned flag) {
  int index = stfins(g_, code, elt1, elt2, elt3, flag, 0);
  if (index < 0) failed("stfins", index);
  s_pos position{at.line, at.character};
  if (int st = st_cel(&g_->gr_ist, &position, 1); st < 0) failed("gr_ist", st);
  if (firstInstruction_ == 0) {
    firstInstruction_ = static_cast<unsigned>(index);
  } else if (int st = upinxt(g_, firstInstruction_, static_cast<unsigned>(index)); st < 0) {
    failed("upinxt", st);
  }
  return static_cast<unsigned>(index);
}

void Grammar::addLabel(unsigned identifier) {
  if (int st = stfelb(g_, identifier, g_->gr_ins.gc_nbr + 1, 0); st < 0) failed("stfelb", st);
}

void Grammar::addComment(const std::string& utf8) {
  if (int st = stfstrcomment(g_, utf8.c_str()); st < 0) failed("stfstrcomment", st);
}

void Grammar::open() {
  firstInstruction_ = 0;
  firstExpression_ = 0;
}

unsigned Grammar::close(bool) { return firstInstruction_ != 0 ? firstInstruction_ : firstExpression_; }

}  // namespace grammar
