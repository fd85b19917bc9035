// What the fuzz targets share: stopping on a broken invariant, and turning
// the raw input into wide strings the way the Linux build reads names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

// Stops the run on a broken invariant; libFuzzer saves the input that broke
// it as a crash file.
#define FUZZ_CHECK(cond)                                                   \
  do {                                                                     \
    if (!(cond)) {                                                         \
      fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, \
              #cond);                                                      \
      abort();                                                             \
    }                                                                      \
  } while (0)

// The input cut at every zero byte into at most maxPieces pieces (the last
// one takes the rest, zero bytes dropped), each decoded as the Linux build
// decodes a name or an argument. Can't fail.
inline std::vector<std::wstring> WidePieces(const uint8_t *data, size_t size,
                                            size_t maxPieces) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size; i++) {
    if (data[i] != 0) {
      pieces.back().push_back((char)data[i]);
    } else if (pieces.size() < maxPieces) {
      pieces.emplace_back();
    }
  }
  std::vector<std::wstring> wide;
  for (const std::string &piece : pieces) wide.push_back(WideFromBytes(piece));
  return wide;
}
