#include "grammar/operator.h"

namespace grammar {

namespace {

// spellings: name, precedence, unary, binary, chains, assigns, rebalance
const OperatorRow kVelmor[] = {
    {{".", nullptr}, {"DOT", 1, 0, 1, 1, 0, 0}},
    {{"^", nullptr}, {"POW", 2, 0, 1, 1, 0, 1}},
    {{"^^", nullptr}, {"POW", 2, 0, 1, 1, 0, 0}},
    {{"NOT", "!"}, {"NOT", 3, 1, 0, 0, 0, 0}},
    {{"*", nullptr}, {"MUL", 4, 0, 1, 1, 0, 1}},
    {{"/", nullptr}, {"DIV", 4, 0, 1, 1, 0, 1}},
    {{"%", nullptr}, {"MOD", 4, 0, 1, 1, 0, 0}},
    {{"+", nullptr}, {"ADD", 5, 1, 1, 1, 0, 1}},
    {{"-", nullptr}, {"SUB", 5, 1, 1, 1, 0, 1}},
    {{"++", nullptr}, {"UADD", 5, 1, 1, 1, 0, 0}},
    {{"--", nullptr}, {"USUB", 5, 1, 1, 1, 0, 0}},
    {{"..", nullptr}, {"RANGE", 6, 0, 1, 0, 0, 1}},
    {{"=", nullptr}, {"EQ", 7, 0, 1, 0, 1, 1}},
    {{"<>", nullptr}, {"NE", 7, 0, 1, 0, 0, 1}},
    {{"<", nullptr}, {"LT", 7, 0, 1, 0, 0, 1}},
    {{"<=", nullptr}, {"LE", 7, 0, 1, 0, 0, 1}},
    {{">", nullptr}, {"GT", 7, 0, 1, 0, 0, 1}},
    {{">=", nullptr}, {"GE", 7, 0, 1, 0, 0, 1}},
    {{"&", nullptr}, {"AND", 8, 0, 1, 1, 0, 0}},
    {{"AND", nullptr}, {"AND", 8, 0, 1, 1, 0, 1}},
    {{"|", nullptr}, {"OR", 9, 0, 1, 1, 0, 0}},
    {{"OR", nullptr}, {"OR", 9, 0, 1, 1, 0, 1}},
    {{"?", "XOR"}, {"XOR", 9, 0, 1, 1, 0, 1}},
    {{"+=", nullptr}, {"PLUSEQ", 10, 0, 1, 0, 1, 0}},
    {{"-=", nullptr}, {"MINUSEQ", 10, 0, 1, 0, 1, 0}},
    {{"*=", nullptr}, {"MULEQ", 10, 0, 1, 0, 1, 0}},
    {{"/=", nullptr}, {"DIVEQ", 10, 0, 1, 0, 1, 0}},
};

}  // namespace

const std::span<const OperatorRow> Velmor_operators(kVelmor);

}  // namespace grammar
