// An AES entry's extra field and data come from the archive being read: any bytes must parse
// to a block that is there or to nothing, and decrypt and authenticate without harm; decrypting
// what was encrypted gives the bytes back and the code holds.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "zip/aescipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view field(reinterpret_cast<const char*>(data), size);
    if (auto extra = aescipher::ParseExtra(field)) {
        // A block was found: its id and "AE" are in the field.
        if (field.find("AE") == std::string_view::npos || size < aescipher::kExtraSize) std::abort();
    }

    static const uint8_t keys[2 * aescipher::kKeySize] = {1, 2, 3, 4, 5, 6, 7, 8};
    aescipher::TAesCipher cipher;
    cipher.StartWithKeys(keys, keys + aescipher::kKeySize);
    std::vector<uint8_t> buffer(data, data + size);
    // Pieces cut where the input's first byte says, so that batch edges fall anywhere.
    const size_t piece = size == 0 ? 1 : data[0] + 1u;
    for (size_t at = 0; at < size; at += piece) cipher.Encrypt(buffer.data() + at, std::min(piece, size - at));
    uint8_t code[aescipher::kCodeSize];
    cipher.Finish(code);
    cipher.StartWithKeys(keys, keys + aescipher::kKeySize);
    cipher.Decrypt(buffer.data(), buffer.size());
    if (!cipher.Verify(code) || (size && std::memcmp(buffer.data(), data, size) != 0)) std::abort();
    return 0;
}
