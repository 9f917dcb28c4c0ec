#include "grammar/velmorgenerator.h"

#include "grammar/calltab.h"

namespace grammar {

void VelmorGenerator::setExpressionFunctions(WalkTable& table) {
  for (const char* tag : {"STRING", "INTEGER", "DECIMAL", "DATE", "BOOLEAN"})
    table.setWalkNodeFunction(tag, &VelmorGenerator::manageLiteral);
  table.setWalkNodeFunction("OP", &VelmorGenerator::manageOperator);
  table.setWalkNodeFunction("IDENT", static_cast<WalkFn>(&VelmorGenerator::manageIdent));
  for (const char* tag : {"FCALL", "SIGMA", "EVALUE"})
    table.setWalkNodeFunction(tag, static_cast<WalkFn>(&VelmorGenerator::manageFcall));
  table.setWalkNodeFunction("INDEX", static_cast<WalkFn>(&VelmorGenerator::manageIndex));
  table.setWalkNodeFunction("ATT", static_cast<WalkFn>(&VelmorGenerator::manageAtt));
  table.setWalkNodeFunction("NULL", static_cast<WalkFn>(&VelmorGenerator::manageNull));
}

unsigned VelmorGenerator::manageAssign(Node& node) {
  unsigned character = Generator::manageAssign(node);
  unsigned target = walkNode(*node.args[0]);
  unsigned value = walkNode(*node.args[1]);
  grammar().addInstruction(code::kAssign, position_of(&node), target, value, character, 0);
  return target;
}

unsigned VelmorGenerator::manageIdent(Node& node) {
  const std::string& name = node.value.text;
  if (!node.className.empty()) {
    unsigned classIdent = grammar().addIdentifier(node.className);
    unsigned ident = grammar().addIdentifier(name);
    int entry = stfcid(grammar().context(), classIdent, ident);
    if (entry < 0) raise("stfcid failed with error " + std::to_string(entry));
    return grammar().addExpression(code::kClassIdent, position_of(&node), static_cast<unsigned>(entry), 0, 0, 0);
  }
  if (int system = findSystemVariable(Parser::toUpper(name)))
    return grammar().addExpression(code::kSystemVariable, position_of(&node), static_cast<unsigned>(system), 0, 0,
                                   0);
  return grammar().addExpression(code::kVariable, position_of(&node), grammar().addIdentifier(name), 0, 0, 0);
}

unsigned VelmorGenerator::manageFcall(Node& node) {
  const std::string& name = node.tag() == "FCALL" ? node.value.text : node.tag();
  const s_fnc* function = findFunction(name);
  if (function == nullptr || function->code == 0) raise("The function " + name + " isn't managed");
  return manageCall(node, function->code);
}

unsigned VelmorGenerator::manageIndex(Node& node) {
  unsigned term = walkNode(*node.args[0]);
  unsigned first = grammar().chainExpressions(walkNodes(node.list));
  return grammar().addExpression(code::kIndex, position_of(&node), 0, 0, term, first);
}

unsigned VelmorGenerator::manageAtt(Node& node) {
  unsigned object = walkNode(*node.args[0]);
  unsigned member = grammar().addIdentifier(node.value.text);
  return grammar().addExpression(code::kMember, position_of(&node), member, 0, object, 0);
}

unsigned VelmorGenerator::manageNull(Node& node) {
  return grammar().addExpression(code::kNull, position_of(&node), 0, 0, 0, 0);
}

}  // namespace grammar
