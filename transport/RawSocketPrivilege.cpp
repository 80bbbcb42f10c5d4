#include "transport/RawSocketPrivilege.h"

#include <sys/capability.h>

namespace scoutor {

namespace {

// Sets CAP_NET_RAW in or out of the effective set; false when the kernel refuses.
bool SetEffective(cap_flag_value_t value) {
  cap_t caps = cap_get_proc();
  if (caps == nullptr) return false;
  const cap_value_t raw[] = {CAP_NET_RAW};
  const bool done =
      cap_set_flag(caps, CAP_EFFECTIVE, 1, raw, value) == 0 && cap_set_proc(caps) == 0;
  cap_free(caps);
  return done;
}

bool Has(cap_flag_t set) {
  cap_t caps = cap_get_proc();
  if (caps == nullptr) return false;
  cap_flag_value_t value = CAP_CLEAR;
  cap_get_flag(caps, CAP_NET_RAW, set, &value);
  cap_free(caps);
  return value == CAP_SET;
}

}  // namespace

TRawSocketPrivilege::TRawSocketPrivilege() {
  if (!Has(CAP_EFFECTIVE) && Has(CAP_PERMITTED)) Lower = SetEffective(CAP_SET);
}

TRawSocketPrivilege::~TRawSocketPrivilege() {
  if (Lower) SetEffective(CAP_CLEAR);
}

bool TRawSocketPrivilege::Effective() { return Has(CAP_EFFECTIVE); }

bool TRawSocketPrivilege::Available() { return Has(CAP_EFFECTIVE) || Has(CAP_PERMITTED); }

}  // namespace scoutor
