#pragma once
// The error kinds of the TFTP write client. A received error packet raises the kind that
// belongs to its error code, carrying the text the server sent; the client's own failures
// ("Timeout", a refused option acknowledgement) use these kinds as well.
#include "transport/SocketErrors.h"

namespace scoutor {

// Error code 0, any code above 8, and the client's own failures.
class EIdTFTPException : public EIdException {
 public:
  using EIdException::EIdException;
};

// Code 1.
class EIdTFTPFileNotFound : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

// Code 2.
class EIdTFTPAccessViolation : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

// Code 3.
class EIdTFTPAllocationExceeded : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

// Code 4.
class EIdTFTPIllegalOperation : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

// Code 5.
class EIdTFTPUnknownTransferID : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

// Code 6.
class EIdTFTPFileAlreadyExists : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

// Code 7.
class EIdTFTPNoSuchUser : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

// Code 8, and an option acknowledgement whose block size the client cannot use.
class EIdTFTPOptionNegotiationFailed : public EIdTFTPException {
 public:
  using EIdTFTPException::EIdTFTPException;
};

}  // namespace scoutor
