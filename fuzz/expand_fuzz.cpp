// Feeds arbitrary stored bytes to the record decoder, and arbitrary records
// through the encoder and back.
//
// Input layout: byte 0 holds the truncate flag (bit 0); bytes 1-2 the record
// length (little-endian); the rest is the stored body. The same rest is also
// taken as a record for the round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ismgr/isam/compress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool truncate = (data[0] & 1) != 0;
  const size_t length = static_cast<size_t>(data[1]) | static_cast<size_t>(data[2]) << 8;
  const size_t body_length = size - 3;
  // Exactly sized copies, so that any access past them is caught.
  std::unique_ptr<uint8_t[]> body(new uint8_t[body_length]);
  std::memcpy(body.get(), data + 3, body_length);

  std::unique_ptr<uint8_t[]> out(new uint8_t[length]);
  const int64_t produced = ismgr::expand(out.get(), body.get(), body_length, length, truncate);
  if (produced != -1 && produced != static_cast<int64_t>(length)) std::abort();

  // Round trip of the body taken as a record.
  std::unique_ptr<uint8_t[]> stored(new uint8_t[body_length + 1]);
  const size_t stored_length = ismgr::compress(stored.get(), body.get(), body_length);
  if (stored_length > body_length + 1) std::abort();
  std::unique_ptr<uint8_t[]> back(new uint8_t[body_length]);
  const int64_t rebuilt =
      ismgr::expand(back.get(), stored.get(), stored_length, body_length, false);
  if (rebuilt != static_cast<int64_t>(body_length)) std::abort();
  if (body_length != 0 && std::memcmp(back.get(), body.get(), body_length) != 0) std::abort();
  return 0;
}
