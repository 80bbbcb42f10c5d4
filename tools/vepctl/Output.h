#pragma once
// What a command prints on standard output: one record per line, either as text for people or,
// with --json, as one JSON object per line. Texts that come from devices may hold any bytes:
// text output shows control characters as '?', JSON output replaces invalid UTF-8.
#include <string>

#include <nlohmann/json.hpp>

namespace scoutor::vepctl {

// One JSON record; its fields keep the order in which they were added.
using TRecord = nlohmann::ordered_json;

class TOutput {
 public:
  explicit TOutput(bool json) : AsJson(json) {}

  bool Json() const { return AsJson; }
  // Prints `record` as one JSON line, or `text` as one line.
  void Record(const TRecord& record, const std::string& text) const;
  // Reports a failure: "vepctl: " and `message` on standard error and, with --json, also
  // `fields` with "error" and "code" as one JSON line on standard output. Returns `code`.
  int Error(int code, const std::string& message, TRecord fields = TRecord::object()) const;

 private:
  bool AsJson;
};

// The same, for a failure found before a command ran (a usage error, a refused engine).
int ReportError(bool json, int code, const std::string& message,
                TRecord fields = TRecord::object());

// `text` with every control character (and DEL) replaced by '?', safe to show on a terminal.
std::string Printable(const std::string& text);
// An error text on one line: its line breaks ("\r\n" in socket errors) become spaces, then as
// Printable.
std::string OneLine(const std::string& text);

}  // namespace scoutor::vepctl
