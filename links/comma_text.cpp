// Comma text: lists kept in one stored value, joined by "," with quoting where needed.
#include "links/comma_text.h"

namespace pellix {

std::string JoinCommaText(const std::vector<std::string>&) { return {}; }
std::vector<std::string> SplitCommaText(std::string_view) { return {}; }

} // namespace pellix
