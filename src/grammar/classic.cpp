#include "grammar/classic.h"

#include "grammar/gralex.h"
#include "grammar/gram.h"
#include "grammar/sdalex.h"

namespace classic {

grammar::Grammar* Builder = nullptr;
unsigned Result = 0;

int compile(bool sdata) {
  grammar::Grammar builder(Gram_ctx);
  Builder = &builder;
  Result = 0;
  builder.open();
  int status;
  try {
    status = sdata ? sdataparse() : gramparse();
  } catch (const grammar::grammar_exception& e) {
    gra_error(static_cast<int>(sdata ? sda_lval.line : gra_lval.line), e.what());
    status = builder.exhausted() ? 2 : 1;
  } catch (...) {
    Builder = nullptr;
    throw;
  }
  Builder = nullptr;
  if (status == 0 && !Gram_synerr) builder.setFirstNode(Result);
  return status;
}

}  // namespace classic
