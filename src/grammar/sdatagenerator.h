// The generator of SData filter expressions. Fields are variables (309);
// NULL is a date-time load of the null timestamp, typed 1; functions are
// calls of their 4GL codes, except pow, which is the power operator (262);
// and three operators have forms of their own:
//   a LIKE b            like (190) called over a and b;
//   a BETWEEN b AND c   between (191) called over a and the AND (266) of b
//                       and c;
//   a IN (b, c ...)     NE(find(a, b, c ...), 0): true when a is found.
#pragma once

#include "grammar/generator.h"

namespace grammar {

class SDataGenerator : public Generator {
 public:
  SDataGenerator();

 protected:
  void open() override;
  unsigned close(Node& root) override;
  unsigned manageOperator(Node& node) override;

 private:
  static const WalkTable& walkTable();

  unsigned expression(Node& node);
  unsigned manageField(Node& node);
  unsigned manageNull(Node& node);
  unsigned manageFunction(Node& node);

  unsigned result_ = 0;
};

}  // namespace grammar
