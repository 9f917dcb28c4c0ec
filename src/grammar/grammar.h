// The builder of a compiled grammar: what both compilers write into the
// cells of a grctx record goes through it. Expression nodes with their source positions, the literal pools,
// identifiers, the instructions of statement sources with their labels and
// kept comments, and the root expression recorded in the record.
//
// Every failure throws grammar_exception: a store that fails ("stfexp
// failed with error N" and the like), a literal that is no value (an
// invalid date), or a tree deeper than the calculator evaluates. What was
// stored stays in the grammar's memory group, which the caller frees.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "grammar/node.h"
#include "grammar/parser.h"
#include "image/vlxload.h"

namespace grammar {

// Nodes on the longest path from a root to a leaf that the calculator
// evaluates; a deeper tree does not compile.
inline constexpr int kMaxDepth = 512;

// ORDER LOADCODES: the expression codes of the literal kinds (NodeValue)
// and of the nodes the builder and both compilers make.
namespace code {
inline constexpr unsigned kUsub = 256, kNot = 257, kAnd = 266, kNe = 272;
inline constexpr unsigned kBoolean = 299, kInteger = 302, kDecimal = 303, kString = 306, kDate = 307,
                          kDatetime = 384;
inline constexpr unsigned kVariable = 309, kSystemVariable = 310, kClassIdent = 311, kIndex = 312,
                          kSymbol = 313, kMember = 315, kRange = 316, kKey = 327, kDescending = 332,
                          kCfgEnd = 355;
inline constexpr unsigned kMod = 32, kFind = 98, kNull = 148, kLike = 190, kBetween = 191;
// Boolean literals name their value by these codes instead of a pool entry.
inline constexpr unsigned kFalse = 209, kTrue = 210;
// The instruction of an assignment (the token table's Assign).
inline constexpr unsigned kAssign = 107;
}  // namespace code

// A position as the position tables hold it: line from 1, character from 0.
struct SourcePos {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
};
// Where a node of the current parsers was made (line + 1, column - 1);
// line 0, character 0 without a node.
SourcePos position_of(const Node* node);

class Grammar {
 public:
  // REQUIRES: g's cells are initialised (init_pt_exp or inigcl).
  explicit Grammar(grctx* g);

  grctx* context() const { return g_; }
  // True when a store failed for want of memory.
  bool exhausted() const { return exhausted_; }

  // Stores one expression node and its position; returns its index.
  unsigned addExpression(unsigned code, SourcePos at, unsigned objectId, unsigned type, unsigned header,
                         unsigned tail, unsigned next = 0);
  // Drops zero indexes and links each remaining node to the next through
  // `next`; the first index, 0 for none.
  unsigned chainExpressions(const std::vector<unsigned>& list);
  // Sets the `next` of one node; no effect when next is 0.
  void chainExpressions(unsigned index, unsigned next);

  // The pool stores: each returns the literal's objectId.
  unsigned addInteger(std::int32_t value);
  unsigned addLargeInteger(std::int64_t value);
  unsigned addString(const std::string& utf8);
  // REQUIRES: text converts (the parsers checked it).
  unsigned addDecimal(const std::string& text);
  // A date by its parts (month from 1): its day number in the integer pool.
  unsigned addDate(int year, int month, int day);
  unsigned addDatetime(int year, int month, int day, int hour, int minute, int second);
  static unsigned addBoolean(bool value) { return value ? code::kTrue : code::kFalse; }
  // The value of a literal node stored in the pool of its kind, and its
  // load node added.
  unsigned addExpressionLiteral(const Node& node);
  // An identifier in upper case.
  unsigned addIdentifier(std::string_view name);

  // Records the root expression in the record.
  void setFirstNode(unsigned index) { g_->headerWord = static_cast<std::int32_t>(index); }

  // Statement sources: an instruction chained after the previous one, a
  // label naming the next instruction, a kept comment.
  unsigned addInstruction(unsigned code, SourcePos at, unsigned elt1, unsigned elt2, unsigned elt3, unsigned flag);
  void addLabel(unsigned identifier);
  void addComment(const std::string& utf8);

  // Starts over; close returns the first instruction, else the first
  // expression, 0 when nothing was made.
  void open();
  unsigned close(bool flag);

 private:
  [[noreturn]] void failed(const char* store, int status);
  int depthOfChain(unsigned first) const;

  grctx* g_;
  bool exhausted_ = false;
  unsigned firstInstruction_ = 0;
  unsigned firstExpression_ = 0;
  // Depth of each expression node (index 0 unused).
  std::vector<std::uint16_t> depth_;
};

}  // namespace grammar
