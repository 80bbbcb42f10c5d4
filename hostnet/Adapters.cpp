#include "hostnet/Adapters.h"

#include <atomic>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "hostnet/FormatIPv4.h"
#include "hostnet/LinuxAdapterPlatform.h"
#include "runtime/Notifier.h"

namespace scoutor {

namespace {

std::atomic<TAdapterPlatform*> Installed{nullptr};
std::atomic<bool> Loaded{false};

constexpr unsigned kBufferOverflow = 111;
constexpr unsigned kFailure = 1;

void ShowError(const std::string& text) {
  Notifier().Show("HalvexVEP Error", text, TNoticeButtons::OkCancel);
}

// Room for `bytes` of adapter records; none when that much cannot be had.
std::unique_ptr<TAdapterList> AllocateList(std::size_t bytes) {
  try {
    auto list = std::make_unique<TAdapterList>();
    list->Adapters.reserve(bytes / kAdapterRecordSize);
    return list;
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
}

// Fills `list` with the adapters when they fit into `size` bytes: 0. When they do not:
// kBufferOverflow with the needed size in `size`. Any other result is a failure.
unsigned FetchAdapters(TAdapterList& list, std::size_t& size) {
  auto adapters = AdapterPlatform().Adapters();
  if (!adapters) return kFailure;
  const std::size_t needed = adapters->size() * kAdapterRecordSize;
  if (needed > size) {
    size = needed;
    return kBufferOverflow;
  }
  list.Adapters.assign(std::make_move_iterator(adapters->begin()),
                       std::make_move_iterator(adapters->end()));
  return 0;
}

std::unique_ptr<TAdapterList> FetchAdapterList() {
  if (!LoadAdapterAccess()) return nullptr;
  const auto count = AdapterPlatform().InterfaceCount();
  if (!count) return nullptr;
  // Room for every interface but loopback; a count too large to size a buffer for is a
  // buffer that cannot be had.
  const std::size_t records = *count > 0 ? *count - 1 : 0;
  std::unique_ptr<TAdapterList> list;
  std::size_t size = records * kAdapterRecordSize;
  if (records <= std::numeric_limits<std::size_t>::max() / kAdapterRecordSize)
    list = AllocateList(size);
  if (!list) {
    ShowError("HalvexVEP : Couldn't allocate memory");
    return nullptr;
  }
  unsigned result = FetchAdapters(*list, size);
  if (result == kBufferOverflow) {
    list = AllocateList(size);
    if (!list) {
      ShowError("HalvexVEP : Couldn't allocate memory");
      return nullptr;
    }
    result = FetchAdapters(*list, size);
  }
  if (result != 0) return nullptr;
  return list;
}

}  // namespace

TAdapterPlatform& AdapterPlatform() {
  static TLinuxAdapterPlatform kernelSource;
  TAdapterPlatform* installed = Installed.load();
  return installed != nullptr ? *installed : kernelSource;
}

void SetAdapterPlatform(TAdapterPlatform* platform) {
  Installed.store(platform);
  Loaded.store(false);
}

bool LoadAdapterAccess() {
  if (Loaded.load()) return true;
  std::string failureText;
  if (!AdapterPlatform().Load(failureText)) {
    ShowError(failureText);
    return false;
  }
  Loaded.store(true);
  return true;
}

std::size_t CountAdapters() {
  if (!LoadAdapterAccess()) return 0;
  const auto count = AdapterPlatform().InterfaceCount();
  if (!count || *count == 0) return 0;
  return *count - 1;
}

std::unique_ptr<TAdapterList> GetAdapterList() {
  try {
    return FetchAdapterList();
  } catch (const std::bad_alloc&) {
    ShowError("HalvexVEP : Couldn't allocate memory");
    return nullptr;
  }
}

void FreeAdapterList(std::unique_ptr<TAdapterList> list) { list.reset(); }

bool FindLocalAddress(std::uint32_t& address, std::uint32_t& mask, std::uint32_t& gateway) {
  const std::uint32_t wanted = address;
  if (!LoadAdapterAccess() || !AdapterPlatform().InterfaceCount()) return false;
  std::unique_ptr<TAdapterList> list = GetAdapterList();
  if (!list) return false;

  std::uint32_t first = 0;
  std::uint32_t firstMask = 0;
  std::uint32_t firstGateway = 0;
  bool found = false;
  address = 0;
  for (const TAdapterRecord& adapter : list->Adapters) {
    for (const TAdapterAddress& entry : adapter.Addresses) {
      address = HostOrderAddress(entry.Address);
      if (address == 0) continue;
      if (first == 0) {
        first = address;
        firstMask = HostOrderAddress(entry.Mask);
        firstGateway = HostOrderAddress(adapter.Gateway);
        if (wanted == 0) {
          mask = firstMask;
          gateway = firstGateway;
          found = true;
          break;
        }
      }
      if (address == wanted) {
        mask = HostOrderAddress(entry.Mask);
        gateway = HostOrderAddress(adapter.Gateway);
        found = true;
        break;
      }
    }
    if (found) break;
  }
  FreeAdapterList(std::move(list));

  if (found) return true;
  mask = firstMask;
  gateway = firstGateway;
  return false;
}

}  // namespace scoutor
