// The AES entry cipher's crypto from OpenSSL's libcrypto: AES-256 in ECB mode, PBKDF2 and HMAC-SHA1.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <stdexcept>
#include <string>

#include "zip/aesbackend.h"
#include "zip/aescipher.h"

namespace aescipher {

namespace {

void check(int ok, const char* what) {
    if (ok != 1) throw std::runtime_error(std::string("The AES cipher failed: ") + what);
}

}  // namespace

namespace backend {

// The cipher context is kept from entry to entry (reset between them) and the HMAC fetched once
// for the object; the HMAC context is per entry: freeing it wipes the key it holds.
struct Context {
    EVP_CIPHER_CTX* cipher = nullptr;
    EVP_MAC* hmac = nullptr;
    EVP_MAC_CTX* mac = nullptr;
};

Context* NewContext() {
    auto* context = new Context;
    context->cipher = EVP_CIPHER_CTX_new();
    context->hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!context->cipher || !context->hmac) {
        EVP_CIPHER_CTX_free(context->cipher);
        EVP_MAC_free(context->hmac);
        delete context;
        throw std::runtime_error("The AES cipher failed: no AES or HMAC in the crypto library");
    }
    return context;
}

void FreeContext(Context* context) {
    EndKeys(context);
    EVP_CIPHER_CTX_free(context->cipher);
    EVP_MAC_free(context->hmac);
    delete context;
}

void StartKeys(Context* context, const uint8_t* aesKey, const uint8_t* macKey) {
    check(EVP_EncryptInit_ex(context->cipher, EVP_aes_256_ecb(), nullptr, aesKey, nullptr), "AES key");
    check(EVP_CIPHER_CTX_set_padding(context->cipher, 0), "AES key");
    context->mac = EVP_MAC_CTX_new(context->hmac);
    if (!context->mac) throw std::runtime_error("The AES cipher failed: out of memory");
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    check(EVP_MAC_init(context->mac, macKey, kKeySize, params), "HMAC key");
}

void EndKeys(Context* context) {
    EVP_MAC_CTX_free(context->mac);
    context->mac = nullptr;
    EVP_CIPHER_CTX_reset(context->cipher);
}

void EncryptBlocks(Context* context, uint8_t* blocks, size_t length) {
    int n = 0;
    check(EVP_EncryptUpdate(context->cipher, blocks, &n, blocks, static_cast<int>(length)), "encryption");
}

void EncryptBlocksWithKey(const uint8_t* key, const uint8_t* in, uint8_t* out, size_t length) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx) throw std::runtime_error("The AES cipher failed: out of memory");
    int n = 0;
    const bool ok = EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key, nullptr) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_EncryptUpdate(ctx, out, &n, in, static_cast<int>(length)) == 1;
    EVP_CIPHER_CTX_free(ctx);
    check(ok ? 1 : 0, "block encryption");
}

void MacUpdate(Context* context, const uint8_t* data, size_t length) {
    check(EVP_MAC_update(context->mac, data, length), "authentication");
}

void MacFinal(Context* context, uint8_t (&digest)[kSha1Size]) {
    size_t n = 0;
    check(EVP_MAC_final(context->mac, digest, &n, sizeof digest), "authentication");
}

void Cleanse(void* data, size_t length) { OPENSSL_cleanse(data, length); }

bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, size_t length) {
    return CRYPTO_memcmp(a, b, length) == 0;
}

}  // namespace backend

void Pbkdf2Sha1(std::string_view password, const uint8_t* salt, size_t saltLength, int iterations, uint8_t* out,
                size_t outLength) {
    check(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(saltLength),
                            iterations, EVP_sha1(), static_cast<int>(outLength), out),
          "key derivation");
}

}  // namespace aescipher
