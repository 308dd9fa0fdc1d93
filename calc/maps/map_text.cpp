// The table-and-number toolkit of the map and coil files (see map_text.h).
#include "calc/maps/map_text.h"

#include <cmath>

#include "platform/numbers.h"

namespace zuba {

Failure RefuseMapFile(std::string_view name, const std::string& text) {
  Failure failure = ErrorFailure(std::string(name) + ": " + text, "map");
  failure.message.owner = Owner::View;
  return failure;
}

std::string LineText(int64_t line) {
  return "line " + std::to_string(line) + ": ";
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < 32; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
  }
  if (text.size() > 32) out += "...";
  return out + "\"";
}

std::string MessageNumber(double value) {
  return FormatNumber(value, Significant(9));
}

bool ReadFileNumber(std::string_view text, double& value) {
  const std::optional<double> number = ParseNumber(text, NumberSyntax{.fortranExponent = true});
  if (!number) return false;
  value = *number;
  return true;
}

bool WholeCount(double value, int64_t& count) {
  if (!(value >= 1 && value <= static_cast<double>(kInt32Max)) || value != std::floor(value))
    return false;
  count = static_cast<int64_t>(value);
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool Lines::Next(std::string_view& line) {
  if (position_ >= text_.size()) return false;
  const size_t end = text_.find('\n', position_);
  const size_t stop = end == std::string_view::npos ? text_.size() : end;
  line = text_.substr(position_, stop - position_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  position_ = end == std::string_view::npos ? text_.size() : end + 1;
  ++number_;
  return true;
}

bool Lines::NextContent(std::string_view& line) {
  while (Next(line))
    if (!TrimBlanks(line).empty()) return true;
  return false;
}

size_t CountWords(std::string_view line) {
  size_t count = 0;
  ForEachWord(line, [&count](std::string_view) {
    ++count;
    return true;
  });
  return count;
}

void SplitAt(std::string_view line, char separator, std::vector<std::string_view>& out) {
  out.clear();
  size_t begin = 0;
  for (;;) {
    const size_t end = line.find(separator, begin);
    out.push_back(
        TrimBlanks(line.substr(begin, end == std::string_view::npos ? end : end - begin)));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

Separator SeparatorOf(std::string_view line) {
  if (line.find(',') != std::string_view::npos) return Separator::Comma;
  if (line.find(';') != std::string_view::npos) return Separator::Semicolon;
  if (line.find('\t') != std::string_view::npos) return Separator::Tab;
  return Separator::Blanks;
}

void SplitFields(std::string_view line, Separator separator, std::vector<std::string_view>& out) {
  out.clear();
  if (separator == Separator::Blanks) {
    ForEachWord(line, [&out](std::string_view word) {
      out.push_back(word);
      return true;
    });
    return;
  }
  const char c = separator == Separator::Comma       ? ','
                 : separator == Separator::Semicolon ? ';'
                                                     : '\t';
  SplitAt(line, c, out);
  while (!out.empty() && out.back().empty()) out.pop_back();
}

bool IsTableComment(std::string_view line) {
  const std::string_view t = TrimBlanks(line);
  return t.empty() || t.front() == '#';
}

}  // namespace zuba
