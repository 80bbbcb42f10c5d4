#include "tools/vepctl/DelimitedFields.h"

#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

namespace {

std::string Joined(const std::vector<std::string>& fields, char separator,
                   std::string (*field)(const std::string&)) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += separator;
    line += field(fields[i]);
  }
  return line;
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string TsvField(const std::string& text) {
  return Printable(text);
}

std::string CsvLine(const std::vector<std::string>& fields) {
  return Joined(fields, ',', CsvField);
}

std::string TsvLine(const std::vector<std::string>& fields) {
  return Joined(fields, '\t', TsvField);
}

}  // namespace scoutor::vepctl
