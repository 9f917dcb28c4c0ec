#include "grammar/velmorparser.h"

#include "grammar/srcread.h"

namespace grammar {

VelmorParser::VelmorParser() { setOperators(Velmor_operators); }

std::unique_ptr<Node> VelmorParser::parseDate() {
  auto date = newNode("DATE");
  int parts[3];
  const char* const missing[3] = {"day expected", "month expected", "year expected"};
  for (int i = 0; i < 3; i++) {
    std::unique_ptr<Node> number = parseNumber(false);
    if (number == nullptr || number->value.kind != NodeValue::INTEGER) fail(missing[i]);
    parts[i] = number->value.integer;
    parseChar(i < 2 ? '/' : ']', true);
  }
  date->value.setDate(parts[0], parts[1] - 1, parts[2]);
  return date;
}

std::unique_ptr<Node> VelmorParser::parseComment() {
  eatSpaces();
  auto comment = newNode("COMMENT");
  std::size_t end = offset_;
  while (at(end) >= 0 && at(end) != '\n') end++;
  std::string text = source_.substr(offset_, end - offset_);
  if (utf8_count(text.data(), text.size()) < 0) fail("invalid UTF-8 in comment");
  comment->value.setString(std::move(text));
  column_ += static_cast<std::uint32_t>(end - offset_);
  offset_ = end;
  return comment;
}

}  // namespace grammar
