#include <optional>

#include "tools/vepctl/Commands.h"
#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

const CLI::Validator& IPv4Text() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        const std::optional<std::string> canonical = CanonicalIPv4(text);
        if (!canonical) return "not a dotted IPv4 address (four numbers 0 to 255): " + text;
        text = *canonical;
        return {};
      },
      "IPV4");
  return validator;
}

}  // namespace scoutor::vepctl
