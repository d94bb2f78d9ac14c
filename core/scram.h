// The cipher of ".scram" files. Enciphered game data is kept from casual reading
// and editing; it is not a secret from anyone who has the program.
//
// Format of a ".scram" file: the plain bytes XORed with the ChaCha20 keystream
// (nettle's chacha: the fixed 256-bit key and 64-bit nonce below, block counter
// starting at 0), so the stored file has exactly the plain file's length, no
// header and no trailer. Enciphering and deciphering are the same operation.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nettle/chacha.h>

// A keystream position: one per enciphered stream, started at byte 0.
struct ScramStream {
    chacha_ctx cipher;
    uint8_t block[CHACHA_BLOCK_SIZE];   // keystream of the current 64-byte block
    int used;                           // bytes of block already applied
};

void scram_begin(ScramStream *stream);
// Enciphers or deciphers the next n bytes of the stream in place.
void scram_apply(ScramStream *stream, uint8_t *bytes, size_t n);
// Enciphers a whole file's bytes (starting at stream offset 0) in place.
void scram_buffer(uint8_t *bytes, size_t n);
