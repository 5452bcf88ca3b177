#pragma once
// The office's report as one HTML file that needs nothing else: inline CSS,
// one inline SVG chart a company (documents stored per day), no script. Every
// text that came from the store is escaped.

#include "export/office/office.h"

#include <string>
#include <string_view>

namespace exports {

// & < > " ' as character references; bytes that are not UTF-8 as U+FFFD.
std::string htmlEscape(std::string_view text);
std::string officePage(const OfficeReport& report);

}  // namespace exports
