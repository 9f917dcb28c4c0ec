#include "grammar/node.h"

#include <cstdio>

namespace grammar {

std::uint32_t Node::Count = 0;

Node::Node(std::string tag, std::uint32_t line, std::uint16_t column, std::uint32_t level)
    : tag_(std::move(tag)), line_(line), column_(column), level_(level), id_(++Count) {}

void NodeValue::setString(std::string s) {
  kind = STRING;
  text = std::move(s);
}

void NodeValue::setInteger(std::int32_t v) {
  kind = INTEGER;
  integer = v;
}

void NodeValue::setBoolean(bool v) {
  kind = BOOLEAN;
  boolean = v;
}

void NodeValue::setDecimal(std::string digits) {
  kind = DECIMAL;
  text = std::move(digits);
}

int NodeValue::getDecimal(s_dcb* out) const { return strdcb(out, text.c_str()); }

void NodeValue::setDate(int d, int m, int y) {
  kind = DATE;
  day = d;
  month = m;
  year = y;
}

void NodeValue::setDatetime(int y, int m, int d, int h, int min, int s) {
  kind = DATETIME;
  year = y;
  month = m;
  day = d;
  hour = h;
  minute = min;
  second = s;
}

bool NodeValue::isnan() const {
  s_dcb d;
  return kind == DECIMAL && getDecimal(&d) < 0;
}

std::string NodeValue::toString() const {
  char text_form[64];
  switch (kind) {
    case STRING: case DECIMAL: return text;
    case INTEGER: return std::to_string(integer);
    case LARGEINTEGER: return std::to_string(large);
    case BOOLEAN: return boolean ? "true" : "false";
    case DATE:
      std::snprintf(text_form, sizeof text_form, "%02d/%02d/%04d", day, month + 1, year);
      return text_form;
    case DATETIME:
      std::snprintf(text_form, sizeof text_form, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute,
                    second);
      return text_form;
    default: return "";
  }
}

}  // namespace grammar
