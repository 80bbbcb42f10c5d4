#pragma once
// The error kinds of the network transport. Every one derives from EIdException and carries
// its message text; EIdSocketError also carries the platform's error code (errno).
#include <stdexcept>
#include <string>

namespace scoutor {

class EIdException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A platform socket call failed: "Socket Error # <code>\r\n<text>".
class EIdSocketError : public EIdException {
 public:
  explicit EIdSocketError(int code);
  int LastError() const { return Code; }

 private:
  int Code;
};

class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};

class EIdSocketHandleError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
 public:
  EIdCouldNotBindSocket()
      : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

class EIdPackageSizeTooBig : public EIdSocketHandleError {
 public:
  EIdPackageSizeTooBig() : EIdSocketHandleError("Package Size Too Big.") {}
};

class EIdNotAllBytesSent : public EIdSocketHandleError {
 public:
  EIdNotAllBytesSent() : EIdSocketHandleError("Not all bytes sent.") {}
};

class EIdConnClosedGracefully : public EIdException {
 public:
  EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};

class EIdStackError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};

// Kept for platforms whose socket library needs a start-up call; Linux never raises it.
class EIdStackInitializationFailed : public EIdStackError {
 public:
  EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
};

// UDP endpoint errors.
class EIdNoBindingsSpecified : public EIdException {
 public:
  EIdNoBindingsSpecified() : EIdException("No bindings specified.") {}
};

class EIdUDPReceiveErrorZeroBytes : public EIdException {
 public:
  EIdUDPReceiveErrorZeroBytes() : EIdException("UDP Receive Error = 0.") {}
};

}  // namespace scoutor
