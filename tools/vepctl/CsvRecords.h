#pragma once
// The records of a CSV text as RFC 4180 writes them: fields separated by commas, records by
// line breaks (CRLF, LF or CR). A field in double quotes may hold commas, line breaks and
// doubled quotes (""); spaces and tabs around a field are not part of it. Lines whose first
// non-blank character is '#' and blank lines are skipped between records, and a UTF-8 byte
// order mark at the start is ignored. Plain functions, no files.
#include <string>
#include <string_view>
#include <vector>

namespace scoutor::vepctl {

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

}  // namespace scoutor::vepctl
