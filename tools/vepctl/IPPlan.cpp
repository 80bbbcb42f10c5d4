#include "tools/vepctl/IPPlan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "appmodel/IPSettings.h"
#include "protocol/VepWire.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/CsvRecords.h"

namespace scoutor::vepctl {

namespace {

enum TColumn { kID, kDHCP, kIP, kMask, kGateway, kColumnCount };
constexpr std::array<std::string_view, kColumnCount> kColumnNames = {"id", "dhcp", "ip", "mask",
                                                                     "gateway"};
constexpr std::string_view kColumnList = "id, dhcp, ip, mask, gateway";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return text;
}

std::optional<bool> DHCPFlag(const std::string& text) {
  const std::string value = Lower(text);
  if (value == "1" || value == "yes" || value == "true") return true;
  if (value == "0" || value == "no" || value == "false") return false;
  return std::nullopt;
}

// Where each column sits in a row, read from the header line.
using TLayout = std::array<std::size_t, kColumnCount>;

class TPlanReader {
 public:
  TIPPlan Read(std::string_view text) {
    const std::vector<TCsvRecord> records = ReadCsvRecords(text);
    if (records.empty()) {
      Problem(0, {},
              std::string("the plan is empty: it needs a header line naming ") +
                  std::string(kColumnList) + " and a row per device");
    } else if (const std::optional<TLayout> layout = Header(records.front())) {
      for (std::size_t i = 1; i < records.size(); ++i) Row(records[i], *layout);
      if (records.size() == 1) Problem(0, {}, "the plan names no device: it has a header only");
      Duplicates();
    }
    std::stable_sort(Plan.Problems.begin(), Plan.Problems.end(),
                     [](const TPlanProblem& a, const TPlanProblem& b) { return a.Line < b.Line; });
    return std::move(Plan);
  }

 private:
  void Problem(int line, const std::string& id, const std::string& text) {
    Plan.Problems.push_back({line, id, text});
  }

  std::optional<TLayout> Header(const TCsvRecord& record) {
    if (!record.Problem.empty()) {
      Problem(record.Line, {}, "header line: " + record.Problem);
      return std::nullopt;
    }
    constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
    TLayout layout;
    layout.fill(kAbsent);
    bool good = true;
    for (std::size_t i = 0; i < record.Fields.size(); ++i) {
      const std::string name = Lower(record.Fields[i]);
      const auto known = std::find(kColumnNames.begin(), kColumnNames.end(), name);
      if (known == kColumnNames.end()) {
        Problem(record.Line, {},
                "the header line names an unknown column '" + record.Fields[i] +
                    "' (the columns are " + std::string(kColumnList) + ")");
        good = false;
        continue;
      }
      std::size_t& position = layout[static_cast<std::size_t>(known - kColumnNames.begin())];
      if (position != kAbsent) {
        Problem(record.Line, {}, "the header line names the column '" + name + "' twice");
        good = false;
      }
      position = i;
    }
    for (std::size_t column = 0; column < kColumnCount; ++column)
      if (layout[column] == kAbsent) {
        Problem(record.Line, {},
                "the header line lacks the column '" + std::string(kColumnNames[column]) +
                    "' (the columns are " + std::string(kColumnList) + ")");
        good = false;
      }
    Width = record.Fields.size();
    if (!good) return std::nullopt;
    return layout;
  }

