#include "components/kwkeey.h"

void TKwKeey::SetProgrammID(int32_t id) {
    if (id >= 1 && id <= 49) programmId_ = id;
}

int32_t TKwKeey::GetGeneratedKey() {
    generatedKey_ = MakeKey(Schluessel);
    return generatedKey_;
}

int32_t TKwKeey::MakeKey(const std::string& key) {
    int64_t sum = 0;
    for (const char c : key) sum += static_cast<unsigned char>(c);
    if (key.empty()) return 0;
    const int64_t divisor = key.size() == 1 ? 1 : static_cast<int64_t>(key.size()) - 1;
    return static_cast<int32_t>(sum / divisor);
}

int TKwKeey::StrToAsc(const std::string& text) { return text.empty() ? 0 : static_cast<unsigned char>(text[0]); }

std::string TKwKeey::AscToStr(int code) { return std::string(1, static_cast<char>(code & 0xff)); }

std::string TKwKeey::Encode(const std::string& text) { return shift(text, 1); }

std::string TKwKeey::Decode(const std::string& text) { return shift(text, -1); }

std::string TKwKeey::shift(const std::string& text, int direction) {
    const int64_t key = GetGeneratedKey();
    const int64_t step = programmId_;
    std::string result;
    result.reserve(text.size());
    for (size_t i = 1; i <= text.size(); ++i) {
        // 64-bit sums: the same results as 32 bits for any text below 43 MB, and no overflow beyond.
        const int64_t c = static_cast<unsigned char>(text[i - 1]);
        const int64_t v = c + direction * (key + step * static_cast<int64_t>(i));
        int64_t r = v % 255;  // the sign of v, as in truncating division
        if (r <= 0) r += 255;
        result.push_back(static_cast<char>(r));
    }
    return result;
}
