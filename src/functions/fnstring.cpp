#include "functions/fnstring.h"

#include "diagnostics/vlxerr.h"
#include "grammar/toktab.h"

int fnval(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kValCode) return err_vlx(kErrInternal, "val under code %d", code);
  if (int st = calcul(result, g, call->header); st < 0) return st;
  if (result->rs_type == LDATE)
    if (int st = rsconv(result, LCLOB); st < 0) return st;
  if (result->rs_type != LCLOB) return err_vlx(kErrCalcMode, "%s", recup_tok(1, code));
  return rsconv(result, LDCB);
}
