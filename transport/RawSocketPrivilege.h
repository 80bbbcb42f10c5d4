#pragma once
// The raw-socket capability held only while a raw socket is opened. A program given
// cap_net_raw as a permitted file capability (as the packages grant it) has it in no effective
// set at start; opening an ICMP socket raises it into the calling thread's effective set and
// lowers it right after, so nothing else the program does, and nothing a program linking the
// library does, runs with it. Root, whose effective set holds it already, is left as it is;
// without the capability nothing changes and the open takes its unprivileged path.
// Capabilities belong to the thread: construct and destroy on the same one.
namespace scoutor {

class TRawSocketPrivilege {
 public:
  TRawSocketPrivilege();   // raises CAP_NET_RAW when permitted and not effective
  ~TRawSocketPrivilege();  // lowers it again when this object raised it
  TRawSocketPrivilege(const TRawSocketPrivilege&) = delete;
  TRawSocketPrivilege& operator=(const TRawSocketPrivilege&) = delete;

  bool Raised() const { return Lower; }

  // Whether CAP_NET_RAW is in the calling thread's effective set.
  static bool Effective();
  // Whether raw and packet sockets can be opened: CAP_NET_RAW effective or permitted.
  static bool Available();

 private:
  bool Lower = false;
};

}  // namespace scoutor
