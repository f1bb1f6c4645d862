// The AES-256 encryption of ZIP entries (method 99, extra field 0x9901, AE-2): key derivation,
// the counter-mode cipher with its little-endian counter, the authentication code, and the extra field.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace aescipher {

namespace backend {
struct Context;
}

// The method number an AES entry stores in its headers, and its version needed to extract (5.1).
constexpr uint16_t kMethodAes = 99;
constexpr uint16_t kVersionNeeded = 51;
// The extra block: id, its data size, and what it holds.
constexpr uint16_t kExtraId = 0x9901;
constexpr uint16_t kExtraDataSize = 7;
constexpr size_t kExtraSize = 4 + kExtraDataSize;
constexpr uint16_t kVendorVersionAe2 = 2;
constexpr uint8_t kStrength256 = 3;

constexpr size_t kSaltSize = 16;
constexpr size_t kVerifierSize = 2;
constexpr size_t kHeaderSize = kSaltSize + kVerifierSize;  // in front of the data
constexpr size_t kCodeSize = 10;                           // after the data
constexpr size_t kOverhead = kHeaderSize + kCodeSize;
constexpr size_t kKeySize = 32;
constexpr size_t kKeyMaterialSize = 2 * kKeySize + kVerifierSize;  // AES key, HMAC key, verifier
constexpr int kIterations = 1000;

// The data of a 0x9901 block.
struct ExtraData {
    uint16_t vendorVersion = kVendorVersionAe2;
    uint8_t strength = kStrength256;
    uint16_t method = 0;  // the method of the data under the encryption
};

// The whole 0x9901 block (id and size included) of an AE-2, AES-256 entry of that real method.
void MakeExtra(uint16_t method, uint8_t (&block)[kExtraSize]);
// The 0x9901 block of an extra field; nothing when there is none, it is not 7 bytes long or its
// vendor id is not "AE".
std::optional<ExtraData> ParseExtra(std::string_view extraField);

// Overwrites a secret text (a password) in place, then empties it.
void WipeText(std::string& text);

// PBKDF2 with HMAC-SHA1: out filled from the password's bytes as they are and the salt.
void Pbkdf2Sha1(std::string_view password, const uint8_t* salt, size_t saltLength, int iterations, uint8_t* out,
                size_t outLength);

// The cipher of one entry. Encrypts (or decrypts) the data in counter mode with the format's
// counter (a 128-bit little-endian number, 1 for the first block) and runs the encrypted bytes
// through HMAC-SHA1. Key material is wiped when the entry ends and when the object goes.
// A reader takes an entry of method 99 whose extra field ParseExtra accepts (strength 3) as the
// salt and verifier (kHeaderSize bytes, StartDecrypt: false is a wrong password), the encrypted
// data (compressed size less kOverhead bytes, Decrypt), then the code (kCodeSize bytes, Verify:
// false means the data were changed); the data are of the method the extra field names.
class TAesCipher {
public:
    TAesCipher();
    ~TAesCipher();
    TAesCipher(const TAesCipher&) = delete;
    TAesCipher& operator=(const TAesCipher&) = delete;

    // Starts an entry to be written: a fresh salt from the system's secure random source, the
    // keys derived from it, and the salt and verifier that go in front of the data.
    void StartEncrypt(std::string_view password, uint8_t (&header)[kHeaderSize]);
    // Starts an entry with that salt and verifier; false, with nothing started, when the
    // password's verifier differs (a wrong password).
    bool StartDecrypt(std::string_view password, const uint8_t (&header)[kHeaderSize]);
    // Starts with a given salt; the password's verifier out.
    void Start(std::string_view password, const uint8_t* salt, uint8_t (&verifier)[kVerifierSize]);
    // Starts with the derived keys themselves.
    void StartWithKeys(const uint8_t* aesKey, const uint8_t* macKey);
    // As StartEncrypt, with a salt and keys made ahead by a supply.
    void StartEncryptFrom(class TKeySupply& supply, uint8_t (&header)[kHeaderSize]);
    // The block cipher alone: AES-256 of whole 16-byte blocks, in may equal out.
    static void EncryptBlocks(const uint8_t* key, const uint8_t* in, uint8_t* out, size_t blocks);

    // Encrypts in place, then authenticates the result; or authenticates, then decrypts.
    void Encrypt(uint8_t* buffer, size_t length);
    void Decrypt(uint8_t* buffer, size_t length);
    // The code after the data, which ends the entry; and the check of a stored one (in constant time).
    void Finish(uint8_t (&code)[kCodeSize]);
    bool Verify(const uint8_t (&code)[kCodeSize]);

    // Whether an entry is started and not finished.
    bool Active() const { return active_; }
    // Ends an entry without its code (a failed job), wiping its keys.
    void Abandon() { wipe(); }

private:
    void crypt(uint8_t* buffer, size_t length);
    void refill();
    void wipe();

    static constexpr size_t kBlock = 16;
    static constexpr size_t kStreamBlocks = 256;  // key stream made this many blocks at a time

    backend::Context* context_ = nullptr;  // the crypto library's AES key and HMAC of the entry
    bool active_ = false;
    uint8_t counter_[kBlock] = {};
    uint8_t blocks_[kStreamBlocks * kBlock] = {};  // counter blocks, then their key stream
    size_t used_ = sizeof blocks_;                 // key stream bytes used so far
};

// Derives the keys of the entries to come on threads of their own while the entries before them
// are packed: each entry needs a fresh salt and 1000 rounds of PBKDF2, about a millisecond, which
// with many small files would otherwise add much to the time of packing. Fresh salts from the
// system's secure random source; every copy of the password and the keys is wiped.
class TKeySupply {
public:
    // Up to `entries` salts and keys are made ahead, at most kAhead at a time, on `threads`
    // threads (none: each is made when taken).
    TKeySupply(std::string_view password, size_t entries, unsigned threads);
    ~TKeySupply();
    TKeySupply(const TKeySupply&) = delete;
    TKeySupply& operator=(const TKeySupply&) = delete;

    // A fresh salt and the key material derived from it; waits for a thread when none is ready,
    // makes them itself when more are taken than were made ahead. Raises the error of a thread.
    void Take(uint8_t (&salt)[kSaltSize], uint8_t (&keyMaterial)[kKeyMaterialSize]);

    // The threads a writer gives the supply on this machine: all but one processor, at most 3.
    static unsigned DefaultThreads();

    static constexpr size_t kAhead = 16;

private:
    struct Slot {
        enum State { Empty, Working, Ready } state = Empty;
        uint8_t salt[kSaltSize];
        uint8_t keys[kKeyMaterialSize];
    };
    void work();
    void make(uint8_t* salt, uint8_t* keys) const;

    std::string password_;
    size_t left_;  // salts and keys still to be made ahead
    std::mutex mutex_;
    std::condition_variable changed_;
    Slot slots_[kAhead];
    bool stop_ = false;
    std::exception_ptr error_;
    std::vector<std::thread> threads_;
};

}  // namespace aescipher
