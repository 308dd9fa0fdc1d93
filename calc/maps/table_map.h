// What the detection of a map's format asks of the column table reader.
#pragma once

#include <string_view>

#include "calc/maps/map_text.h"

namespace zuba {

// From the line on: a table's header, or rows of the same number of fields (up to five of them
// are looked at; a *.sdf map that lost its unit token has rows of 3, 3 and then 10 numbers).
bool LooksLikeTable(std::string_view line, Lines& lines);

}  // namespace zuba