  void Row(const TCsvRecord& record, const TLayout& layout) {
    if (!record.Problem.empty()) {
      Problem(record.Line, {}, record.Problem);
      return;
    }
    if (record.Fields.size() != Width) {
      Problem(record.Line, {},
              "the row has " + std::to_string(record.Fields.size()) +
                  " fields where the header line names " + std::to_string(Width));
      return;
    }
    const auto field = [&](TColumn column) -> const std::string& {
      return record.Fields[layout[column]];
    };
    TPlanRow row;
    row.Line = record.Line;
    const std::size_t problemsBefore = Plan.Problems.size();

    std::string id = field(kID);
    if (const std::string why = DeviceIDText()(id); !why.empty())
      Problem(row.Line, {}, "id: " + why);
    else
      row.ID = IDText(DeviceNodeID(id));

    const std::array<std::string, 3> addresses = {field(kIP), field(kMask), field(kGateway)};
    const auto given = std::count_if(addresses.begin(), addresses.end(),
                                     [](const std::string& text) { return !text.empty(); });
    const std::optional<bool> dhcp = DHCPFlag(field(kDHCP));
    if (!dhcp) {
      Problem(row.Line, row.ID,
              "dhcp: '" + field(kDHCP) + "' is none of 1, 0, yes, no, true, false");
    } else if (*dhcp) {
      row.DHCP = true;
      if (given != 0)
        Problem(row.Line, row.ID, "a DHCP row takes no ip, mask or gateway (leave them empty)");
    } else if (given != 3) {
      Problem(row.Line, row.ID, "a static row needs ip, mask and gateway (gateway 0.0.0.0: none)");
    } else {
      ReadAddresses(addresses, row);
    }
    if (Plan.Problems.size() == problemsBefore) Plan.Rows.push_back(row);
    // A row with problems still takes part in the search for duplicates with what it names.
    Named.push_back({row.Line, row.ID, row.Address});
  }

  // The ip, mask and gateway of a static row into `row`, if each reads as an address and
  // together they can work.
  void ReadAddresses(std::array<std::string, 3> texts, TPlanRow& row) {
    constexpr std::array<TColumn, 3> kAddressColumns = {kIP, kMask, kGateway};
    bool readable = true;
    for (std::size_t i = 0; i < texts.size(); ++i)
      if (const std::string why = IPv4Text()(texts[i]); !why.empty()) {
        Problem(row.Line, row.ID, std::string(kColumnNames[kAddressColumns[i]]) + ": " + why);
        readable = false;
      }
    if (!readable) return;
    if (const std::string why = SendingProblem({false, texts[0], texts[1], texts[2]}); !why.empty()) {
      Problem(row.Line, row.ID, why);
      return;
    }
    row.Address = texts[0];
    row.Mask = texts[1];
    row.Gateway = texts[2];
  }

  void Duplicates() {
    std::map<std::string, int> firstLineOfID;
    std::map<std::string, int> firstLineOfAddress;
    for (const TNamed& named : Named) {
      if (!named.ID.empty())
        if (const auto [id, isNew] = firstLineOfID.emplace(named.ID, named.Line); !isNew)
          Problem(named.Line, named.ID,
                  "the device " + named.ID + " is already planned on line " +
                      std::to_string(id->second));
      if (named.Address.empty()) continue;
      if (const auto [address, isNew] = firstLineOfAddress.emplace(named.Address, named.Line);
          !isNew)
        Problem(named.Line, named.ID,
                "the address " + named.Address + " is already planned on line " +
                    std::to_string(address->second));
    }
  }

  // What a row names, for the duplicates: its device and its static address (or empty).
  struct TNamed {
    int Line;
    std::string ID;
    std::string Address;
  };

  TIPPlan Plan;
  std::vector<TNamed> Named;
  std::size_t Width = 0;
};

}  // namespace

TIPPlan ParseIPPlan(std::string_view text) {
  return TPlanReader().Read(text);
}

TIPPlan ReadIPPlanFile(const std::string& path) {
  const auto unreadable = [](const std::string& why) {
    TIPPlan plan;
    plan.Problems.push_back({0, {}, "cannot be read: " + why});
    return plan;
  };
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return unreadable("it is a directory");
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return unreadable(errno != 0 ? std::strerror(errno) : "it cannot be opened");
  std::string text;
  std::array<char, 65536> buffer;
  while (file.read(buffer.data(), buffer.size()) || file.gcount() > 0)
    text.append(buffer.data(), static_cast<std::size_t>(file.gcount()));
  if (file.bad()) return unreadable("a read failed");
  return ParseIPPlan(text);
}

}  // namespace scoutor::vepctl
