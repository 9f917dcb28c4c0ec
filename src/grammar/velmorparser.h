// The parser of 4GL statements and expressions: the statement loop with its
// block stack, the statements that a keyword introduces, statements without
// keyword (assignments and labels), and expressions by precedence climbing
// with the rebalancing of the base parser. Also the literals that only the
// 4GL has (dates written [day/month/year], comments kept in the tree).
//
// Tree shapes: an OP node holds its operands in `args`; FCALL, INDEX and
// ATT nodes hold the called name or member in `value`, INDEX the indexed
// term in `args` and the indexes in `list`; an IDENT of [class]name carries
// the class in `className`. A keyword statement is tagged with its keyword
// and holds its operand expressions in `args`; clause words after them are
// nodes in `items`, each holding its own expressions in `args`.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "grammar/parser.h"

namespace grammar {

class VelmorParser : public Parser {
 public:
  // A member that parses what follows a keyword into the node tagged with
  // it; null drops the node.
  using Member = std::unique_ptr<Node> (VelmorParser::*)(std::unique_ptr<Node> node);

  VelmorParser();

  // With `header` set, the statement loop first adds a HEADER node.
  void setHeader(bool header) { header_ = header; }

  std::unique_ptr<Node> parseExp(bool required, int level = 0, TermParser term = nullptr) override;
  std::unique_ptr<Node> parseFunction(const std::string& word) override;
  bool isKeyword(std::string_view keyword) const override;

  // One statement that no keyword introduces, added to the root: an
  // assignment, or a label (a name directly followed by ":").
  void parseStatement();
  // Newlines and ":" (at least one, or the end of the text); comments met
  // on the way are added to the root. When none comes and `required` is
  // set: "end of line or colon(:) expected".
  bool parseStatementSep(bool required);
  // A simple term with its optional index list and member accesses.
  std::unique_ptr<Node> parseTerm(bool required);
  std::unique_ptr<Node> parseSimpleTerm(bool required);
  // `term` indexed by a parenthesised list when one follows.
  std::unique_ptr<Node> parseOptIndex(std::unique_ptr<Node> term);

  // REQUIRES: the opening "[" has been consumed. A DATE node: day, month
  // from 0, year; "day expected", "month expected", "year expected".
  std::unique_ptr<Node> parseDate();
  // REQUIRES: "#" comes next. A COMMENT node holding the text from "#" to
  // the end of the line.
  std::unique_ptr<Node> parseComment();

 protected:
  void parseGrammarImpl() override;
  // Calls the keyword's member, then requires the statement's end.
  virtual std::unique_ptr<Node> parseLanguageKey(Member member, std::unique_ptr<Node> node);
  // The HEADER node of a program; none for an expression source.
  virtual std::unique_ptr<Node> parseHeader();
  // A declaration: type keyword, then names with optional dimensions.
  virtual std::unique_ptr<Node> parseVarDecl(std::unique_ptr<Node> node);

  // A word that stands for a statement, a clause or a type.
  bool isReserved(const std::string& upper) const;

 private:
  struct Block {
    std::string tag;
  };

  // The keyword tables: upper-case word to member (null: only reserved).
  static Member languageMember(const std::string& upper, bool* found);
  static Member expressionMember(const std::string& upper);

  bool atStatementEnd();
  void expressionList(Node::List& into);
  // A term that is a bare name: "mandatory identifier missing" otherwise.
  std::string requiredName();
  void openBlock(const Node& node);
  // REQUIRES: `opener` is the tag of the block the keyword belongs to.
  void inBlock(const Node& node, std::string_view opener);
  void closeBlock(const Node& node, std::string_view opener);

  // Statement members.
  std::unique_ptr<Node> parseResultNode(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseRetEqExpWith(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseDynNameStatement(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseClassIdWith(std::unique_ptr<Node> node);
  std::unique_ptr<Node> obsolete(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseEmpty(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseGo(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseEnd(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseExpsStatement(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseProg(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseClauses(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseIf(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseElsif(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseElse(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseEndif(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseCase(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseWhen(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseDefault(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseEndcase(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseWhile(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseWend(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseRepeat(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseUntil(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseFor(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseNext(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseCall(std::unique_ptr<Node> node);

  // Expression keyword members.
  std::unique_ptr<Node> parseFunc(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseNewInstance(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseNOT(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseTYPE(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseSigma(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseEvalue(std::unique_ptr<Node> node);
  std::unique_ptr<Node> parseDim(std::unique_ptr<Node> node);

  bool header_ = false;
  std::vector<Block> blocks_;
};

}  // namespace grammar
