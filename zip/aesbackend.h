// What the AES entry cipher takes from a crypto library: AES-256 of whole blocks (the key stream
// of the counter mode), HMAC-SHA1 in steps, wiping and comparing secrets. PBKDF2 is
// aescipher::Pbkdf2Sha1, defined beside these. One backend a build: aescipher_openssl.cpp
// (libcrypto) or aescipher_win32.cpp (the system's CNG).
#pragma once

#include <cstddef>
#include <cstdint>

namespace aescipher::backend {

constexpr size_t kBlockSize = 16;
constexpr size_t kSha1Size = 20;

// The library's state of one cipher object: the AES key and the running HMAC of its entry.
struct Context;

// A context without keys; raises when the library lacks AES or HMAC-SHA1.
Context* NewContext();
void FreeContext(Context* context);  // ends its keys first
// Sets up the AES key and starts the HMAC with its key (kKeySize bytes each).
void StartKeys(Context* context, const uint8_t* aesKey, const uint8_t* macKey);
// Destroys both keys; harmless on a context without keys.
void EndKeys(Context* context);
// AES-256 of whole blocks with the started key, in place.
void EncryptBlocks(Context* context, uint8_t* blocks, size_t length);
// AES-256 of whole blocks with a key of its own, in may equal out.
void EncryptBlocksWithKey(const uint8_t* key, const uint8_t* in, uint8_t* out, size_t length);
void MacUpdate(Context* context, const uint8_t* data, size_t length);
void MacFinal(Context* context, uint8_t (&digest)[kSha1Size]);

// Overwrites memory in a way the compiler does not leave out.
void Cleanse(void* data, size_t length);
// Whether two byte runs are equal, in time that does not depend on where they differ.
bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, size_t length);

}  // namespace aescipher::backend
