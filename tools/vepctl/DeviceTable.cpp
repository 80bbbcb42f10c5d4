#include "tools/vepctl/DeviceTable.h"

#include "tools/vepctl/DelimitedFields.h"
#include "tools/vepctl/DeviceRecord.h"

namespace scoutor::vepctl {

namespace {

constexpr const char* kSharedAddressMark = "duplicate IP";

std::string BooleanText(std::optional<bool> value) {
  if (!value) return {};
  return *value ? "true" : "false";
}

TRecord BooleanValue(std::optional<bool> value) {
  if (!value) return nullptr;
  return *value;
}

}  // namespace

TDeviceTable::TDeviceTable(const TOutput& output, TListFormat format, bool withReachability)
    : Output(output), Format(format), WithReachability(withReachability) {}

std::string TDeviceTable::Line(const std::vector<std::string>& fields) const {
  return Format == TListFormat::Csv ? CsvLine(fields) : TsvLine(fields);
}

void TDeviceTable::Header() const {
  if (Format != TListFormat::Tsv && Format != TListFormat::Csv) return;
  std::vector<std::string> columns = {"name", "type", "ip", "id", "interface", "duplicate_ip"};
  if (WithReachability) {
    columns.push_back("reachable");
    columns.push_back("error");
  }
  Output.Record({}, Line(columns));
}

void TDeviceTable::Row(const TDeviceInfo& device, std::optional<bool> sharedAddress,
                       const std::optional<TCheckResult>& check) const {
  if (Format == TListFormat::Tsv || Format == TListFormat::Csv) {
    std::vector<std::string> fields = {device.Name, device.Type,      device.IPAddress,
                                       device.ID,   device.Interface, BooleanText(sharedAddress)};
    if (check) {
      const bool failed = check->Outcome == TReachability::Failed;
      fields.push_back(failed ? "" : BooleanText(check->Outcome == TReachability::Reachable));
      fields.push_back(failed ? check->Error : "");
    }
    Output.Record({}, Line(fields));
    return;
  }
  TRecord record = DeviceFields(device);
  record["duplicate_ip"] = BooleanValue(sharedAddress);
  std::string text = DeviceText(device);
  if (check) text += '\t' + AddReachability(record, *check);
  if (sharedAddress.value_or(false)) text += std::string("\t") + kSharedAddressMark;
  Output.Record(record, text);
}

}  // namespace scoutor::vepctl
