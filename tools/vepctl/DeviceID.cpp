#include <regex>

#include "protocol/VEP.h"
#include "tools/vepctl/Commands.h"

namespace scoutor::vepctl {

const CLI::Validator& DeviceIDText() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        static const std::regex pattern("[0-9A-Fa-f]{1,2}(:[0-9A-Fa-f]{1,2}){5}");
        if (std::regex_match(text, pattern)) return {};
        return "not a device ID (six hexadecimal bytes joined by colons, e.g. "
               "00:0A:1B:2C:3D:4E): " +
               text;
      },
      "ID");
  return validator;
}

TVEPNodeID DeviceNodeID(const std::string& idText) {
  TVEPNodeID id{};
  VEPMacToID(idText.c_str(), id.data());
  return id;
}

}  // namespace scoutor::vepctl
