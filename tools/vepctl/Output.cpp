#include "tools/vepctl/Output.h"

#include <cstdio>
#include <utility>

namespace scoutor::vepctl {

void TOutput::Record(const TRecord& record, const std::string& text) const {
  const std::string line =
      AsJson ? record.dump(-1, ' ', false, TRecord::error_handler_t::replace) : text;
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  // Lines reach a pipe at once, so a reader sees each record as it happens.
  std::fflush(stdout);
}

int TOutput::Error(int code, const std::string& message, TRecord fields) const {
  return ReportError(AsJson, code, message, std::move(fields));
}

int ReportError(bool json, int code, const std::string& message, TRecord fields) {
  std::fprintf(stderr, "vepctl: %s\n", message.c_str());
  if (json) {
    TRecord record = {{"error", message}, {"code", code}};
    record.update(fields);
    TOutput(true).Record(record, {});
  }
  return code;
}

std::string Printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return shown;
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    line += c == '\n' ? ' ' : c;
  }
  return Printable(line);
}

}  // namespace scoutor::vepctl
