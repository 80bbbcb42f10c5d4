#include "tools/vepsim/DeviceSources.h"

#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "tools/vepsim/ReplyCodec.h"

namespace scoutor {

namespace {

TIPv4 AddressOrThrow(const std::string& text, const std::string& what) {
  const auto address = ParseIPv4(text);
  if (!address) throw std::runtime_error("bad " + what + " '" + text + "'");
  return *address;
}

TMacAddress MacOrThrow(const std::string& text) {
  const auto mac = ParseMac(text);
  if (!mac)
    throw std::runtime_error("bad hardware address '" + text + "' (want 00:0A:1B:2C:3D:4E)");
  return *mac;
}

bool FlagOrThrow(const std::string& text, const std::string& key) {
  if (text == "1" || text == "true" || text == "on") return true;
  if (text == "0" || text == "false" || text == "off") return false;
  throw std::runtime_error("bad " + key + " flag '" + text + "' (want 0 or 1)");
}

const std::string kRestartRange =
    "a whole number of milliseconds from 0 to " + std::to_string(kMaxRestartMs);

TRestartTime RestartOrThrow(const std::string& text) {
  const auto restart = ParseRestartTime(text);
  if (!restart) throw std::runtime_error("bad restart_ms '" + text + "' (want " + kRestartRange + " or never)");
  return *restart;
}

// A device with the defaults filled in; the hardware address is set by the caller.
TSimDevice DefaultDevice(const TMacAddress& mac) {
  TSimDevice device;
  device.Mac = mac;
  device.Name = "VEP-" + FormatMac(mac).substr(9);
  device.Type = "Simulated";
  device.SubnetMask = {255, 255, 255, 0};
  return device;
}

}  // namespace

std::optional<TRestartTime> ParseRestartTime(const std::string& text) {
  if (text == "never") return TRestartTime{true, 0};
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::uint32_t ms = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    ms = ms * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (ms > kMaxRestartMs) return std::nullopt;
  return TRestartTime{false, ms};
}

TSimDevice ParseDeviceText(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string field = text.substr(start, end - start);
    const std::size_t equals = field.find('=');
    if (equals == std::string::npos)
      throw std::runtime_error("bad device field '" + field + "' in '" + text +
                               "' (want key=value)");
    fields.emplace_back(field.substr(0, equals), field.substr(equals + 1));
    start = end + 1;
  }
  const std::string* mac = nullptr;
  for (const auto& [key, value] : fields)
    if (key == "mac") mac = &value;
  if (mac == nullptr) throw std::runtime_error("device '" + text + "' has no mac=");
  TSimDevice device = DefaultDevice(MacOrThrow(*mac));
  for (const auto& [key, value] : fields) {
    if (key == "mac") continue;
    if (key == "name")
      device.Name = value;
    else if (key == "type")
      device.Type = value;
    else if (key == "ip")
      device.IPAddress = AddressOrThrow(value, "ip");
    else if (key == "mask")
      device.SubnetMask = AddressOrThrow(value, "mask");
    else if (key == "gw")
      device.DefaultGateway = AddressOrThrow(value, "gw");
    else if (key == "dhcp")
      device.DHCP = FlagOrThrow(value, key);
    else if (key == "busy_first")
      device.BusyFirst = FlagOrThrow(value, key);
    else if (key == "restart_ms")
      device.Restart = RestartOrThrow(value);
    else
      throw std::runtime_error("unknown device field '" + key + "' in '" + text + "'");
  }
  return device;
}

std::vector<TSimDevice> LoadDeviceFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  try {
    return ParseDeviceList(text.str());
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(path + ": " + error.what());
  }
}

namespace {

// A flag ("dhcp", "busy_first") is true, false, 1 or 0: any other number would be read by some
// rule the user did not mean (0.5 as false, 1e300 beyond any integer).
bool FlagField(const nlohmann::json& value, const std::string& key) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number_integer() || value.is_number_unsigned()) {
    if (value == 0) return false;
    if (value == 1) return true;
  }
  throw std::runtime_error("\"" + key + "\" must be true, false, 1 or 0, not " + value.dump());
}

// "restart_ms" is a whole number of milliseconds in range or "never"; 3000.5 or -1 are refused
// rather than rounded or wrapped.
TRestartTime RestartField(const nlohmann::json& value) {
  if (value.is_string() && value.get_ref<const std::string&>() == "never")
    return TRestartTime{true, 0};
  if ((value.is_number_integer() || value.is_number_unsigned()) && value >= 0 &&
      value <= kMaxRestartMs)
    return TRestartTime{false, value.get<std::uint32_t>()};
  throw std::runtime_error("\"restart_ms\" must be " + kRestartRange + " or \"never\", not " + value.dump());
}

