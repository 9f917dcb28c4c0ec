#include "calcrun.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "calc/acalc.h"
#include "calc/calcbase.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "grammar/anagram.h"
#include "grammar/gram.h"
#include "grammar/srcread.h"
#include "grammar/toktab.h"
#include "image/vlxload.h"
#include "memory/vlxcalls.h"
#include "table/afncompi.h"
#include "values/date.h"
#include "values/varstr.h"
#include "values/vlxdcb.h"

namespace calcrun {

namespace {

struct CodeName {
  unsigned code;
  const char* name;
};

const CodeName kCodeNames[] = {
#include "codenames.inc"
};

const char* code_name(unsigned code) {
  for (const CodeName& c : kCodeNames)
    if (c.code == code) return c.name;
  return "?";
}

std::string quoted(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string pool_string(grctx* g, unsigned index) {
  if (index == 0 || index > g->gr_stu.gc_nbr) return "?";
  return char16tostring(reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + index);
}

std::string date_text(int day_number) {
  int y = 0, m = 0, d = 0;
  datetol(day_number, &y, &m, &d);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return text;
}

std::string datetime_text(std::uint64_t timestamp) {
  char text[32] = "";
  timestamp2str(timestamp, text);
  return text;
}

std::string decimal_text(s_dcb d) {
  char text[48];
  dcbstr(&d, text, 40);
  return text;
}

// "<type> <value>" of a computed value.
std::string value_line(res_u* v) {
  std::string type = std::to_string(v->rs_type) + " ";
  char text[64];
  switch (v->rs_type) {
    case LBOOL: return type + (v->rs_bool ? "true" : "false");
    case LDATE: return type + date_text(static_cast<int>(v->rs_date));
    case LDATETIME: return type + datetime_text(static_cast<std::uint64_t>(v->rs_dtm));
    case LCLOB: return type + quoted(v->rs_str != nullptr ? char16tostring(vsuptr(v->rs_str)) : "");
    case LUUID: {
      std::string out;
      for (int i = 0; i < 16; i++) {
        std::snprintf(text, sizeof text, "%02x", v->rs_uuid[i]);
        out += text;
        if (i == 3 || i == 5 || i == 7 || i == 9) out += '-';
      }
      return type + out;
    }
    case LBLOB: return type + "<blob>";
    default:
      if (nbtostr(v, text) < 0) return type + "?";
      return type + text;
  }
}

std::string error_line(int number) {
  return "error " + std::to_string(number) + ": " + catalogue_text(number);
}

}  // namespace

void init() {
  static bool done = false;
  if (done) return;
  done = true;
  ini_malloc(256 * 1024);
  iniTokTab();
  iniTokTabSdata();
  fsring();
  // Day and month names come from the message file, as in the server.
  ini_mess("ENG");
}

int compile(const std::string& text, const Options& options, grctx* g) {
  bool sdata = options.sdata || (!text.empty() && text[0] == '@');
  std::string source = sdata || options.raw ? text : "@" + text;
  char previous = options.version != 0 ? setVlxDefaultVersion(options.version) : 0;
  inter_open(source.c_str());
  Gram_sdata = sdata ? 1 : 0;
  int status = anagram(g);
  Gram_sdata = 0;
  if (previous != 0) setVlxDefaultVersion(previous);
  return status;
}

std::string image(grctx* g, bool positions) {
  std::string out;
  auto cell = [&out](const s_gcl& c) {
    out += std::to_string(c.gc_nbr) + ":";
    if (c.gc_nbr != 0) out.append(c.gc_ptr + c.gc_siz, static_cast<std::size_t>(c.gc_siz) * c.gc_nbr);
  };
  for (const s_gcl* c : {&g->gr_exp, &g->gr_int, &g->gr_dcb, &g->gr_stu, &g->gr_ide, &g->gr_cla, &g->gr_cid,
                         &g->gr_i64, &g->gr_ins, &g->gr_la, &g->gr_com})
    cell(*c);
  if (positions) {
    cell(g->gr_est);
    cell(g->gr_ist);
  }
  return out + "root " + std::to_string(g->headerWord);
}

Outcome run(const std::string& text, const Options& options) {
  Outcome out;
  grctx g;
  if (init_pt_exp(&g, 0) < 0) {
    out.line = error_line(kErrNoMemory);
    return out;
  }
  raz_err();
  int status = compile(text, options, &g);
  if (options.listing) out.listing = listing(&g);
  if (status < 0) {
    out.line = error_line(-status);
    char detail[256];
    gt_erm(detail);
    out.detail = detail;
    if (Gram_errmes[0] != '\0') out.detail += std::string(" (") + Gram_errmes + ")";
  } else {
    unsigned root = static_cast<unsigned>(g.headerWord);
    out.tree = tree(&g, root);
    res_u result;
    res_zero(&result);
    int st = evafsr(&result, &g, root);
    if (st < 0) {
      out.line = error_line(-st);
      char detail[256];
      gt_erm(detail);
      out.detail = detail;
    } else {
      out.ok = true;
      out.line = value_line(&result);
    }
    res_drop(&result);
  }
  raz_err();
  Grammar_free(&g);
  return out;
}

std::string tree(grctx* g, unsigned root) {
  if (root == 0 || root > g->gr_exp.gc_nbr) return "-";
  const s_exp& e = *gt_exp(g, root);
  std::string code = std::to_string(e.code);
  switch (e.code) {
    case LINTG: return code + ":" + std::to_string(gt_int(g, e.objectId));
    case LDATE: return code + ":" + date_text(gt_int(g, e.objectId));
    case LDCB: {
      s_dcb d;
      std::memcpy(&d, g->gr_dcb.gc_ptr + sizeof(s_dcb) * e.objectId, sizeof d);
      return code + ":" + decimal_text(d);
    }
    case 306: return code + ":" + quoted(pool_string(g, e.objectId));
    case LDATETIME: {
      std::uint64_t v;
      std::memcpy(&v, g->gr_i64.gc_ptr + 8 * static_cast<std::size_t>(e.objectId), sizeof v);
      return code + ":" + datetime_text(v) + (e.type != 0 ? "/" + std::to_string(e.type) : "");
    }
    case LBOOL: return code + ":" + (e.objectId == 210 ? "true" : "false");
    case 309: case 313: return code + ":" + gt_cide(g, e.objectId);
    case 311: {
      const s_cid& c = *gt_cid(g, e.objectId);
      return code + ":[" + gt_cide(g, c.ci_class) + "]" + gt_cide(g, c.ci_iden);
    }
    case 310: return code + ":" + recup_tok(2, static_cast<int>(e.objectId));
    default: break;
  }
  std::string out = "(" + code;
  if (e.code == 315 || e.code == 327) out += ":" + std::string(gt_cide(g, e.objectId));
  // The header's chain (a call's arguments), then the tail's.
  for (unsigned i = e.header, n = 0; i != 0 && n <= g->gr_exp.gc_nbr; i = gt_exp(g, i)->next, n++)
    out += " " + tree(g, i);
  if (e.tail != 0) {
    out += " ;";
    for (unsigned i = e.tail, n = 0; i != 0 && n <= g->gr_exp.gc_nbr; i = gt_exp(g, i)->next, n++)
      out += " " + tree(g, i);
  }
  return out + ")";
}

std::string listing(grctx* g) {
  std::string out;
  char line[160];
  out += "node code name type objectId header tail next\n";
  for (unsigned i = 1; i <= g->gr_exp.gc_nbr; i++) {
    const s_exp& e = *gt_exp(g, i);
    std::snprintf(line, sizeof line, "%4u %4u %-10s %4u %8u %6u %4u %4u\n", i, e.code, code_name(e.code), e.type,
                  e.objectId, e.header, e.tail, e.next);
    out += line;
  }
  for (unsigned i = 1; i <= g->gr_int.gc_nbr; i++) out += "int[" + std::to_string(i) + "] " + std::to_string(gt_int(g, i)) + "\n";
  for (unsigned i = 1; i <= g->gr_dcb.gc_nbr; i++) {
    s_dcb d;
    std::memcpy(&d, g->gr_dcb.gc_ptr + sizeof(s_dcb) * i, sizeof d);
    out += "dcb[" + std::to_string(i) + "] " + decimal_text(d) + "\n";
  }
  const char16_t* units = reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr);
  for (unsigned i = 1; i <= g->gr_stu.gc_nbr; i += static_cast<unsigned>(stulen(units + i)) + 1)
    out += "stu[" + std::to_string(i) + "] " + quoted(pool_string(g, i)) + "\n";
  for (unsigned i = 1; i <= g->gr_ide.gc_nbr; i += static_cast<unsigned>(std::strlen(gt_cide(g, i))) + 1)
    out += "ide[" + std::to_string(i) + "] " + gt_cide(g, i) + "\n";
  for (unsigned i = 1; i <= g->gr_i64.gc_nbr; i++) {
    std::int64_t v;
    std::memcpy(&v, g->gr_i64.gc_ptr + 8 * static_cast<std::size_t>(i), sizeof v);
    std::snprintf(line, sizeof line, "i64[%u] %" PRId64 "\n", i, v);
    out += line;
  }
  for (unsigned i = 1; i <= g->gr_cid.gc_nbr; i++) {
    const s_cid& c = *gt_cid(g, i);
    out += "cid[" + std::to_string(i) + "] " + gt_cide(g, c.ci_class) + " " + gt_cide(g, c.ci_iden) + "\n";
  }
  for (unsigned i = 1; i <= g->gr_ins.gc_nbr; i++) {
    const s_ins& n = *gt_ins(g, i);
    std::snprintf(line, sizeof line, "ins[%u] code %u flag %u next %u elt %u %u %u\n", i, n.code, n.flag, n.next,
                  n.elt1, n.elt2, n.elt3);
    out += line;
  }
  std::snprintf(line, sizeof line, "root %d\n", g->headerWord);
  return out + line;
}

}  // namespace calcrun
