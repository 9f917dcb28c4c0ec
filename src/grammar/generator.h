// The code generators of the current compiler: each owns its parser, parses
// a source into a syntax tree and walks it into a compiled grammar through
// the builder (grammar.h). A table from node tag to member says which
// member generates which node; one table per generator class, filled once.
//
// Generator holds what every language shares: statements in order,
// expressions children first, operators, literals. Compile errors raise
// grammar_exception inside; generate turns them into -5.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "grammar/grammar.h"
#include "grammar/node.h"
#include "grammar/parser.h"
#include "image/vlxload.h"

namespace grammar {

// Descriptor that receives the "L4G error:" line of a failed generation,
// -1 for none; standard error by default.
extern int L4gerror_fd;

class Generator {
 public:
  // Generates one node; returns the index of the expression it produced
  // (0 for none).
  using WalkFn = unsigned (Generator::*)(Node& node);

  class WalkTable {
   public:
    // REQUIRES: tag outlives the table (a literal).
    void setWalkNodeFunction(std::string_view tag, WalkFn member) { members_[tag] = member; }
    WalkFn find(std::string_view tag) const;

   private:
    std::unordered_map<std::string_view, WalkFn> members_;
  };

  virtual ~Generator() = default;
  Generator(const Generator&) = delete;
  Generator& operator=(const Generator&) = delete;

  // Parses `source` and generates it into g; returns the root index (0 or
  // more, also recorded in g), or -5 after logging the compile error.
  // REQUIRES: g's cells are initialised.
  int generate(std::string source, grctx* g);
  // After a failed generate: a store failed for want of memory.
  bool exhausted() const { return grammar_ != nullptr && grammar_->exhausted(); }

  // Each statement of the root by the member of its tag; the result of
  // close.
  // REQUIRES: generate has run (it makes the builder).
  unsigned mapStatements(Node& root);
  // `member`, or the member registered for the node's tag.
  unsigned walkNode(Node& node, WalkFn member = nullptr);
  virtual std::vector<unsigned> walkNodes(Node::List& list, WalkFn member = nullptr);

  virtual unsigned manageOperator(Node& node);
  // The operands, then one node of `code` over them (tail 0 for one).
  unsigned manageStandardOperator(Node& node, unsigned code);
  // MOD (a call of mod), RANGE, UADD (its operand).
  unsigned manageMiscOperator(Node& node);

 protected:
  Generator(std::unique_ptr<Parser> parser, const WalkTable& table);

  virtual void open();
  virtual unsigned close(Node& root);
  // The operator character an assignment applies: 0 for "=", "+" for
  // "+=" and so on.
  virtual unsigned manageAssign(Node& node);

  Grammar& grammar() { return *grammar_; }

  // Shared handlers: a literal's load; the arguments of `node` chained
  // under one call node of `code`.
  unsigned manageLiteral(Node& node);
  unsigned manageCall(Node& node, unsigned code);
  [[noreturn]] static void raise(const std::string& text);

 private:
  std::unique_ptr<Parser> parser_;
  const WalkTable& table_;
  std::unique_ptr<Grammar> grammar_;
};

}  // namespace grammar
