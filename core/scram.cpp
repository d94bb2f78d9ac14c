// The ".scram" cipher: ChaCha20 keystream XORed over the file, from offset 0.
// The keystream is made a block at a time so a reader can decipher any run of
// bytes as they arrive, in pieces of any size.
#include "core/scram.h"

#include <cstring>

// Fixed for every build: changing either makes every existing ".scram" file
// unreadable.
static const uint8_t scram_key[CHACHA_KEY_SIZE] = {
    0x52, 0x75, 0x74, 0x74, 0x6d, 0x6f, 0x6f, 0x72, 0x9e, 0x41, 0x07, 0xc3, 0x5a, 0x18, 0xe2, 0x6b,
    0xd4, 0x33, 0x8f, 0x10, 0x7c, 0xa5, 0x29, 0xf6, 0x0b, 0x94, 0x5d, 0xe8, 0x61, 0x3a, 0xc7, 0x2e,
};
static const uint8_t scram_nonce[CHACHA_NONCE_SIZE] = {
    0x73, 0x63, 0x72, 0x61, 0x6d, 0x00, 0x00, 0x01,
};

void scram_begin(ScramStream *stream)
{
    chacha_set_key(&stream->cipher, scram_key);
    chacha_set_nonce(&stream->cipher, scram_nonce);
    stream->used = CHACHA_BLOCK_SIZE;
}

void scram_apply(ScramStream *stream, uint8_t *bytes, size_t n)
{
    static const uint8_t zeros[CHACHA_BLOCK_SIZE] = {};
    for (size_t i = 0; i < n; i++) {
        if (stream->used == CHACHA_BLOCK_SIZE) {
            // Whole blocks only: nettle advances the counter per full block.
            chacha_crypt(&stream->cipher, CHACHA_BLOCK_SIZE, stream->block, zeros);
            stream->used = 0;
        }
        bytes[i] ^= stream->block[stream->used++];
    }
}

void scram_buffer(uint8_t *bytes, size_t n)
{
    ScramStream stream;
    scram_begin(&stream);
    scram_apply(&stream, bytes, n);
}
