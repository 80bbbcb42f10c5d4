#include "ui/AddressText.h"

#include "transport/IPv4Text.h"

namespace scoutor {

std::string StripBlanks(const std::string& text) {
  std::string stripped;
  for (char c : text)
    if (c != ' ') stripped += c;
  return stripped;
}

std::string CompactIPText(const std::string& text) {
  std::string compact;
  for (char c : text) {
    if (c == ' ') continue;
    if (c == '.' && (compact.empty() || compact.back() == '.')) continue;
    compact += c;
  }
  return compact;
}

std::string CanonicalAddress(const std::string& text) {
  return CanonicalIPv4(text).value_or(text);
}

std::string AsSentence(std::string problem) {
  if (!problem.empty() && problem[0] >= 'a' && problem[0] <= 'z') problem[0] -= 'a' - 'A';
  if (!problem.empty() && problem.back() != '.') problem += '.';
  return problem;
}

}  // namespace scoutor
