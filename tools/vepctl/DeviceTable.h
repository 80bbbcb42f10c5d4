#pragma once
// The device list of vepctl discover in its four forms. Text: one line per device, its columns
// separated by tabs, no header; with --ping the check's outcome follows, and a device whose IP
// address another device holds too ends with the column "duplicate IP". TSV and CSV: a header
// line, then one line per device with the columns name, type, ip, id, interface, duplicate_ip
// (and reachable, error with --ping); booleans are "true" or "false", empty when unknown.
// JSON: one object per device with the same fields, unknown as null (an "error" field only
// for a check that failed). Main thread only.
#include <optional>
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "hostnet/ReachabilityService.h"
#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

enum class TListFormat { Text, Tsv, Csv, Json };

class TDeviceTable {
 public:
  // `output` prints JSON exactly when `format` is Json. `withReachability` adds the columns of
  // the checks, which every row then has.
  TDeviceTable(const TOutput& output, TListFormat format, bool withReachability);

  // The header line of TSV and CSV; nothing in the other forms.
  void Header() const;
  // One device; `sharedAddress` tells whether another device holds its IP address too (none
  // while that is not known yet), `check` is its reachability check.
  void Row(const TDeviceInfo& device, std::optional<bool> sharedAddress,
           const std::optional<TCheckResult>& check) const;

 private:
  std::string Line(const std::vector<std::string>& fields) const;

  const TOutput& Output;
  TListFormat Format;
  bool WithReachability;
};

}  // namespace scoutor::vepctl
