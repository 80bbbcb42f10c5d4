#pragma once
// Test double for the adapter source: an adapter list written by the test, installed for the
// life of the object, with a recording notifier for the "HalvexVEP Error" notices.
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hostnet/AdapterPlatform.h"
#include "hostnet/Adapters.h"
#include "runtime/Notifier.h"

namespace scoutor::test {

struct TNotice {
  std::string Caption;
  std::string Text;
  TNoticeButtons Buttons;
};

class TRecordingNotifier final : public TNotifier {
 public:
  TNoticeAnswer Show(const std::string& caption, const std::string& text,
                     TNoticeButtons buttons) override {
    Notices.push_back({caption, text, buttons});
    return TNoticeAnswer::Cancel;
  }
  std::vector<TNotice> Notices;
};

// One adapter: name, (address, mask) entries, first gateway.
inline TAdapterRecord Adapter(std::string name,
                              std::vector<std::pair<std::string, std::string>> entries,
                              std::string gateway = "0.0.0.0") {
  TAdapterRecord adapter;
  adapter.Name = std::move(name);
  for (auto& [address, mask] : entries) adapter.Addresses.push_back({address, mask});
  adapter.Gateway = std::move(gateway);
  return adapter;
}

class TMadeUpAdapterPlatform final : public TAdapterPlatform {
 public:
  TMadeUpAdapterPlatform() {
    SetAdapterPlatform(this);
    SetNotifier(&Recorder);
  }
  ~TMadeUpAdapterPlatform() override {
    SetAdapterPlatform(nullptr);
    SetNotifier(nullptr);
  }
  TMadeUpAdapterPlatform(const TMadeUpAdapterPlatform&) = delete;
  TMadeUpAdapterPlatform& operator=(const TMadeUpAdapterPlatform&) = delete;

  // The list every call reports, with the interface count that goes with it (loopback + one
  // per adapter).
  void Report(std::vector<TAdapterRecord> adapters) {
    Count = adapters.size() + 1;
    Lists.clear();
    Lists.emplace_back(std::move(adapters));
  }

  bool Load(std::string& failureText) override {
    ++LoadCalls;
    if (LoadFailure.empty()) return true;
    failureText = LoadFailure;
    return false;
  }
  std::optional<std::size_t> InterfaceCount() override { return Count; }
  // The n-th call answers with Lists[n], the last entry repeating.
  std::optional<std::vector<TAdapterRecord>> Adapters() override {
    const std::size_t call = AdapterCalls++;
    if (Lists.empty()) return std::nullopt;
    return Lists[call < Lists.size() ? call : Lists.size() - 1];
  }

  std::string LoadFailure;  // empty: loading succeeds
  std::optional<std::size_t> Count = 1;
  std::vector<std::optional<std::vector<TAdapterRecord>>> Lists;
  int LoadCalls = 0;
  int AdapterCalls = 0;
  TRecordingNotifier Recorder;
};

}  // namespace scoutor::test
