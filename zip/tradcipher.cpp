#include "zip/tradcipher.h"

#include "platform/securerandom.h"
#include "zip/ziprecords.h"

void TTraditionalCipher::Init_Keys(std::string_view password) {
    keys_[0] = 0x12345678;
    keys_[1] = 0x23456789;
    keys_[2] = 0x34567890;
    for (char c : password) update_keys(static_cast<uint8_t>(c));
}

void TTraditionalCipher::update_keys(uint8_t c) {
    keys_[0] = UpdCRC(c, keys_[0]);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = UpdCRC(static_cast<uint8_t>(keys_[1] >> 24), keys_[2]);
}

uint8_t TTraditionalCipher::decrypt_byte() const {
    uint32_t t = (keys_[2] & 0xFFFF) | 2;
    return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

uint8_t TTraditionalCipher::zencode(uint8_t c) {
    uint8_t k = decrypt_byte();
    update_keys(c);
    return c ^ k;
}

uint8_t TTraditionalCipher::zdecode(uint8_t c) {
    uint8_t plain = c ^ decrypt_byte();
    update_keys(plain);
    return plain;
}

void TTraditionalCipher::encrypt_buff(uint8_t* buffer, size_t length) {
    for (size_t i = 0; i < length; ++i) buffer[i] = zencode(buffer[i]);
}

void TTraditionalCipher::decrypt_buff(uint8_t* buffer, size_t length) {
    for (size_t i = 0; i < length; ++i) buffer[i] = zdecode(buffer[i]);
}

void TTraditionalCipher::MakeHeader(std::string_view password, uint32_t crc, uint8_t (&head)[HeaderSize]) {
    Init_Keys(password);
    // Ten unpredictable bytes, then the two check bytes a reader tests the password with.
    platform::SecureRandomBytes(head, HeaderSize - 2);
    head[10] = static_cast<uint8_t>(crc >> 16);
    head[11] = static_cast<uint8_t>(crc >> 24);
    encrypt_buff(head, HeaderSize);
}
