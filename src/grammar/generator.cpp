#include "grammar/generator.h"

#include <unistd.h>

#include <string_view>

#include "diagnostics/log.h"
#include "grammar/gram.h"

namespace grammar {

int L4gerror_fd = STDERR_FILENO;

namespace {

// ORDER OPCODES: operator code names and the expression codes of the
// calculator's dispatch table.
const struct {
  std::string_view name;
  unsigned code;
} kOperatorCodes[] = {
    {"USUB", 256}, {"NOT", 257}, {"ADD", 258}, {"SUB", 259}, {"MUL", 260}, {"DIV", 261},
    {"POW", 262},  {"OR", 264},  {"XOR", 265}, {"AND", 266}, {"GT", 267},  {"GE", 268},
    {"LT", 269},   {"LE", 270},  {"EQ", 271},  {"NE", 272},
};

}  // namespace

Generator::WalkFn Generator::WalkTable::find(std::string_view tag) const {
  auto it = members_.find(tag);
  return it == members_.end() ? nullptr : it->second;
}

Generator::Generator(std::unique_ptr<Parser> parser, const WalkTable& table)
    : parser_(std::move(parser)), table_(table) {}

void Generator::raise(const std::string& text) {
  grammar_exception e;
  e.text = text;
  throw e;
}

int Generator::generate(std::string source, grctx* g) {
  grammar_ = std::make_unique<Grammar>(g);
  try {
    unsigned result = mapStatements(parser_->parseGrammar(std::move(source)));
    grammar_->setFirstNode(result);
    return static_cast<int>(result);
  } catch (const grammar_exception& e) {
    vlx::log::trace(vlx::log::system, "Exception in Generator::generate:%s", e.what());
    gra_error(static_cast<int>(e.line), (e.message.empty() ? e.text : e.message).c_str(), static_cast<int>(e.column));
    if (L4gerror_fd >= 0) {
      std::string line = std::string("L4G error:") + e.what() + "\n";
      ssize_t written = ::write(L4gerror_fd, line.data(), line.size());
      (void)written;
    }
    return -5;
  }
}

unsigned Generator::mapStatements(Node& root) {
  open();
  for (const std::unique_ptr<Node>& statement : root.statements) {
    WalkFn member = table_.find(statement->tag());
    if (member == nullptr) raise("mapStatements found no function  for " + statement->tag());
    (this->*member)(*statement);
  }
  return close(root);
}

unsigned Generator::walkNode(Node& node, WalkFn member) {
  if (member == nullptr) member = table_.find(node.tag());
  if (member == nullptr) raise("walkNode found no conversion for expression " + node.tag());
  return (this->*member)(node);
}

std::vector<unsigned> Generator::walkNodes(Node::List& list, WalkFn member) {
  std::vector<unsigned> indexes;
  indexes.reserve(list.size());
  for (const std::unique_ptr<Node>& node : list) indexes.push_back(walkNode(*node, member));
  return indexes;
}

unsigned Generator::manageOperator(Node& node) {
  for (const auto& op : kOperatorCodes)
    if (op.name == node.op) return manageStandardOperator(node, op.code);
  if (node.op == "MOD" || node.op == "RANGE" || node.op == "UADD") return manageMiscOperator(node);
  raise("The operator " + node.op + " isn't managed");
}

unsigned Generator::manageStandardOperator(Node& node, unsigned code) {
  unsigned header = walkNode(*node.args[0]);
  unsigned tail = node.argsSize() > 1 ? walkNode(*node.args[1]) : 0;
  return grammar_->addExpression(code, position_of(&node), 0, 0, header, tail);
}

unsigned Generator::manageMiscOperator(Node& node) {
  if (node.op == "UADD") return walkNode(*node.args[0]);
  if (node.op == "MOD") return manageCall(node, code::kMod);
  // RANGE: from, and to unless the range is open.
  return manageStandardOperator(node, code::kRange);
}

unsigned Generator::manageAssign(Node& node) {
  static const struct {
    std::string_view name;
    unsigned character;
  } kAssignments[] = {{"EQ", 0}, {"PLUSEQ", '+'}, {"MINUSEQ", '-'}, {"MULEQ", '*'}, {"DIVEQ", '/'}};
  for (const auto& a : kAssignments)
    if (a.name == node.op) return a.character;
  raise("The operator " + node.op + " isn't managed");
}

void Generator::open() { grammar_->open(); }

unsigned Generator::close(Node&) { return grammar_->close(false); }

unsigned Generator::manageLiteral(Node& node) { return grammar_->addExpressionLiteral(node); }

unsigned Generator::manageCall(Node& node, unsigned code) {
  unsigned first = grammar_->chainExpressions(walkNodes(node.args));
  return grammar_->addExpression(code, position_of(&node), 0, 0, first, 0);
}

}  // namespace grammar
