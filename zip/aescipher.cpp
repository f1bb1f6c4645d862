#include "zip/aescipher.h"

#include <algorithm>
#include <cstring>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <stdexcept>

#include "platform/assert.h"
#include "platform/securerandom.h"

namespace aescipher {

namespace {

void check(int ok, const char* what) {
    if (ok != 1) throw std::runtime_error(std::string("The AES cipher failed: ") + what);
}

// The key material of one entry: AES key, HMAC key, password verifier; wiped on every way out.
struct KeyMaterial {
    uint8_t bytes[kKeyMaterialSize];
    ~KeyMaterial() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

}  // namespace

void MakeExtra(uint16_t method, uint8_t (&block)[kExtraSize]) {
    const uint8_t b[kExtraSize] = {static_cast<uint8_t>(kExtraId & 0xFF),
                                   static_cast<uint8_t>(kExtraId >> 8),
                                   static_cast<uint8_t>(kExtraDataSize),
                                   0,
                                   static_cast<uint8_t>(kVendorVersionAe2),
                                   0,
                                   'A',
                                   'E',
                                   kStrength256,
                                   static_cast<uint8_t>(method & 0xFF),
                                   static_cast<uint8_t>(method >> 8)};
    std::memcpy(block, b, sizeof block);
}

std::optional<ExtraData> ParseExtra(std::string_view extraField) {
    // Extra blocks: a 16-bit id, a 16-bit size, then that many bytes.
    for (size_t at = 0; at + 4 <= extraField.size();) {
        auto u16 = [&](size_t i) {
            return static_cast<uint16_t>(static_cast<uint8_t>(extraField[i]) |
                                         static_cast<uint8_t>(extraField[i + 1]) << 8);
        };
        const uint16_t id = u16(at), size = u16(at + 2);
        if (at + 4 + size > extraField.size()) return std::nullopt;
        if (id == kExtraId) {
            if (size != kExtraDataSize || extraField[at + 6] != 'A' || extraField[at + 7] != 'E') return std::nullopt;
            ExtraData data;
            data.vendorVersion = u16(at + 4);
            data.strength = static_cast<uint8_t>(extraField[at + 8]);
            data.method = u16(at + 9);
            return data;
        }
        at += 4 + size;
    }
    return std::nullopt;
}

void WipeText(std::string& text) {
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

void Pbkdf2Sha1(std::string_view password, const uint8_t* salt, size_t saltLength, int iterations, uint8_t* out,
                size_t outLength) {
    check(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(saltLength),
                            iterations, EVP_sha1(), static_cast<int>(outLength), out),
          "key derivation");
}

TAesCipher::TAesCipher() {
    cipher_ = EVP_CIPHER_CTX_new();
    hmac_ = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!cipher_ || !hmac_) {
        EVP_CIPHER_CTX_free(cipher_);
        EVP_MAC_free(hmac_);
        throw std::runtime_error("The AES cipher failed: no AES or HMAC in the crypto library");
    }
}

TAesCipher::~TAesCipher() {
    wipe();
    EVP_CIPHER_CTX_free(cipher_);
    EVP_MAC_free(hmac_);
}

void TAesCipher::wipe() {
    EVP_MAC_CTX_free(mac_);
    mac_ = nullptr;
    EVP_CIPHER_CTX_reset(cipher_);
    OPENSSL_cleanse(blocks_, sizeof blocks_);
    OPENSSL_cleanse(counter_, sizeof counter_);
    used_ = sizeof blocks_;
    active_ = false;
}

void TAesCipher::EncryptBlocks(const uint8_t* key, const uint8_t* in, uint8_t* out, size_t blocks) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx) throw std::runtime_error("The AES cipher failed: out of memory");
    int n = 0;
    const bool ok = EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key, nullptr) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_EncryptUpdate(ctx, out, &n, in, static_cast<int>(blocks * kBlock)) == 1;
    EVP_CIPHER_CTX_free(ctx);
    check(ok ? 1 : 0, "block encryption");
}

void TAesCipher::StartWithKeys(const uint8_t* aesKey, const uint8_t* macKey) {
    wipe();
    check(EVP_EncryptInit_ex(cipher_, EVP_aes_256_ecb(), nullptr, aesKey, nullptr), "AES key");
    check(EVP_CIPHER_CTX_set_padding(cipher_, 0), "AES key");
    mac_ = EVP_MAC_CTX_new(hmac_);
    if (!mac_) throw std::runtime_error("The AES cipher failed: out of memory");
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    check(EVP_MAC_init(mac_, macKey, kKeySize, params), "HMAC key");
    active_ = true;
}

void TAesCipher::Start(std::string_view password, const uint8_t* salt, uint8_t (&verifier)[kVerifierSize]) {
    KeyMaterial keys;
    Pbkdf2Sha1(password, salt, kSaltSize, kIterations, keys.bytes, sizeof keys.bytes);
    StartWithKeys(keys.bytes, keys.bytes + kKeySize);
    std::memcpy(verifier, keys.bytes + 2 * kKeySize, kVerifierSize);
}

void TAesCipher::StartEncryptFrom(TKeySupply& supply, uint8_t (&header)[kHeaderSize]) {
    KeyMaterial keys;
    uint8_t salt[kSaltSize];
    supply.Take(salt, keys.bytes);
    StartWithKeys(keys.bytes, keys.bytes + kKeySize);
    std::memcpy(header, salt, kSaltSize);
    std::memcpy(header + kSaltSize, keys.bytes + 2 * kKeySize, kVerifierSize);
}

