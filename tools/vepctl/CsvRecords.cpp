#include "tools/vepctl/CsvRecords.h"

namespace scoutor::vepctl {

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

}  // namespace scoutor::vepctl
