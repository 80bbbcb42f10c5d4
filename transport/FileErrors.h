#pragma once
// Errors of local files and streams read by the transport (the firmware image of an upload).
// They are not transport errors: they derive from std::runtime_error directly, and their
// message is all a caller gets to show.
#include <stdexcept>
#include <string>

namespace scoutor {

// A file that cannot be opened for reading: "Cannot open file <path>".
class EFOpenError : public std::runtime_error {
 public:
  explicit EFOpenError(const std::string& path) : std::runtime_error("Cannot open file " + path) {}
};

// A stream that delivers fewer bytes than it announced, or cannot tell its size.
class EReadError : public std::runtime_error {
 public:
  EReadError() : std::runtime_error("Stream read error") {}
};

}  // namespace scoutor
