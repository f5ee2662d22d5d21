// sha256.h - SHA-256 (FIPS 180-4) of a firmware file's bytes: what a service
// record names, so that a depot can tell afterwards which file a unit got.
#pragma once

#include <cstddef>
#include <cstdint>

namespace firmware {

struct Sha256 {
    uint32_t state[8];
    uint64_t bytes;  // taken so far
    uint8_t block[64];
    size_t fill;  // bytes of block in use
};

void Sha256Begin(Sha256& s);
void Sha256Add(Sha256& s, const void* data, size_t count);
// The digest as 64 lower-case hexadecimal digits and a NUL; s is spent.
void Sha256Hex(Sha256& s, char (&hex)[65]);

}  // namespace firmware
