// Comma text: lists kept in one stored value, joined by "," with quoting where needed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pellix {

// Joins items with ",". An item holding a blank, a control byte, a comma or a double quote is
// enclosed in double quotes with inner quotes doubled; an empty item is written as "" so that
// it survives a round trip.
std::string JoinCommaText(const std::vector<std::string>& items);

// Splits comma text: commas and runs of blanks (and control bytes) separate items outside
// double quotes; a quoted item is read up to its closing quote with "" as one quote (an item
// with no closing quote runs to the end). Two commas in a row hold an empty item; a comma at
// the end adds none. Empty text gives no items.
std::vector<std::string> SplitCommaText(std::string_view text);

} // namespace pellix
