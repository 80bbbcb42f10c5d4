#include "transport/SocketBindings.h"

namespace scoutor {

TSocketBinding& TSocketBindings::AddBinding() {
  auto binding = std::make_unique<TSocketBinding>();
  binding->Port = DefaultPort;
  Items.push_back(std::move(binding));
  return *Items.back();
}

TSocketBinding* TSocketBindings::FindByHandle(TSocketHandle handle) {
  for (auto it = Items.rbegin(); it != Items.rend(); ++it)
    if ((*it)->Allocated() && (*it)->Handle() == handle) return it->get();
  return nullptr;
}

void TSocketBindings::CopyFrom(const TSocketBindings& other) {
  if (&other == this) return;
  Items.clear();
  for (const auto& item : other.Items) {
    auto copy = std::make_unique<TSocketBinding>();
    copy->IP = item->IP;
    copy->Port = item->Port;
    copy->RemoteIP = item->RemoteIP;
    copy->RemotePort = item->RemotePort;
    Items.push_back(std::move(copy));
  }
}

}  // namespace scoutor
