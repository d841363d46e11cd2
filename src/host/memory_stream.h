#pragma once
// An in-memory byte stream with a read/write position, and the framing that carries a list of
// byte strings through it: each entry a 32-bit little-endian byte count, then that many bytes.

#include <cstddef>
#include <string>
#include <string_view>

class MemoryStream
{
  public:
    void seekToStart() { position_ = 0; }
    // Writes at the position, overwriting and growing the stream as needed.
    void write(std::string_view bytes);
    // Reads `count` bytes from the position; false (and nothing consumed) when fewer are left.
    bool read(size_t count, std::string &out);

    // One framed entry; a write fails (and writes nothing) when the entry cannot be counted in
    // 32 bits, a read fails when the stream ends before the count or the bytes it announces.
    bool writeFramed(std::string_view bytes);
    bool readFramed(std::string &out);

    const std::string &bytes() const { return bytes_; }

  private:
    std::string bytes_;
    size_t position_ = 0;
};
