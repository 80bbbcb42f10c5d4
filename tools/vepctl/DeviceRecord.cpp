#include "tools/vepctl/DeviceRecord.h"

namespace scoutor::vepctl {

void PrintDevice(const TOutput& output, const TDeviceInfo& device, std::optional<bool> reachable) {
  TRecord record = {{"name", device.Name},
                           {"type", device.Type},
                           {"ip", device.IPAddress},
                           {"id", device.ID},
                           {"interface", device.Interface}};
  std::string text = Printable(device.Name) + '\t' + Printable(device.Type) + '\t' +
                     Printable(device.IPAddress) + '\t' + Printable(device.ID) + '\t' +
                     Printable(device.Interface);
  if (reachable) {
    record["reachable"] = *reachable;
    text += *reachable ? "\treachable" : "\tnot reachable";
  }
  output.Record(record, text);
}

}  // namespace scoutor::vepctl
