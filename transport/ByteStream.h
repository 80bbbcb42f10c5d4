#pragma once
// A readable view of a received datagram with a read position, as handed to receive events.
// It does not own the bytes: valid only while the event runs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace scoutor {

class TByteStream {
 public:
  TByteStream(const std::uint8_t* data, std::size_t size) : Data(data), Length(size) {}

  std::size_t Size() const { return Length; }
  std::size_t Position() const { return Offset; }
  void SetPosition(std::size_t position) { Offset = std::min(position, Length); }
  std::size_t Remaining() const { return Length - Offset; }
  const std::uint8_t* Bytes() const { return Data; }

  // Copies up to `count` bytes from the read position; returns how many were copied.
  std::size_t Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, Remaining());
    if (n > 0) std::memcpy(buffer, Data + Offset, n);
    Offset += n;
    return n;
  }

 private:
  const std::uint8_t* Data;
  std::size_t Length;
  std::size_t Offset = 0;
};

}  // namespace scoutor
