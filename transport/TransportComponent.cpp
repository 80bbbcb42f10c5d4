#include "transport/TransportComponent.h"

#include "transport/SocketStack.h"

namespace scoutor {

TTransportComponent::TTransportComponent() { TSocketStack::AddComponent(); }

TTransportComponent::~TTransportComponent() { TSocketStack::RemoveComponent(); }

void TTransportComponent::BeginWork(TWorkMode mode, std::int64_t total) {
  TWorkState& work = Work[static_cast<int>(mode)];
  if (++work.Nesting != 1) return;
  work.Total = total;
  work.Count = 0;
  if (OnWorkBegin) OnWorkBegin(*this, mode, total);
}

void TTransportComponent::DoWork(TWorkMode mode, std::int64_t count) {
  TWorkState& work = Work[static_cast<int>(mode)];
  if (work.Nesting <= 0) return;
  work.Count += count;
  if (OnWork) OnWork(*this, mode, work.Count);
}

void TTransportComponent::EndWork(TWorkMode mode) {
  TWorkState& work = Work[static_cast<int>(mode)];
  if (work.Nesting <= 0) return;  // an end without a begin changes nothing
  // The count goes down before the event, so a handler that raises leaves the work ended.
  if (--work.Nesting == 0 && OnWorkEnd) OnWorkEnd(*this, mode);
}

}  // namespace scoutor
