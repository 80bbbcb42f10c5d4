#include "tools/vepctl/DeviceChanges.h"

#include <algorithm>

namespace scoutor::vepctl {

namespace {

constexpr int kMissedScansForGone = 2;

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void Compare(std::vector<TFieldChange>& changes, const char* field, const std::string& old,
             const std::string& now) {
  if (old != now) changes.push_back({field, old, now});
}

}  // namespace

std::vector<TDeviceEvent> TDeviceChanges::Update(const std::vector<TSighting>& heard) {
  std::vector<TDeviceEvent> events;
  std::vector<bool> seen(Known.size(), false);
  for (const TSighting& sighting : heard) {
    TDeviceInfo now = sighting.Device;
    const auto known = std::find_if(Known.begin(), Known.end(), [&now](const TKnown& entry) {
      return entry.Device.ID == now.ID;
    });
    if (known == Known.end()) {
      Known.push_back({now, 0});
      seen.push_back(true);
      events.push_back({TDeviceEvent::TKind::Appeared, now, {}});
      continue;
    }
    seen[static_cast<std::size_t>(known - Known.begin())] = true;
    known->Missed = 0;
    TDeviceInfo& old = known->Device;
    if (Contains(sighting.Interfaces, old.Interface)) now.Interface = old.Interface;
    std::vector<TFieldChange> changes;
    Compare(changes, "ip", old.IPAddress, now.IPAddress);
    Compare(changes, "name", old.Name, now.Name);
    Compare(changes, "type", old.Type, now.Type);
    Compare(changes, "interface", old.Interface, now.Interface);
    old = now;
    if (!changes.empty()) events.push_back({TDeviceEvent::TKind::Changed, now, changes});
  }
  std::vector<TKnown> kept;
  for (std::size_t i = 0; i < Known.size(); ++i) {
    if (!seen[i] && ++Known[i].Missed >= kMissedScansForGone) {
      events.push_back({TDeviceEvent::TKind::Gone, Known[i].Device, {}});
      continue;
    }
    kept.push_back(Known[i]);
  }
  Known = std::move(kept);
  return events;
}

}  // namespace scoutor::vepctl
