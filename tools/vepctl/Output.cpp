
#include "tools/vepctl/Output.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
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

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool Blank(char c) {
  return c == ' ' || c == '\t';
}
bool LineBreak(char c) {
  return c == '\n' || c == '\r';
}

// Walks the text once; Position and Line always describe the next unread character.
class TCsvScanner {
 public:
  explicit TCsvScanner(std::string_view text) : Text(text) {
    if (Text.starts_with(kByteOrderMark)) Position = kByteOrderMark.size();
  }

  std::vector<TCsvRecord> All() {
    std::vector<TCsvRecord> records;
    while (SkipIgnoredLines()) records.push_back(Record());
    return records;
  }

 private:
  bool AtEnd() const { return Position >= Text.size(); }
  char Peek() const { return Text[Position]; }

  void SkipBlanks() {
    while (!AtEnd() && Blank(Peek())) ++Position;
  }

  // Consumes one line break (CRLF counts as one) and counts the line.
  void TakeLineBreak() {
    if (Peek() == '\r' && Position + 1 < Text.size() && Text[Position + 1] == '\n') ++Position;
    ++Position;
    ++Line;
  }

  void SkipRestOfLine() {
    while (!AtEnd() && !LineBreak(Peek())) ++Position;
    if (!AtEnd()) TakeLineBreak();
  }

  // Skips comment and blank lines; false at the end of the text.
  bool SkipIgnoredLines() {
    while (!AtEnd()) {
      const std::size_t start = Position;
      SkipBlanks();
      if (AtEnd()) return false;
      if (LineBreak(Peek())) {
        TakeLineBreak();
        continue;
      }
      if (Peek() == '#') {
        SkipRestOfLine();
        continue;
      }
      Position = start;
      return true;
    }
    return false;
  }

  TCsvRecord Record() {
    TCsvRecord record;
    record.Line = Line;
    for (;;) {
      SkipBlanks();
      std::string field;
      record.Problem = !AtEnd() && Peek() == '"' ? QuotedField(field) : PlainField(field);
      record.Fields.push_back(std::move(field));
      if (!record.Problem.empty()) {
        SkipRestOfLine();
        return record;
      }
      if (AtEnd()) return record;
      if (LineBreak(Peek())) {
        TakeLineBreak();
        return record;
      }
      ++Position;  // the comma before the next field
    }
  }

  // Up to the next comma or line break, without the blanks at its end.
  std::string PlainField(std::string& field) {
    while (!AtEnd() && Peek() != ',' && !LineBreak(Peek())) {
      if (Peek() == '"') return "a quote inside a field that does not begin with one";
      field += Peek();
      ++Position;
    }
    while (!field.empty() && Blank(field.back())) field.pop_back();
    return {};
  }

  std::string QuotedField(std::string& field) {
    ++Position;  // the opening quote
    for (;;) {
      if (AtEnd()) return "a quoted field is not closed";
      const char c = Peek();
      if (c == '"') {
        ++Position;
        if (AtEnd() || Peek() != '"') break;
        field += '"';
        ++Position;
      } else if (LineBreak(c)) {
        // A line break inside quotes belongs to the field, as written.
        const std::size_t start = Position;
        TakeLineBreak();
        field.append(Text.substr(start, Position - start));
      } else {
        field += c;
        ++Position;
      }
    }
    SkipBlanks();
    if (!AtEnd() && Peek() != ',' && !LineBreak(Peek()))
      return "text after the closing quote of a field";
    return {};
  }

  std::string_view Text;
  std::size_t Position = 0;
  int Line = 1;
};

}  // namespace

std::vector<TCsvRecord> ReadCsvRecords(std::string_view text) {
  return TCsvScanner(text).All();
}

TRecord DeviceFields(const TDeviceInfo& device) {
  return {{"name", device.Name},
          {"type", device.Type},
          {"ip", device.IPAddress},
          {"id", device.ID},
          {"interface", device.Interface}};
}

