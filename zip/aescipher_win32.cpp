// The AES entry cipher's crypto on Windows: AES, PBKDF2 and HMAC-SHA1 from the system's CNG (bcrypt.dll).
#include <stdexcept>
#include <string>
#include "platform/winapi_win32.h"
#include <bcrypt.h>

#include "zip/aesbackend.h"
#include "zip/aescipher.h"

namespace aescipher {

namespace {

void checkStatus(NTSTATUS status, const char* what) {
    if (!BCRYPT_SUCCESS(status)) throw std::runtime_error(std::string("The AES cipher failed: ") + what);
}

// The providers, opened once for the process: AES in ECB mode (the key stream of the counter
// mode) and SHA1 with HMAC; CNG handles of a provider may be used from any thread.
struct Providers {
    BCRYPT_ALG_HANDLE aes = nullptr;
    BCRYPT_ALG_HANDLE hmac = nullptr;
    Providers() {
        checkStatus(BCryptOpenAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0), "no AES in the system");
        checkStatus(BCryptSetProperty(aes, BCRYPT_CHAINING_MODE,
                                      reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                                      sizeof BCRYPT_CHAIN_MODE_ECB, 0),
                    "no AES ECB in the system");
        checkStatus(BCryptOpenAlgorithmProvider(&hmac, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG),
                    "no HMAC-SHA1 in the system");
    }
    ~Providers() {
        if (aes) BCryptCloseAlgorithmProvider(aes, 0);
        if (hmac) BCryptCloseAlgorithmProvider(hmac, 0);
    }
};

Providers& providers() {
    static Providers p;
    return p;
}

BCRYPT_KEY_HANDLE makeKey(const uint8_t* key) {
    BCRYPT_KEY_HANDLE handle = nullptr;
    checkStatus(BCryptGenerateSymmetricKey(providers().aes, &handle, nullptr, 0, const_cast<PUCHAR>(key),
                                           static_cast<ULONG>(kKeySize), 0),
                "AES key");
    return handle;
}

void encryptEcb(BCRYPT_KEY_HANDLE key, const uint8_t* in, uint8_t* out, size_t length) {
    ULONG n = 0;
    checkStatus(BCryptEncrypt(key, const_cast<PUCHAR>(in), static_cast<ULONG>(length), nullptr, nullptr, 0, out,
                              static_cast<ULONG>(length), &n, 0),
                "encryption");
}

}  // namespace

namespace backend {

// The AES key and the running HMAC of an entry (the providers are the process's).
struct Context {
    BCRYPT_KEY_HANDLE key = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Context* NewContext() {
    providers();
    return new Context;
}

void FreeContext(Context* context) {
    EndKeys(context);
    delete context;
}

void StartKeys(Context* context, const uint8_t* aesKey, const uint8_t* macKey) {
    context->key = makeKey(aesKey);
    checkStatus(BCryptCreateHash(providers().hmac, &context->hash, nullptr, 0, const_cast<PUCHAR>(macKey),
                                 static_cast<ULONG>(kKeySize), 0),
                "HMAC key");
}

void EndKeys(Context* context) {
    if (context->hash) {
        BCryptDestroyHash(context->hash);  // the system wipes the key the hash holds
        context->hash = nullptr;
    }
    if (context->key) {
        BCryptDestroyKey(context->key);
        context->key = nullptr;
    }
}

void EncryptBlocks(Context* context, uint8_t* blocks, size_t length) {
    encryptEcb(context->key, blocks, blocks, length);
}

void EncryptBlocksWithKey(const uint8_t* key, const uint8_t* in, uint8_t* out, size_t length) {
    BCRYPT_KEY_HANDLE handle = makeKey(key);
    try {
        encryptEcb(handle, in, out, length);
    } catch (...) {
        BCryptDestroyKey(handle);
        throw;
    }
    BCryptDestroyKey(handle);
}

void MacUpdate(Context* context, const uint8_t* data, size_t length) {
    checkStatus(BCryptHashData(context->hash, const_cast<PUCHAR>(data), static_cast<ULONG>(length), 0),
                "authentication");
}

void MacFinal(Context* context, uint8_t (&digest)[kSha1Size]) {
    checkStatus(BCryptFinishHash(context->hash, digest, sizeof digest, 0), "authentication");
}

void Cleanse(void* data, size_t length) { SecureZeroMemory(data, length); }

bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, size_t length) {
    uint8_t differ = 0;
    for (size_t i = 0; i < length; ++i) differ = static_cast<uint8_t>(differ | (a[i] ^ b[i]));
    return differ == 0;
}

}  // namespace backend

void Pbkdf2Sha1(std::string_view password, const uint8_t* salt, size_t saltLength, int iterations, uint8_t* out,
                size_t outLength) {
    checkStatus(BCryptDeriveKeyPBKDF2(providers().hmac, reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())),
                                      static_cast<ULONG>(password.size()), const_cast<PUCHAR>(salt),
                                      static_cast<ULONG>(saltLength), static_cast<ULONGLONG>(iterations), out,
                                      static_cast<ULONG>(outLength), 0),
                "key derivation");
}

}  // namespace aescipher
