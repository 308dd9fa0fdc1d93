// The table-and-number toolkit of the map and coil files: lines numbered from 1, words and fields
// of a line, numbers read as laboratory programs write them (Fortran's D exponent too), and the
// pieces of a refusal that names the file, the line and what it found there.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

inline constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// ---- refusals ----

// A refusal of the file: "name: text", caption "Error", owned by the view as the *.sdf reader's
// messages about the file's content are.
Failure RefuseMapFile(std::string_view name, const std::string& text);

// "line N: ".
std::string LineText(int64_t line);

// A piece of the file quoted in a message: at most 32 characters, every byte that is not printable
// ASCII shown as '?', so that the message stays one line of text.
std::string Quoted(std::string_view text);

// A number in a message: nine significant digits ("%.9g").
std::string MessageNumber(double value);

// ---- numbers ----

// The whole text as a finite number of a map or coil file: decimal notation, E or D exponent
// (ParseNumber with the Fortran exponent).
bool ReadFileNumber(std::string_view text, double& value);

// A count: a whole number of 1 .. kInt32Max, however it was written ("12", "12.0", "1.2E+01").
bool WholeCount(double value, int64_t& count);

// ---- lines, words and fields ----

bool IsBlank(char c);
std::string_view TrimBlanks(std::string_view text);
bool StartsWith(std::string_view text, std::string_view prefix);

// The lines of a text, numbered from 1; a line ends at LF, and a CR before it is dropped.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}

  bool Next(std::string_view& line);
  // The next line that holds more than blanks.
  bool NextContent(std::string_view& line);
  // The line last returned.
  int64_t number() const { return number_; }
  // Bytes after the line last returned.
  size_t remaining() const { return text_.size() - position_; }

  struct Mark {
    size_t position;
    int64_t number;
  };
  Mark mark() const { return {position_, number_}; }
  void reset(Mark m) {
    position_ = m.position;
    number_ = m.number;
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
  int64_t number_ = 0;
};

// Splits a line at runs of blanks; f(word) returns false to stop.
template <class F>
void ForEachWord(std::string_view line, F&& f) {
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const size_t begin = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > begin && !f(line.substr(begin, i - begin))) return;
  }
}

size_t CountWords(std::string_view line);

// The fields of a line between the separators, each without its surrounding blanks, every one
// kept (an empty one too).
void SplitAt(std::string_view line, char separator, std::vector<std::string_view>& out);

// How the fields of a table's lines are separated: by commas, semicolons, tabs, or runs of blanks.
enum class Separator { Comma, Semicolon, Tab, Blanks };

// The separator of a table line: the first of comma, semicolon, tab it holds; blanks otherwise.
Separator SeparatorOf(std::string_view line);

// The fields of a table line; a separator at the end of the line leaves no field of its own.
void SplitFields(std::string_view line, Separator separator, std::vector<std::string_view>& out);

// A line that holds nothing or starts (after blanks) with '#'.
bool IsTableComment(std::string_view line);

}  // namespace zuba
