#include "ui/AddressText.h"

#include <cctype>

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
  std::string canonical;
  int groups = 0;
  std::size_t at = 0;
  while (groups < 4) {
    std::size_t end = at;
    unsigned value = 0;
    while (end < text.size() && end - at < 3 && std::isdigit(static_cast<unsigned char>(text[end])))
      value = value * 10 + static_cast<unsigned>(text[end++] - '0');
    if (end == at || value > 255) return text;
    canonical += std::to_string(value);
    ++groups;
    if (groups < 4) {
      if (end >= text.size() || text[end] != '.') return text;
      canonical += '.';
      ++end;
    }
    at = end;
  }
  return at == text.size() ? canonical : text;
}

}  // namespace scoutor
