// Token cutting and number formatting.
#include "results/text.h"

namespace zuba {
namespace {
bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\r'; }
}  // namespace

std::string_view ReadToken(std::string_view text, std::size_t& cursor) {
  while (cursor < text.size() && IsSeparator(text[cursor])) ++cursor;
  std::size_t start = cursor;
  while (cursor < text.size() && !IsSeparator(text[cursor])) ++cursor;
  return text.substr(start, cursor - start);
}

}  // namespace zuba