void TAesCipher::StartEncrypt(std::string_view password, uint8_t (&header)[kHeaderSize]) {
    platform::SecureRandomBytes(header, kSaltSize);
    uint8_t verifier[kVerifierSize];
    Start(password, header, verifier);
    std::memcpy(header + kSaltSize, verifier, kVerifierSize);
}

bool TAesCipher::StartDecrypt(std::string_view password, const uint8_t (&header)[kHeaderSize]) {
    uint8_t verifier[kVerifierSize];
    Start(password, header, verifier);
    if (CRYPTO_memcmp(verifier, header + kSaltSize, kVerifierSize) == 0) return true;
    wipe();
    return false;
}

void TAesCipher::refill() {
    for (size_t b = 0; b < kStreamBlocks; ++b) {
        // The format's counter: little-endian over all 16 bytes, 1 for the first block.
        for (size_t i = 0; i < kBlock && ++counter_[i] == 0; ++i) {
        }
        std::memcpy(blocks_ + b * kBlock, counter_, kBlock);
    }
    int n = 0;
    check(EVP_EncryptUpdate(cipher_, blocks_, &n, blocks_, static_cast<int>(sizeof blocks_)), "encryption");
    used_ = 0;
}

void TAesCipher::crypt(uint8_t* buffer, size_t length) {
    while (length > 0) {
        if (used_ == sizeof blocks_) refill();
        const size_t step = std::min(length, sizeof blocks_ - used_);
        const uint8_t* stream = blocks_ + used_;
        for (size_t i = 0; i < step; ++i) buffer[i] ^= stream[i];
        buffer += step;
        length -= step;
        used_ += step;
    }
}

void TAesCipher::Encrypt(uint8_t* buffer, size_t length) {
    FOLVIO_ASSERT(active_);
    crypt(buffer, length);
    check(EVP_MAC_update(mac_, buffer, length), "authentication");
}

void TAesCipher::Decrypt(uint8_t* buffer, size_t length) {
    FOLVIO_ASSERT(active_);
    check(EVP_MAC_update(mac_, buffer, length), "authentication");
    crypt(buffer, length);
}

void TAesCipher::Finish(uint8_t (&code)[kCodeSize]) {
    uint8_t full[EVP_MAX_MD_SIZE];
    size_t n = 0;
    check(EVP_MAC_final(mac_, full, &n, sizeof full), "authentication");
    std::memcpy(code, full, kCodeSize);
    OPENSSL_cleanse(full, sizeof full);
    wipe();
}

bool TAesCipher::Verify(const uint8_t (&code)[kCodeSize]) {
    uint8_t computed[kCodeSize];
    Finish(computed);
    return CRYPTO_memcmp(computed, code, kCodeSize) == 0;
}

TKeySupply::TKeySupply(std::string_view password, size_t entries, unsigned threads)
    : password_(password), left_(threads ? entries : 0) {
    try {
        for (unsigned i = 0; i < threads && i < entries; ++i) threads_.emplace_back([this] { work(); });
    } catch (...) {
        // Fewer threads than asked for: those there are do the work.
        if (threads_.empty()) left_ = 0;
    }
}

TKeySupply::~TKeySupply() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
    for (Slot& s : slots_) OPENSSL_cleanse(&s, sizeof s);
    WipeText(password_);
}

unsigned TKeySupply::DefaultThreads() {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors > 1 ? std::min(processors - 1, 3u) : 0;
}

void TKeySupply::make(uint8_t* salt, uint8_t* keys) const {
    platform::SecureRandomBytes(salt, kSaltSize);
    Pbkdf2Sha1(password_, salt, kSaltSize, kIterations, keys, kKeyMaterialSize);
}

void TKeySupply::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Slot* slot = nullptr;
        changed_.wait(lock, [&] {
            if (stop_ || left_ == 0 || error_) return true;
            for (Slot& s : slots_)
                if (s.state == Slot::Empty) slot = &s;
            return slot != nullptr;
        });
        if (!slot) return;
        slot->state = Slot::Working;
        --left_;
        lock.unlock();
        std::exception_ptr error;
        try {
            make(slot->salt, slot->keys);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        slot->state = error ? Slot::Empty : Slot::Ready;
        if (error && !error_) error_ = error;
        changed_.notify_all();
    }
}

void TKeySupply::Take(uint8_t (&salt)[kSaltSize], uint8_t (&keyMaterial)[kKeyMaterialSize]) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot* ready = nullptr;
    changed_.wait(lock, [&] {
        bool working = false;
        for (Slot& s : slots_) {
            if (s.state == Slot::Ready) ready = &s;
            working |= s.state == Slot::Working;
        }
        return ready || error_ || (left_ == 0 && !working);
    });
    if (ready) {
        std::memcpy(salt, ready->salt, kSaltSize);
        std::memcpy(keyMaterial, ready->keys, kKeyMaterialSize);
        OPENSSL_cleanse(ready, sizeof *ready);
        ready->state = Slot::Empty;
        lock.unlock();
        changed_.notify_all();
        return;
    }
    if (error_) std::rethrow_exception(error_);
    lock.unlock();
    make(salt, keyMaterial);  // none made ahead any more: this one now
}

}  // namespace aescipher