const std::string& TextField(const nlohmann::json& value, const std::string& key) {
  if (!value.is_string())
    throw std::runtime_error("\"" + key + "\" must be a text, not " + value.dump());
  return value.get_ref<const std::string&>();
}

TSimDevice DeviceFromJson(const nlohmann::json& entry) {
  if (!entry.is_object()) throw std::runtime_error("a device must be an object");
  if (!entry.contains("mac")) throw std::runtime_error("\"mac\" is missing");
  TSimDevice device = DefaultDevice(MacOrThrow(TextField(entry["mac"], "mac")));
  for (const auto& [key, value] : entry.items()) {
    if (key == "mac") continue;
    if (key == "dhcp")
      device.DHCP = FlagField(value, key);
    else if (key == "busy_first")
      device.BusyFirst = FlagField(value, key);
    else if (key == "restart_ms")
      device.Restart = RestartField(value);
    else if (key == "name")
      device.Name = TextField(value, key);
    else if (key == "type")
      device.Type = TextField(value, key);
    else if (key == "ip")
      device.IPAddress = AddressOrThrow(TextField(value, key), "ip");
    else if (key == "mask")
      device.SubnetMask = AddressOrThrow(TextField(value, key), "mask");
    else if (key == "gw")
      device.DefaultGateway = AddressOrThrow(TextField(value, key), "gw");
    else
      throw std::runtime_error("unknown device field \"" + key + "\"");
  }
  return device;
}

}  // namespace

std::vector<TSimDevice> ParseDeviceList(const std::string& text) {
  nlohmann::json document;
  try {
    document = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& error) {
    throw std::runtime_error(error.what());
  }
  const nlohmann::json* list = &document;
  if (document.is_object()) {
    if (!document.contains("devices")) throw std::runtime_error("want \"devices\": [...]");
    list = &document["devices"];
  }
  if (!list->is_array()) throw std::runtime_error("want a list of devices");
  std::vector<TSimDevice> devices;
  for (std::size_t i = 0; i < list->size(); ++i) {
    try {
      devices.push_back(DeviceFromJson((*list)[i]));
    } catch (const std::runtime_error& error) {
      throw std::runtime_error("device " + std::to_string(i) + ": " + error.what());
    }
  }
  return devices;
}

std::vector<TSimDevice> GenerateDevices(const TDeviceGenerator& generator) {
  const TMacAddress macBase = MacOrThrow(generator.MacBase);
  const TIPv4 ipBase = AddressOrThrow(generator.IPBase, "ip base");
  const TIPv4 mask = AddressOrThrow(generator.SubnetMask, "mask");
  const TIPv4 gateway = AddressOrThrow(generator.DefaultGateway, "gateway");
  std::uint64_t mac = 0;
  for (std::uint8_t byte : macBase) mac = (mac << 8) | byte;
  std::uint32_t ip = 0;
  for (std::uint8_t byte : ipBase) ip = (ip << 8) | byte;
  if (generator.Count > 0 && (mac + generator.Count - 1 > 0xFFFFFFFFFFFFull ||
                              std::uint64_t{ip} + generator.Count - 1 > 0xFFFFFFFFull))
    throw std::runtime_error("too many devices for the given hardware or IP base");

  std::vector<TSimDevice> devices;
  devices.reserve(generator.Count);
  for (std::size_t i = 0; i < generator.Count; ++i) {
    TSimDevice device;
    const std::uint64_t thisMac = mac + i;
    for (int b = 0; b < 6; ++b) device.Mac[b] = static_cast<std::uint8_t>(thisMac >> (40 - 8 * b));
    const std::uint32_t thisIP = static_cast<std::uint32_t>(ip + i);
    for (int b = 0; b < 4; ++b)
      device.IPAddress[b] = static_cast<std::uint8_t>(thisIP >> (24 - 8 * b));
    device.SubnetMask = mask;
    device.DefaultGateway = gateway;
    device.Name = generator.NamePrefix + std::to_string(i + 1);
    device.Type = generator.Type;
    devices.push_back(device);
  }
  return devices;
}

void CheckDeviceList(const std::vector<TSimDevice>& devices) {
  if (devices.empty()) throw std::runtime_error("no devices: give --device, --config or --count");
  std::set<TMacAddress> seen;
  for (const TSimDevice& device : devices) {
    if (!seen.insert(device.Mac).second)
      throw std::runtime_error("hardware address " + FormatMac(device.Mac) + " is given twice");
    if (DiscoverReplySize(device) >= kReplySizeLimit)
      throw std::runtime_error("name and type of " + FormatMac(device.Mac) +
                               " are too long: a discovery reply must stay under " +
                               std::to_string(kReplySizeLimit) + " bytes");
  }
}

}  // namespace scoutor
