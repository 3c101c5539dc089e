// sha256: the SHA-256 digest (FIPS 180-4), for the fingerprint of the settings file a run read.
// The program's own, so that every platform has it (the browser has no nettle).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class sha256 {
 public:
  sha256();
  void update(const void* data, size_t size);  // appends bytes to the message
  std::string hexdigest();  // the digest of everything appended, 64 lower-case hex digits; ends
                            // the message, so a further update starts nothing new

 private:
  void block(const unsigned char* p);  // mixes one 64-byte block into state_
  uint32_t state_[8];                  // the running hash
  unsigned char pending_[64];          // bytes not yet making up a whole block
  size_t filled_;                      // bytes in pending_
  uint64_t length_;                    // message length so far, bytes
};