std::string DeviceText(const TDeviceInfo& device) {
  return Printable(device.Name) + '\t' + Printable(device.Type) + '\t' +
         Printable(device.IPAddress) + '\t' + Printable(device.ID) + '\t' +
         Printable(device.Interface);
}

std::string AddReachability(TRecord& record, const TCheckResult& check) {
  switch (check.Outcome) {
    case TReachability::Reachable:
      record["reachable"] = true;
      return "reachable";
    case TReachability::NotReachable:
      record["reachable"] = false;
      if (check.Error.empty()) return "not reachable";
      record["reason"] = check.Error;
      return "not reachable: " + OneLine(check.Error);
    case TReachability::Failed:
      break;
  }
  record["reachable"] = nullptr;
  record["error"] = check.Error;
  return "check failed: " + OneLine(check.Error);
}

namespace {

constexpr int kUploadBarWidth = 40;

// Sent bytes as a share of the total in thousandths, clamped; an empty file counts as done.
int Permille(std::int64_t sent, std::int64_t total) {
  if (total <= 0) return 1000;
  return static_cast<int>(std::clamp<std::int64_t>(sent * 1000 / total, 0, 1000));
}

}  // namespace

void TProgressDisplay::Started(std::int64_t total) {
  Total = total;
  LastTenth = -1;
  Drawing = Terminal;
  Draw(0);
}

void TProgressDisplay::Progress(std::int64_t sent) {
  Draw(sent);
}

void TProgressDisplay::Ended() {
  if (Drawing) std::fputc('\n', stderr);
  Drawing = false;
}

void TProgressDisplay::Draw(std::int64_t sent) {
  const int permille = Permille(sent, Total);
  if (Terminal) {
    const int filled = permille * kUploadBarWidth / 1000;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kUploadBarWidth - filled), ' ');
    std::fprintf(stderr, "\r[%s] %3d%% %" PRId64 "/%" PRId64 " bytes", bar.c_str(), permille / 10,
                 sent, Total);
  } else {
    const int tenth = permille / 100;
    if (tenth == LastTenth) return;
    LastTenth = tenth;
    std::fprintf(stderr, "progress %3d%% %" PRId64 "/%" PRId64 " bytes\n", permille / 10, sent,
                 Total);
  }
  std::fflush(stderr);
}

namespace {

constexpr int kFleetBarWidth = 20;
constexpr const char* kClearLine = "\r\033[K";

void AddCount(std::string& line, int count, const char* step) {
  if (count > 0) line += ", " + std::to_string(count) + " " + step;
}

std::string Line(const TFleetCounts& counts) {
  const int filled = counts.Devices > 0 ? counts.Ended * kFleetBarWidth / counts.Devices : kFleetBarWidth;
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kFleetBarWidth - filled), ' ') + "] " +
                     std::to_string(counts.Ended) + "/" + std::to_string(counts.Devices) + " ended";
  if (counts.Uploading > 0) {
    const std::int64_t percent =
        counts.Total > 0 ? std::clamp<std::int64_t>(counts.Sent * 100 / counts.Total, 0, 100) : 0;
    line += ", " + std::to_string(counts.Uploading) + " uploading " + std::to_string(percent) + "%";
  }
  AddCount(line, counts.Pausing, "pausing");
  AddCount(line, counts.Restarting, "restarting");
  AddCount(line,
           counts.Devices - counts.Ended - counts.Uploading - counts.Pausing - counts.Restarting,
           "queued");
  return line;
}

}  // namespace

void TFleetProgress::Show(const TFleetCounts& counts) {
  if (!Terminal) return;
  const std::string line = Line(counts);
  if (line == Shown) return;
  std::fprintf(stderr, "%s%s", kClearLine, line.c_str());
  std::fflush(stderr);
  Shown = line;
}

void TFleetProgress::Hide() {
  if (Shown.empty()) return;
  std::fputs(kClearLine, stderr);
  std::fflush(stderr);
  Shown.clear();
}

}  // namespace scoutor::vepctl
