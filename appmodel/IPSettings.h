#pragma once
// A device's IP settings as one value, and the rules every front end applies to them before
// they are sent: static settings that cannot work on any network are refused, and a DHCP
// request carries zeros wherever it has no complete address. The window reads its address
// fields into this value; vepctl its options and the rows of a plan. Plain values and
// functions, no network, any thread.
#include <optional>
#include <string>

namespace scoutor {

struct TIPSettings {
  bool DHCP = false;
  std::string Address;  // dotted texts as the user gave them
  std::string Mask;
  std::string Gateway;

  bool operator==(const TIPSettings&) const = default;
};

// The canonical dotted form of a complete address ("010.001.002.003" is 10.1.2.3), or none for
// anything else: a group above 255, a missing group, a partly filled field.
std::optional<std::string> CompleteAddress(const std::string& text);

// The problem of a field (named as the user knows it) whose text is not a complete address:
// "FIELD is empty", or "FIELD TEXT is not a complete address (four numbers from 0 to 255)".
std::string IncompleteAddressProblem(const std::string& field, const std::string& text);

// Why static settings (canonical dotted texts) cannot work, or empty: 0.0.0.0 or
// 255.255.255.255, a mask that is not one run of ones from the top or that leaves fewer than
// two host bits (/31 and /32 have no room for a device beside its gateway and broadcast), the
// subnet's network or broadcast address, a gateway outside the subnet or equal to the address.
// A gateway of 0.0.0.0 means none.
std::string SettingsProblem(const std::string& address, const std::string& mask,
                            const std::string& gateway);

// Why `settings` cannot be sent, or empty. Static settings need three complete addresses
// (an empty gateway is none, 0.0.0.0) that pass SettingsProblem; a DHCP request is never
// refused. `fieldNames` name the three in the problem: the window's captions or vepctl's
// options.
struct TSettingsFieldNames {
  std::string Address = "the IP address";
  std::string Mask = "the subnet mask";
  std::string Gateway = "the default gateway";
};
std::string SendingProblem(const TIPSettings& settings, const TSettingsFieldNames& fieldNames = {});

// What goes to the device: static settings in canonical form (an empty gateway as 0.0.0.0);
// for DHCP each field that is not a complete address becomes 0.0.0.0, the others go as they
// are. Only for settings whose SendingProblem is empty.
TIPSettings SettingsToSend(const TIPSettings& settings);

}  // namespace scoutor
