#include "tools/vepctl/DeviceRecord.h"

namespace scoutor::vepctl {

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
      return "not reachable";
    case TReachability::Failed:
      break;
  }
  record["reachable"] = nullptr;
  record["error"] = check.Error;
  return "check failed: " + OneLine(check.Error);
}

}  // namespace scoutor::vepctl
