#include "files/trex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <set>
#include <vector>

// PCRE2 refuses partial matching with an anchored end, so the search for
// texts that begin a match uses the pattern followed by "\z" instead.
//
// A check matches a pattern a few times in a process's life: the pattern
// is interpreted, not compiled to machine code, which would cost more than
// all its matches and leave its code in every server's memory. The wrapped
// form serves the search alone, which matches it many times: it is made,
// and compiled to machine code, when a search first needs it.
struct s_trex {
  pcre2_code* code;
  pcre2_match_data* data;
  std::string text;
  pcre2_code* prefix = nullptr;  // null until made, or when it does not compile
  bool prefixTried = false;
};

void trex_deleter::operator()(s_trex* pattern) const {
  pcre2_match_data_free(pattern->data);
  pcre2_code_free(pattern->prefix);
  pcre2_code_free(pattern->code);
  delete pattern;
}

trex_ptr trex_compile(std::string_view pattern, std::string& error) {
  int code = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                       PCRE2_ANCHORED | PCRE2_ENDANCHORED | PCRE2_DOLLAR_ENDONLY, &code, &offset, nullptr);
  if (compiled == nullptr) {
    PCRE2_UCHAR text[256];
    pcre2_get_error_message(code, text, sizeof text);
    error = reinterpret_cast<const char*>(text);
    error += " at offset " + std::to_string(offset);
    return nullptr;
  }
  return trex_ptr(new s_trex{compiled, pcre2_match_data_create(1, nullptr), std::string(pattern)});
}

namespace {

int run(const s_trex* pattern, const pcre2_code* code, std::string_view text, uint32_t options) {
  return pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, options, pattern->data,
                     nullptr);
}

// True when `text` is a match or the beginning of one.
bool viable(const s_trex* pattern, std::string_view text) {
  int rc = run(pattern, pattern->prefix, text, PCRE2_PARTIAL_HARD);
  return rc >= 0 || rc == PCRE2_ERROR_PARTIAL;
}

// Printable ASCII, tab and line feed: what a command line is made of.
std::string alphabet() {
  std::string a = "\t\n";
  for (char c = ' '; c <= '~'; ++c) a += c;
  return a;
}

constexpr int kMaxDepth = 48;
constexpr int kMaxNodes = 400;

}  // namespace

bool trex_match(const s_trex* pattern, std::string_view text) { return run(pattern, pattern->code, text, 0) >= 0; }

bool trex_can_contain(s_trex* pattern, std::string_view needle) {
  if (!pattern->prefixTried) {
    pattern->prefixTried = true;
    int code = 0;
    PCRE2_SIZE offset = 0;
    std::string wrapped = "(?:" + pattern->text + ")\\z";
    pattern->prefix = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(wrapped.data()), wrapped.size(),
                                    PCRE2_ANCHORED | PCRE2_DOLLAR_ENDONLY, &code, &offset, nullptr);
    if (pattern->prefix != nullptr) pcre2_jit_compile(pattern->prefix, PCRE2_JIT_PARTIAL_HARD);
  }
  if (pattern->prefix == nullptr) return false;
  static const std::string letters = alphabet();
  // A prefix is summed up by whether it is a match and the characters that
  // may follow it; prefixes with the same summary are walked once.
  auto summary = [&](const std::string& prefix) {
    std::string s(1, trex_match(pattern, prefix) ? 'M' : '-');
    for (char c : letters)
      if (viable(pattern, prefix + c)) s += c;
    return s;
  };
  // True when the needle can end a text that begins with `prefix` plus
  // some of the needle's own characters ("." then ".").
  auto completes = [&](const std::string& prefix) {
    for (std::size_t k = 1; k <= needle.size(); ++k) {
      std::string_view head = needle.substr(0, needle.size() - k);
      if (prefix.ends_with(head) && viable(pattern, prefix + std::string(needle.substr(needle.size() - k))))
        return true;
    }
    return false;
  };
  struct Node {
    std::string prefix, summary;
    int depth;
  };
  std::string first = summary("");
  std::set<std::string> seen{first};
  std::vector<Node> todo{{"", first, 0}};
  for (int nodes = 0; !todo.empty() && nodes < kMaxNodes; ++nodes) {
    Node node = std::move(todo.back());
    todo.pop_back();
    if (completes(node.prefix)) return true;
    if (node.depth >= kMaxDepth) continue;
    for (char c : std::string_view(node.summary).substr(1)) {
      std::string next = node.prefix + c;
      if (completes(next)) return true;
      std::string own = summary(next);
      if (seen.insert(own).second) todo.push_back({next, own, node.depth + 1});
    }
  }
  return false;
}
