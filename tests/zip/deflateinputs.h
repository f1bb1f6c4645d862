// The inputs the Deflate compressors are tested on: short and empty inputs, every byte value, long
// runs, random data, text over several windows, and inputs shaped like logs, samples and records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "testsupport.h"

namespace deflateinputs {

using Bytes = std::vector<uint8_t>;

// Text made of words drawn from a small vocabulary, in lines, as source files and logs look.
inline Bytes text(size_t n, uint32_t seed) {
    static const char* const words[] = {"the", "backup", "folder", "archive", "entry", "of", "and", "to",
                                        "compress", "window", "match", "length", "{", "}", "int", "return",
                                        "static", "const", "size_t", "buffer", "= 0;", "if", "(x)", "// note"};
    Bytes out;
    uint32_t x = seed;
    while (out.size() < n) {
        x = x * 1103515245u + 12345u;
        const char* w = words[(x >> 16) % (sizeof words / sizeof *words)];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back((x >> 8) % 9 == 0 ? '\n' : ' ');
    }
    out.resize(n);
    return out;
}

// Log lines that share long prefixes and differ late: deep chains of near misses.
inline Bytes logLines(size_t n, uint32_t seed) {
    Bytes out;
    uint32_t x = seed;
    char line[128];
    while (out.size() < n) {
        x = x * 1664525u + 1013904223u;
        const int len = std::snprintf(line, sizeof line, "2024-05-%02u 1%u:%02u entry=%05u size=%u path=/srv/data/%c%c/%u.bin\n",
                                      1 + (x >> 27), (x >> 8) % 10, (x >> 12) % 60, (x >> 3) % 4000, (x >> 14) % 100000,
                                      'a' + (x >> 20) % 6, 'a' + (x >> 23) % 6, (x >> 5) % 300);
        out.insert(out.end(), line, line + len);
    }
    out.resize(n);
    return out;
}

// Copies of one block, each with a few bytes changed: long matches broken at random places.
inline Bytes mutatedCopies(size_t n, uint32_t seed) {
    const Bytes block = testsupport::randomBytes(1500, seed);
    Bytes out;
    uint32_t x = seed;
    while (out.size() < n) {
        Bytes copy = block;
        for (int k = 0; k < 4; k++) {
            x = x * 1664525u + 1013904223u;
            copy[(x >> 8) % copy.size()] = static_cast<uint8_t>(x >> 24);
        }
        out.insert(out.end(), copy.begin(), copy.end());
    }
    out.resize(n);
    return out;
}

// A slow wave with a little noise, as sampled measurements look: very long chains of short matches.
inline Bytes samples(size_t n, uint32_t seed) {
    Bytes out(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; i++) {
        x = x * 1664525u + 1013904223u;
        const int wave = static_cast<int>((i / 7) % 64) - 32;
        out[i] = static_cast<uint8_t>(128 + (wave < 0 ? -wave : wave) + static_cast<int>((x >> 29) % 3));
    }
    return out;
}

// Every three-letter string over 16 letters exactly once (a de Bruijn sequence): no match anywhere.
inline Bytes noRepeatedTriples() {
    constexpr int k = 16, n = 3;
    int a[k * n] = {};
    Bytes out;
    auto extend = [&](auto&& self, int t, int p) -> void {
        if (t > n) {
            if (n % p == 0)
                for (int j = 1; j <= p; j++) out.push_back(static_cast<uint8_t>('a' + a[j]));
            return;
        }
        a[t] = a[t - p];
        self(self, t + 1, p);
        for (int j = a[t - p] + 1; j < k; j++) {
            a[t] = j;
            self(self, t + 1, t);
        }
    };
    extend(extend, 1, 1);
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes fromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct NamedInput {
    std::string name;
    Bytes data;
};

inline const std::vector<NamedInput>& roundTripInputs() {
    static const std::vector<NamedInput> inputs = [] {
        Bytes all256(256);
        for (int i = 0; i < 256; i++) all256[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        const Bytes random = testsupport::randomBytes(150000, 7);
        return std::vector<NamedInput>{
            {"empty", {}},
            {"one_byte", fromString("x")},
            {"two_bytes", fromString("xy")},
            {"three_bytes", fromString("abc")},
            {"all_256_values", all256},
            {"all_256_values_repeated", concat({all256, all256, all256, all256})},
            {"long_run_258_byte_matches", Bytes(100000, 'a')},
            {"random_one_block", testsupport::randomBytes(20000, 3)},
            {"random_several_blocks", random},
            {"text", text(30000, 1)},
            {"text_several_windows", text(400000, 2)},
            // Long stretches without matches, so blocks start before a slide and end after it.
            {"mixed_windows", concat({text(50000, 4), testsupport::randomBytes(70000, 5), Bytes(3000, 0),
                                      text(90000, 6), Bytes(random.begin(), random.begin() + 60000)})},
            {"indented_source", [] {
                 Bytes b;
                 for (int i = 0; b.size() < 200000; i++) {
                     const std::string line = std::string(static_cast<size_t>(4 * (1 + (i * 7) % 6)), ' ') + "value_" +
                                              std::to_string(i % 97) + " = compute(" + std::to_string(i % 13) + ");\n";
                     b.insert(b.end(), line.begin(), line.end());
                 }
                 return b;
             }()},
            {"zero_padded_records", [] {
                 Bytes b(250000, 0);
                 const Bytes noise = testsupport::randomBytes(b.size() / 4, 8);
                 for (size_t i = 0; i + 16 <= b.size(); i += 16) {
                     b[i] = noise[i / 4];
                     b[i + 1 + noise[i / 4 + 1] % 8] = noise[i / 4 + 2];
                 }
                 return b;
             }()},
            {"zeros_with_noise", [] {
                 Bytes b(300000, 0);
                 for (size_t i = 0; i < b.size(); i += 997) b[i] = static_cast<uint8_t>(i);
                 return b;
             }()},
        };
    }();
    return inputs;
}

}  // namespace deflateinputs
