#pragma once
// The error kind of the ICMP echo client: a received answer it cannot read as an echo exchange.
#include "transport/SocketErrors.h"

namespace scoutor {

class EIdIcmpException : public EIdException {
 public:
  using EIdException::EIdException;
};

}  // namespace scoutor
