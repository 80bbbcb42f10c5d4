#pragma once
// What vepctl prints, and how: records as text or JSON lines (texts that come from devices may
// hold any bytes: text output shows control characters as '?', JSON output replaces invalid
// UTF-8), the fields of CSV and TSV tables, the CSV records it reads, one device as a record,
// and the progress of upgrades on standard error.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "appmodel/DeviceInfo.h"
#include "hostnet/ReachabilityService.h"

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

// Lines of the tables that vepctl prints for other programs to read: comma-separated values as
// RFC 4180 quotes them, and tab-separated values, which have no quoting at all. Plain
// functions, any thread.

// `text` as one CSV field: in double quotes, its own quotes doubled, when it holds a comma, a
// double quote, CR or LF; otherwise as it is.
std::string CsvField(const std::string& text);
// `text` as one TSV field: every control character (tab and line breaks among them) becomes
// '?', as Printable shows it, so that a field can neither split nor end its line.
std::string TsvField(const std::string& text);

// One line of fields, without the line break.
std::string CsvLine(const std::vector<std::string>& fields);
std::string TsvLine(const std::vector<std::string>& fields);

// The records of a CSV text as RFC 4180 writes them: fields separated by commas, records by
// line breaks (CRLF, LF or CR). A field in double quotes may hold commas, line breaks and
// doubled quotes (""); spaces and tabs around a field are not part of it. Lines whose first
// non-blank character is '#' and blank lines are skipped between records, and a UTF-8 byte
// order mark at the start is ignored. Plain functions, no files.
struct TCsvRecord {
  int Line = 0;  // where the record begins, counted from 1
  std::vector<std::string> Fields;
  // Why the record could not be read ("a quoted field is not closed"), or empty; the fields
  // are then incomplete.
  std::string Problem;
};

// Every record of `text`, in order. A record that cannot be read ends at its line's end (an
// unclosed quote: at the end of the text) and reading goes on after it.
std::vector<TCsvRecord> ReadCsvRecords(std::string_view text);

// How vepctl shows one device: as a text line of tab-separated columns (name, type, IP
// address, ID, interface), or as a JSON object with the fields "name", "type", "ip", "id" and
// "interface", to which a reachability check adds "reachable" (true, false, or null when the
// check itself failed, with "error" saying why).
TRecord DeviceFields(const TDeviceInfo& device);
std::string DeviceText(const TDeviceInfo& device);

// Adds a check's outcome to a record: "reachable" and, for a failed check, "error"; returns
// the text form ("reachable", "not reachable" or "check failed: <why>").
std::string AddReachability(TRecord& record, const TCheckResult& check);

// Shows a firmware upload's progress on standard error: on a terminal a bar redrawn in place,
// otherwise one plain line at the start, at every further tenth of the file, and at the end.
// Fed from the upgrade progress events on the engine's main thread.
class TProgressDisplay {
 public:
  explicit TProgressDisplay(bool terminal) : Terminal(terminal) {}

  void Started(std::int64_t total);
  void Progress(std::int64_t sent);
  // Ends the bar's line, if one is drawn.
  void Ended();

 private:
  void Draw(std::int64_t sent);

  const bool Terminal;
  bool Drawing = false;
  std::int64_t Total = 0;
  int LastTenth = -1;
};

// Shows how an upgrade of several devices goes, on a terminal only: one line on standard error,
// redrawn in place, with a bar of the devices that ended and how many are at each step
// ("[#####     ]  5/20 ended, 4 uploading 37%, 2 pausing, 3 restarting, 6 queued"). Without a
// terminal it shows nothing. Main thread only.
struct TFleetCounts {
  int Devices = 0;
  int Ended = 0;
  int Uploading = 0;
  int Pausing = 0;         // waiting to try a refused upload once more
  int Restarting = 0;      // uploaded, not heard again yet
  std::int64_t Sent = 0;   // bytes of the uploads running
  std::int64_t Total = 0;  // their sizes
};

class TFleetProgress {
 public:
  explicit TFleetProgress(bool terminal) : Terminal(terminal) {}
  ~TFleetProgress() { Hide(); }
  TFleetProgress(const TFleetProgress&) = delete;
  TFleetProgress& operator=(const TFleetProgress&) = delete;

  // Draws the line when it differs from the one shown.
  void Show(const TFleetCounts& counts);
  // Clears the line, so that other output can take its place; the next Show draws it again.
  void Hide();

 private:
  const bool Terminal;
  std::string Shown;  // the line on the terminal now, if any
};

}  // namespace scoutor::vepctl
