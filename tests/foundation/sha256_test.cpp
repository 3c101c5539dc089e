// sha256: the standard's example messages, messages around the padding's block boundary (the
// digests from another implementation, Python's hashlib), and any split into pieces alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/sha256.h"

static std::string digest(const std::string& message, size_t piece) {
  sha256 h;
  for (size_t at = 0; at < message.size(); at += piece)
    h.update(message.data() + at, std::min(piece, message.size() - at));
  return h.hexdigest();
}

TEST(Sha256, KnownDigestsWhateverPiecesTheMessageComesIn) {
  std::vector<std::pair<std::string, std::string>> known = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  // Lengths at which the padding just fits, just does not, or fills a block of its own.
  const std::pair<size_t, const char*> edges[] = {
      {55, "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
      {56, "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
      {63, "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
      {64, "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
      {65, "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
      {119, "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
      {1000, "1e9bc38cbf860b9ec31918b065f9b52476c549a782e0e7990bed8ce3868d2371"}};
  for (auto [n, hex] : edges) {
    std::string m;
    for (size_t i = 0; i < n; i++) m += static_cast<char>((i * 7 + 3) % 256);
    known.emplace_back(m, hex);
  }
  for (auto& [message, hex] : known)
    for (size_t piece : {size_t{1}, size_t{3}, size_t{64}, size_t{65}, size_t{4096}})
      EXPECT_EQ(digest(message, piece), hex) << message.size() << " bytes in pieces of " << piece;
}
