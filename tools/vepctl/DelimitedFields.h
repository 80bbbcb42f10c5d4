#pragma once
// Lines of the tables that vepctl prints for other programs to read: comma-separated values as
// RFC 4180 quotes them, and tab-separated values, which have no quoting at all. Plain
// functions, any thread.
#include <string>
#include <vector>

namespace scoutor::vepctl {

// `text` as one CSV field: in double quotes, its own quotes doubled, when it holds a comma, a
// double quote, CR or LF; otherwise as it is.
std::string CsvField(const std::string& text);
// `text` as one TSV field: every control character (tab and line breaks among them) becomes
// '?', as Printable shows it, so that a field can neither split nor end its line.
std::string TsvField(const std::string& text);

// One line of fields, without the line break.
std::string CsvLine(const std::vector<std::string>& fields);
std::string TsvLine(const std::vector<std::string>& fields);

}  // namespace scoutor::vepctl
