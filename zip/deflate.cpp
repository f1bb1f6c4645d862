// Deflate compressor: LZ77 over a sliding 64 KiB window with hash chains, greedy or one-step lazy
// parsing by level, and per block the smallest of a stored block, the fixed codes and dynamic
// Huffman codes (length-limited by the overflow repair of the bit-length counts).
// Optimisations that keep every byte: word-at-a-time candidate comparison after a two-byte check
// at the end of the best length; one chain link per window position (no masking in the walk); a
// four-byte index beside the chains that skips candidates sharing only three bytes once the best
// length is four, with chain numbers standing in for the budget; a 64-bit bit accumulator; no
// allocation, no per-entry clearing beyond the chain heads and the written part of the window.
#include "zip/deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "platform/assert.h"
#include "zip/ziprecords.h"

// Debug and fuzzing builds run the plain match search beside the fast one and compare.
#if !defined(FOLVIO_DEFLATE_CHECK) && !defined(NDEBUG)
#define FOLVIO_DEFLATE_CHECK 1
#endif
#if FOLVIO_DEFLATE_CHECK
#include <cstdio>
#include <cstdlib>
#endif

namespace {

constexpr unsigned kWSize = 32768;
constexpr unsigned kHashMask = 0x7FFF;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr unsigned kMaxDist = kWSize - kMinLookahead;          // 32506
constexpr unsigned kSlideAt = kWSize + kMaxDist;               // 65274
constexpr unsigned kTooFar = 4096;
constexpr unsigned kFirstRead = 32768;
constexpr uint32_t kWipeLength = 2 * kWSize - 1;
constexpr unsigned kRankCheckEvery = 16;   // passed candidates between looks at the budget
constexpr unsigned kIndex4MinChain = 128;  // shorter chains do not repay keeping the four-byte index
constexpr unsigned kLitBufSize = 32768;
constexpr unsigned kEndInput = 65535;  // the 16-bit form of -1 that file_read may return
constexpr int kEndBlock = 256;
constexpr int kLiterals = 256;
constexpr int kMaxBits = 15;
constexpr int kMaxBLBits = 7;
constexpr int kRep3_6 = 16;
constexpr int kRepz3_10 = 17;
constexpr int kRepz11_138 = 18;

// One row of the level table; the parsing is greedy up to level 3 and lazy above.
struct LevelParams {
    uint16_t good_length;  // reduce-search length: chain limit / 4 from this length in hand
    uint16_t max_lazy;     // lazy: no search after a match this long; greedy: longest match inserted
    uint16_t nice_length;  // stop length
    uint16_t max_chain;    // chain entries examined at most
    bool lazy;
    uint16_t flag_bits;  // or-ed into the entry's general-purpose bit flag
};

constexpr std::array<LevelParams, 10> kLevelTable = {{
    {0, 0, 0, 0, false, 0},
    {4, 4, 8, 4, false, kFlagDeflateFast},
    {4, 5, 16, 8, false, kFlagDeflateFast},
    {4, 6, 32, 32, false, 0},
    {4, 4, 16, 16, true, 0},
    {8, 16, 32, 32, true, 0},
    {8, 16, 128, 128, true, 0},
    {8, 32, 128, 256, true, 0},
    {32, 128, 258, 1024, true, kFlagDeflateMaximum},
    {32, 258, 258, 4096, true, kFlagDeflateMaximum},
}};

}  // namespace

uint16_t DeflateFlagBits(int level) { return kLevelTable[static_cast<size_t>(std::clamp(level, 1, 9))].flag_bits; }

namespace {

constexpr uint8_t kExtraLBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kExtraDBits[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kExtraBLBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint8_t kBLOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Unaligned little-endian loads; the byte order only has to be the same on both sides of a compare,
// and the lowest differing byte must be the first in memory for the length count.
inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Common length of two strings whose first three bytes agree (byte 2 by the hash, so it is not
// compared), counted a word at a time and capped at the longest match.
inline unsigned match_length(const uint8_t* scan, const uint8_t* match) {
    unsigned len = 3;
    for (;;) {
        const uint64_t diff = load64(scan + len) ^ load64(match + len);
        if (diff != 0) return std::min(len + (static_cast<unsigned>(__builtin_ctzll(diff)) >> 3), kMaxMatch);
        len += 8;
        if (len >= kMaxMatch) return kMaxMatch;
    }
}

static_assert(std::endian::native == std::endian::little, "the word compare counts equal bytes from the low end");

constexpr unsigned bi_reverse(unsigned code, int len) {
    unsigned res = 0;
    do {
        res |= code & 1;
        code >>= 1;
        res <<= 1;
    } while (--len > 0);
    return res >> 1;
}

}  // namespace

// ---- bit output ----

void TDeflater::BitWriter::spill() {
    if (fill + 4 > kOutBufSize) hand_over();
    const uint32_t word = static_cast<uint32_t>(acc);
    buf[fill] = static_cast<uint8_t>(word);
    buf[fill + 1] = static_cast<uint8_t>(word >> 8);
    buf[fill + 2] = static_cast<uint8_t>(word >> 16);
    buf[fill + 3] = static_cast<uint8_t>(word >> 24);
    fill += 4;
    acc >>= 32;
    count -= 32;
}

void TDeflater::BitWriter::hand_over() {
    if (fill == 0) return;
    const unsigned n = fill;
    fill = 0;
    written += n;
    host->zfwrite(buf, 1, n);
}

void TDeflater::BitWriter::windup() {
    while (count > 0) {
        if (fill == kOutBufSize) hand_over();
        buf[fill++] = static_cast<uint8_t>(acc);
        acc >>= 8;
        count = count > 8 ? count - 8 : 0;
    }
    acc = 0;
    hand_over();
}

// ---- fixed tables ----

namespace {

// The fixed literal/length and distance codes and the maps from lengths and distances to their codes.
struct FixedTables {
    TDeflater::ct_data ltree[288] = {};
    TDeflater::ct_data dtree[30] = {};
    uint8_t length_code[256] = {};
    uint8_t dist_code[512] = {};
    uint16_t base_length[29] = {};
    uint16_t base_dist[30] = {};
};

constexpr FixedTables makeFixedTables() {
    FixedTables t;
    unsigned length = 0;
    int code = 0;
    for (; code < 28; code++) {
        t.base_length[code] = static_cast<uint16_t>(length);
        for (unsigned n = 0; n < (1u << kExtraLBits[code]); n++) t.length_code[length++] = static_cast<uint8_t>(code);
    }
    // Length 258 has its own code (285) rather than code 284 with all extra bits set.
    t.base_length[28] = 255;
    t.length_code[255] = 28;

    unsigned dist = 0;
    for (code = 0; code < 16; code++) {
        t.base_dist[code] = static_cast<uint16_t>(dist);
        for (unsigned n = 0; n < (1u << kExtraDBits[code]); n++) t.dist_code[dist++] = static_cast<uint8_t>(code);
    }
    dist >>= 7;  // from here on the map is indexed by distance / 128
    for (; code < 30; code++) {
        t.base_dist[code] = static_cast<uint16_t>(dist << 7);
        for (unsigned n = 0; n < (1u << (kExtraDBits[code] - 7)); n++) t.dist_code[256 + dist++] = static_cast<uint8_t>(code);
    }

    // Code lengths 8, 9, 7, 8 by literal/length range, then the canonical codes for them.
    uint16_t bl_count[kMaxBits + 1] = {};
    int n = 0;
    while (n <= 143) t.ltree[n++].dl = 8, bl_count[8]++;
    while (n <= 255) t.ltree[n++].dl = 9, bl_count[9]++;
    while (n <= 279) t.ltree[n++].dl = 7, bl_count[7]++;
    while (n <= 287) t.ltree[n++].dl = 8, bl_count[8]++;
    uint16_t next_code[kMaxBits + 1] = {};
    unsigned next = 0;
    for (int bits = 1; bits <= kMaxBits; bits++) {
        next = (next + bl_count[bits - 1]) << 1;
        next_code[bits] = static_cast<uint16_t>(next);
    }
    for (n = 0; n <= 287; n++) {
        const int len = t.ltree[n].dl;
        t.ltree[n].fc = static_cast<uint16_t>(bi_reverse(next_code[len]++, len));
    }
    for (n = 0; n < 30; n++) {
        t.dtree[n].dl = 5;
        t.dtree[n].fc = static_cast<uint16_t>(bi_reverse(static_cast<unsigned>(n), 5));
    }
    return t;
}

constexpr FixedTables kFixed = makeFixedTables();

// Spot checks against the fixed codes as Deflate defines them (bit-reversed for LSB-first output).
static_assert(kFixed.ltree[0].dl == 8 && kFixed.ltree[0].fc == bi_reverse(0x30, 8));
static_assert(kFixed.ltree[144].dl == 9 && kFixed.ltree[144].fc == bi_reverse(0x190, 9));
static_assert(kFixed.ltree[256].dl == 7 && kFixed.ltree[256].fc == 0);
static_assert(kFixed.ltree[280].dl == 8 && kFixed.ltree[280].fc == bi_reverse(0xC0, 8));
static_assert(kFixed.length_code[255] == 28 && kFixed.dist_code[256 + (32767 >> 7)] == 29);

// The distance code of a match distance less one.
inline unsigned d_code(unsigned dist) { return dist < 256 ? kFixed.dist_code[dist] : kFixed.dist_code[256 + (dist >> 7)]; }

}  // namespace

TDeflater::TDeflater() {
    std::memset(bl_count_, 0, sizeof bl_count_);
}

// ---- the call ----

int64_t TDeflater::Deflate(TDeflateBuffers& work, int level, TDeflateHost& host, TDeflateEntryFields entry) {
    level = std::clamp(level, 1, 9);

    l_desc_ = {dyn_ltree_, kFixed.ltree, kExtraLBits, kLiterals + 1, kLCodes, kMaxBits, 0};
    d_desc_ = {dyn_dtree_, kFixed.dtree, kExtraDBits, 0, kDCodes, kMaxBits, 0};
    bl_desc_ = {bl_tree_, nullptr, kExtraBLBits, 0, kBLCodes, kMaxBLBits, 0};

    out_.acc = 0;
    out_.count = 0;
    out_.fill = 0;
    out_.written = 0;
    out_.host = &host;
    host_ = &host;

    work_ = &work;
    window_ = work.window;
    prev_ = work.prev;
    head_ = work.head;
    head4_ = work.head4;
    prev4_ = work.prev4;
    chain_seq_ = work.chain_seq;
    l_buf_ = work.l_buf;
    d_buf_ = work.d_buf;
    flag_buf_ = work.flag_buf;
    internal_attributes_ = &entry.internal_attributes;
    compression_method_ = &entry.compression_method;

    compressed_len_ = 0;
    init_block();

    std::memset(head_, 0, sizeof work.head);
    const LevelParams& params = kLevelTable[static_cast<size_t>(level)];
    level_ = level;
    good_match_ = params.good_length;
    max_lazy_ = params.max_lazy;
    nice_match_ = params.nice_length;
    max_chain_ = params.max_chain;
    index4_ = params.max_chain >= kIndex4MinChain;
    if (index4_) std::memset(head4_, 0, sizeof work.head4);
    entry.general_purpose_flag |= params.flag_bits;

    strstart_ = 0;
    block_start_ = 0;
    match_start_ = 0;
    eofile_ = false;
    const unsigned first = read_input(window_, kFirstRead);
    if (first == 0 || first == kEndInput) {
        eofile_ = true;
        lookahead_ = 0;
    } else {
        lookahead_ = first;
        if (lookahead_ < kMinLookahead) fill_window();
    }
    ins_h_ = 0;
    ins_h_ = ((ins_h_ << 5) ^ window_[0]) & kHashMask;
    ins_h_ = ((ins_h_ << 5) ^ window_[1]) & kHashMask;

    const int64_t result = params.lazy ? deflate_lazy() : deflate_greedy();
    FOLVIO_ASSERT(static_cast<uint64_t>(result) == out_.written);
    return result;
}

uint16_t TDeflater::read_input(uint8_t* dst, unsigned count) {
    FOLVIO_ASSERT(count > 0 && count < kEndInput);
    // Counted before the read: the host may fill the buffer and then fail.
    const uint32_t end = static_cast<uint32_t>(dst - window_) + count;
    work_->window_dirty = std::max(work_->window_dirty, std::min(end, kWipeLength));
    const uint16_t n = host_->file_read(dst, static_cast<uint16_t>(count));
    FOLVIO_ASSERT(n == kEndInput || n <= count);
    // A count above the request would carry the lookahead past the window.
    return n == kEndInput ? n : static_cast<uint16_t>(std::min<unsigned>(n, count));
}

namespace {
// Moves 32768 chain entries from src to dst with positions 32768 lower; those that slid out end chains.
void rebase_positions(uint16_t* dst, const uint16_t* src) {
    for (unsigned n = 0; n < kWSize; n++) {
        const unsigned m = src[n];
        dst[n] = static_cast<uint16_t>(m >= kWSize ? m - kWSize : 0);
    }
}
}  // namespace

void TDeflater::slide_window() {
    std::memcpy(window_, window_ + kWSize, kWSize);
    match_start_ = (match_start_ - kWSize) & 0xFFFF;
    strstart_ -= kWSize;
    block_start_ -= static_cast<int32_t>(kWSize);
    rebase_positions(head_, head_);
    rebase_positions(prev_, prev_ + kWSize);
    if (index4_) {
        rebase_positions(head4_, head4_);
        rebase_positions(prev4_, prev4_ + kWSize);
        std::memcpy(chain_seq_, chain_seq_ + kWSize, kWSize * sizeof *chain_seq_);
    }
}

// Reads until the lookahead holds a longest match plus a string, or the input ends. The
// lookahead is counted in 32 bits: a short first read followed by a full one fills all 65536
// bytes at position 0, which a 16-bit count would wrap to 0 and so drop the whole input.
void TDeflater::fill_window() {
    while (lookahead_ < kMinLookahead && !eofile_) {
        FOLVIO_ASSERT(strstart_ + lookahead_ <= 2 * kWSize);
        unsigned more = (2 * kWSize - lookahead_ - strstart_) & 0xFFFF;
        if (more == kEndInput) {
            more = kEndInput - 1;
        } else if (strstart_ >= kSlideAt) {
            slide_window();
            more += kWSize;
        }
        const unsigned n = read_input(window_ + strstart_ + lookahead_, more);
        if (n == 0 || n == kEndInput) eofile_ = true;
        else lookahead_ += n;
    }
}

// Walks the hash chain from cur_match for a match longer than prev_length. A candidate is looked
// at only when its two bytes at the end of the best length and its first two bytes agree; byte 2
// is equal by the hash, so the common length is counted a word at a time from byte 3, up to 258.
namespace {
// The best length of a search so far, and the two bytes at its end that a longer candidate must
// share with the current string.
struct BestMatch {
    const uint8_t* window;
    const uint8_t* scan;
    unsigned len = 0;
    uint16_t end_bytes = 0;
    const uint8_t* end = nullptr;  // + candidate = the candidate's bytes at the end of the best length

    BestMatch(const uint8_t* w, const uint8_t* s, unsigned l) : window(w), scan(s) { set(l); }
    void set(unsigned l) {
        len = l;
        end_bytes = load16(scan + l - 1);
        end = window + l - 1;
    }
    bool may_beat(unsigned candidate) const { return load16(end + candidate) == end_bytes; }
};
}  // namespace

unsigned TDeflater::longest_match(unsigned cur_match, unsigned prev_length) {
    const uint8_t* const window = window_;
    const uint16_t* const prev = prev_;
    const uint8_t* const scan = window + strstart_;
    const unsigned limit = strstart_ > kMaxDist ? strstart_ - kMaxDist : 0;
    best_len_at_start_ = prev_length;
    const unsigned max_chain = prev_length >= good_match_ ? max_chain_ >> 2 : max_chain_;
    // With four bytes in hand already, start on the index right after the current string itself.
    if (index4_ && prev_length >= 4 && lookahead_ >= kMinMatch)
        return longest_match4(strstart_, prev_length, chain_seq_[cur_match]);
    unsigned chain_length = max_chain;
    const uint16_t scan_start = load16(scan);
    const uint32_t scan4 = load32(scan);
    BestMatch best(window, scan, prev_length);
    for (;;) {
        FOLVIO_ASSERT(cur_match < strstart_ || lookahead_ < kMinMatch);
        if (best.may_beat(cur_match) && load16(window + cur_match) == scan_start) {
            const unsigned len = match_length(scan, window + cur_match);
            if (len > best.len) {
                match_start_ = cur_match;
                best.set(len);
                if (len >= nice_match_) break;
            }
        }
        if (best.len >= 4 && index4_ && load32(window + cur_match) == scan4) {
            const unsigned rank = max_chain - chain_length;
            return longest_match4(cur_match, best.len, static_cast<uint16_t>(chain_seq_[cur_match] + rank));
        }
        cur_match = prev[cur_match];
        if (cur_match <= limit || --chain_length == 0) break;
    }
    return best.len;
}

// Goes on with the search along the four-byte index after cur_match, a position whose first four
// bytes are the current string's (a candidate already looked at, or the current string itself).
// Every candidate that can still do better shares four bytes, so only these are looked at. A
// candidate's rank in the chain walk is seq0 (the chain number of the walk's first candidate) less
// its own; the walk ends where the chain walk's budget or floor would end it.
unsigned TDeflater::longest_match4(unsigned cur_match, unsigned best_len, uint16_t seq0) {
    const uint8_t* const window = window_;
    const uint8_t* const scan = window + strstart_;
    const unsigned limit = strstart_ > kMaxDist ? strstart_ - kMaxDist : 0;
    const unsigned max_chain = best_len_at_start_ >= good_match_ ? max_chain_ >> 2 : max_chain_;
    const uint32_t scan3 = load32(scan) & 0xFFFFFF;
    BestMatch best(window, scan, best_len);
    unsigned countdown = kRankCheckEvery;
    for (;;) {
        cur_match = prev4_[cur_match];
        if (cur_match <= limit) break;
        // A string with other first bytes but the same four-byte hash is not on the chain the
        // budget counts, so its number means nothing; only the others end the walk.
        const uint8_t* const match = window + cur_match;
        if (!best.may_beat(cur_match)) {
            // Rejected; now and then see whether the budget is spent.
            if (--countdown == 0) {
                countdown = kRankCheckEvery;
                if ((load32(match) & 0xFFFFFF) == scan3 && static_cast<uint16_t>(seq0 - chain_seq_[cur_match]) >= max_chain)
                    break;
            }
            continue;
        }
        if ((load32(match) & 0xFFFFFF) != scan3) continue;
        if (static_cast<uint16_t>(seq0 - chain_seq_[cur_match]) >= max_chain) break;
        const unsigned len = match_length(scan, match);
        if (len > best.len) {
            match_start_ = cur_match;
            best.set(len);
            if (len >= nice_match_) break;
        }
    }
    return best.len;
}

// The same search candidate by candidate and two bytes at a time, without shortcuts. Builds that
// check themselves (debug, fuzzing) run it beside every search and stop on any difference.
unsigned TDeflater::longest_match_plain(unsigned cur_match, unsigned prev_length, unsigned& match_start) const {
    const uint8_t* const scan = window_ + strstart_;
    const unsigned limit = strstart_ > kMaxDist ? strstart_ - kMaxDist : 0;
    unsigned chain_length = prev_length >= good_match_ ? max_chain_ >> 2 : max_chain_;
    unsigned best_len = prev_length;
    do {
        const uint8_t* const match = window_ + cur_match;
        if (match[best_len] != scan[best_len] || match[best_len - 1] != scan[best_len - 1] || match[0] != scan[0] ||
            match[1] != scan[1])
            continue;
        unsigned off = 3;  // pairs from byte 3 on, the limit checked after every fourth pair
        bool mismatch = false;
        while (!mismatch) {
            for (int k = 0; k < 4 && !mismatch; k++) {
                if (scan[off] != match[off] || scan[off + 1] != match[off + 1]) mismatch = true;
                else off += 2;
            }
            if (off - 2 >= kMaxMatch - 1) break;
        }
        if (mismatch && scan[off] == match[off]) off++;
        const unsigned len = std::min(off, kMaxMatch);
        if (len > best_len) {
            match_start = cur_match;
            best_len = len;
            if (len >= nice_match_) break;
        }
    } while ((cur_match = prev_[cur_match]) > limit && --chain_length != 0);
    return best_len;
}

unsigned TDeflater::find_match(unsigned cur_match, unsigned prev_length) {
#if FOLVIO_DEFLATE_CHECK
    unsigned plain_start = match_start_;
    const unsigned plain = longest_match_plain(cur_match, prev_length, plain_start);
    const unsigned len = longest_match(cur_match, prev_length);
    if (len != plain || match_start_ != plain_start) {
        std::fprintf(stderr, "deflate: search at %u found %u at %u, candidate by candidate %u at %u\n", strstart_, len,
                     match_start_, plain, plain_start);
        std::abort();
    }
    return len;
#else
    return longest_match(cur_match, prev_length);
#endif
}

// Greedy parsing (levels 1 to 3): take every match of 3 bytes or more as found.
int64_t TDeflater::deflate_greedy() {
    unsigned hash_head = 0;
    unsigned match_length = 0;
    while (lookahead_ != 0) {
        if (lookahead_ >= kMinMatch) insert_string(strstart_, hash_head);
        if (hash_head != 0 && strstart_ - hash_head <= kMaxDist) {
            match_length = std::min(find_match(hash_head, kMinMatch - 1), lookahead_);
        }
        bool flush;
        if (match_length >= kMinMatch) {
            flush = ct_tally(strstart_ - match_start_, match_length - kMinMatch);
            lookahead_ -= match_length;
            if (match_length <= max_lazy_) {
                while (--match_length != 0) {
                    strstart_++;
                    insert_string(strstart_, hash_head);
                }
                strstart_++;
            } else {
                strstart_ += match_length;
                match_length = 0;
                ins_h_ = ((static_cast<unsigned>(window_[strstart_]) << 5) ^ window_[strstart_ + 1]) & kHashMask;
            }
        } else {
            flush = ct_tally(0, window_[strstart_]);
            lookahead_--;
            strstart_++;
        }
        if (flush) {
            flush_block(false);
            block_start_ = static_cast<int32_t>(strstart_);
        }
        if (lookahead_ < kMinLookahead) fill_window();
    }
    return flush_block(true);
}

// Lazy parsing (levels 4 to 9): keep a match only when the next position does not find a longer one.
int64_t TDeflater::deflate_lazy() {
    unsigned hash_head = 0;
    unsigned match_length = kMinMatch - 1;
    bool match_available = false;
    while (lookahead_ != 0) {
        if (lookahead_ >= kMinMatch) insert_string(strstart_, hash_head);
        unsigned prev_length = match_length;
        const unsigned prev_match = match_start_;
        match_length = kMinMatch - 1;
        if (hash_head != 0 && prev_length < max_lazy_ && strstart_ - hash_head <= kMaxDist) {
            match_length = std::min(find_match(hash_head, prev_length), lookahead_);
            // A 3-byte match far back costs more than its literals.
            if (match_length == kMinMatch && strstart_ - match_start_ > kTooFar) match_length = kMinMatch - 1;
        }
        if (prev_length >= kMinMatch && match_length <= prev_length) {
            const bool flush = ct_tally(strstart_ - 1 - prev_match, prev_length - kMinMatch);
            lookahead_ -= prev_length - 1;
            prev_length -= 2;
            do {
                strstart_++;
                insert_string(strstart_, hash_head);
            } while (--prev_length != 0);
            match_available = false;
            match_length = kMinMatch - 1;
            strstart_++;
            if (flush) {
                flush_block(false);
                block_start_ = static_cast<int32_t>(strstart_);
            }
        } else if (match_available) {
            if (ct_tally(0, window_[strstart_ - 1])) {
                flush_block(false);
                block_start_ = static_cast<int32_t>(strstart_);
            }
            strstart_++;
            lookahead_--;
        } else {
            match_available = true;
            strstart_++;
            lookahead_--;
        }
        if (lookahead_ < kMinLookahead) fill_window();
    }
    if (match_available) ct_tally(0, window_[strstart_ - 1]);
    return flush_block(true);
}

// ---- symbols and blocks ----

void TDeflater::init_block() {
    for (int n = 0; n < kLCodes; n++) dyn_ltree_[n].fc = 0;
    for (int n = 0; n < kDCodes; n++) dyn_dtree_[n].fc = 0;
    for (int n = 0; n < kBLCodes; n++) bl_tree_[n].fc = 0;
    dyn_ltree_[kEndBlock].fc = 1;
    opt_len_ = static_len_ = 0;
    last_lit_ = last_dist_ = last_flags_ = 0;
    flags_ = 0;
    flag_bit_ = 1;
}

// Records a literal (dist 0) or a match; returns true when the block should be closed.
bool TDeflater::ct_tally(unsigned dist, unsigned lc) {
    FOLVIO_ASSERT(last_lit_ < kLitBufSize - 1);
    l_buf_[last_lit_++] = static_cast<uint8_t>(lc);
    if (dist == 0) {
        dyn_ltree_[lc].fc++;
    } else {
        FOLVIO_ASSERT(dist <= kMaxDist && lc <= kMaxMatch - kMinMatch);
        dist--;
        dyn_ltree_[kFixed.length_code[lc] + kLiterals + 1].fc++;
        dyn_dtree_[d_code(dist)].fc++;
        d_buf_[last_dist_++] = static_cast<uint16_t>(dist);
        flags_ |= flag_bit_;
    }
    flag_bit_ = static_cast<uint8_t>(flag_bit_ << 1);
    if ((last_lit_ & 7) == 0) {
        flag_buf_[last_flags_++] = flags_;
        flags_ = 0;
        flag_bit_ = 1;
    }
    if (level_ > 2 && (last_lit_ & 0xFFF) == 0) {
        // Close early when matches are scarce and the literals already halve the input.
        uint64_t out_length = static_cast<uint64_t>(last_lit_) * 8;
        const int64_t in_length = static_cast<int64_t>(strstart_) - block_start_;
        for (int dcode = 0; dcode < kDCodes; dcode++)
            out_length += static_cast<uint64_t>(dyn_dtree_[dcode].fc) * (5u + kExtraDBits[dcode]);
        out_length >>= 3;
        if (last_dist_ < last_lit_ / 2 && static_cast<int64_t>(out_length) < in_length / 2) return true;
    }
    return last_lit_ == kLitBufSize - 1;
}

// Classifies the entry from the first block's literals: binary when control and high bytes exceed
// a quarter of the printable ones.
void TDeflater::set_file_type() {
    unsigned n = 0, ascii_freq = 0, bin_freq = 0;
    while (n < 7) bin_freq += dyn_ltree_[n++].fc;
    while (n < 128) ascii_freq += dyn_ltree_[n++].fc;
    while (n < kLiterals) bin_freq += dyn_ltree_[n++].fc;
    *internal_attributes_ = bin_freq > (ascii_freq >> 2) ? kInternalBinary : kInternalText;
}

int64_t TDeflater::flush_block(bool eof) {
    const bool in_window = block_start_ >= 0;
    const uint8_t* buf = in_window ? window_ + block_start_ : nullptr;
    const int64_t stored_len = static_cast<int64_t>(strstart_) - block_start_;

    flag_buf_[last_flags_] = flags_;
    if (*internal_attributes_ == kInternalUnknown) set_file_type();

    build_tree(l_desc_);
    build_tree(d_desc_);
    const int max_blindex = build_bl_tree();

    int64_t opt_lenb = (opt_len_ + 3 + 7) >> 3;
    const int64_t static_lenb = (static_len_ + 3 + 7) >> 3;
    if (static_lenb <= opt_lenb) opt_lenb = static_lenb;

    if (stored_len <= opt_lenb && eof && compressed_len_ == 0 && in_window) {
        // The whole entry fits one block that does not shrink: write it raw, method stored.
        copy_block(buf, static_cast<unsigned>(stored_len), false);
        compressed_len_ = static_cast<uint64_t>(stored_len) << 3;
        *compression_method_ = kMethodStored;
    } else if (stored_len + 4 <= opt_lenb && in_window) {
        FOLVIO_ASSERT(stored_len <= 0xFFFF);
        out_.put(eof ? 1u : 0u, 3);  // block type 0: stored
        compressed_len_ = (compressed_len_ + 3 + 7) & ~uint64_t{7};
        compressed_len_ += static_cast<uint64_t>(stored_len + 4) << 3;
        copy_block(buf, static_cast<unsigned>(stored_len), true);
    } else if (static_lenb == opt_lenb) {
        out_.put((1u << 1) + (eof ? 1u : 0u), 3);  // block type 1: fixed codes
        compress_block(kFixed.ltree, kFixed.dtree);
        compressed_len_ += 3 + static_cast<uint64_t>(static_len_);
    } else {
        out_.put((2u << 1) + (eof ? 1u : 0u), 3);  // block type 2: dynamic codes
        send_all_trees(l_desc_.max_code + 1, d_desc_.max_code + 1, max_blindex + 1);
        compress_block(dyn_ltree_, dyn_dtree_);
        compressed_len_ += 3 + static_cast<uint64_t>(opt_len_);
    }
    init_block();

    if (eof) {
        // The window is left as zeros for the next entry, all but its last byte.
        std::memset(window_, 0, std::min(work_->window_dirty, kWipeLength));
        work_->window_dirty = 0;
        out_.windup();
        compressed_len_ += 7;
    }
    return static_cast<int64_t>(compressed_len_ >> 3);
}

// ---- Huffman codes ----

namespace {
inline bool smaller(const TDeflater::ct_data* tree, int n, int m, const uint8_t* depth) {
    return tree[n].fc < tree[m].fc || (tree[n].fc == tree[m].fc && depth[n] <= depth[m]);
}
}  // namespace

void TDeflater::pqdownheap(const ct_data* tree, int k) {
    const int v = heap_[k];
    int j = k << 1;
    while (j <= heap_len_) {
        if (j < heap_len_ && smaller(tree, heap_[j + 1], heap_[j], depth_)) j++;
        if (smaller(tree, v, heap_[j], depth_)) break;
        heap_[k] = heap_[j];
        k = j;
        j <<= 1;
    }
    heap_[k] = v;
}

void TDeflater::gen_bitlen(tree_desc& desc) {
    ct_data* tree = desc.dyn_tree;
    const ct_data* stree = desc.static_tree;
    const int max_code = desc.max_code;
    const int max_length = desc.max_length;

    std::fill(std::begin(bl_count_), std::end(bl_count_), 0);
    tree[heap_[heap_max_]].dl = 0;  // root
    int overflow = 0;
    int h = heap_max_ + 1;
    for (; h < kHeapSize; h++) {
        const int n = heap_[h];
        int bits = tree[tree[n].dl].dl + 1;
        if (bits > max_length) bits = max_length, overflow++;
        tree[n].dl = static_cast<uint16_t>(bits);
        if (n > max_code) continue;  // internal node
        bl_count_[bits]++;
        const int xbits = n >= desc.extra_base ? desc.extra_bits[n - desc.extra_base] : 0;
        const int64_t f = tree[n].fc;
        opt_len_ += f * (bits + xbits);
        if (stree) static_len_ += f * (stree[n].dl + xbits);
    }
    if (overflow == 0) return;

    // Move leaves up from below the limit until the code is complete again.
    do {
        int bits = max_length - 1;
        while (bl_count_[bits] == 0) bits--;
        bl_count_[bits]--;
        bl_count_[bits + 1] += 2;
        bl_count_[max_length]--;
        overflow -= 2;
    } while (overflow > 0);

    h = kHeapSize;
    for (int bits = max_length; bits != 0; bits--) {
        int n = bl_count_[bits];
        while (n != 0) {
            const int m = heap_[--h];
            if (m > max_code) continue;
            if (tree[m].dl != bits) {
                opt_len_ += (static_cast<int64_t>(bits) - tree[m].dl) * tree[m].fc;
                tree[m].dl = static_cast<uint16_t>(bits);
            }
            n--;
        }
    }
}

void TDeflater::gen_codes(ct_data* tree, int max_code) {
    uint16_t next_code[kMaxBits + 1];
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; bits++) {
        code = (code + bl_count_[bits - 1]) << 1;
        next_code[bits] = static_cast<uint16_t>(code);
    }
    for (int n = 0; n <= max_code; n++) {
        const int len = tree[n].dl;
        if (len == 0) continue;
        tree[n].fc = static_cast<uint16_t>(bi_reverse(next_code[len]++, len));
    }
}

void TDeflater::build_tree(tree_desc& desc) {
    ct_data* tree = desc.dyn_tree;
    const ct_data* stree = desc.static_tree;
    const int elems = desc.elems;
    int max_code = -1;

    heap_len_ = 0;
    heap_max_ = kHeapSize;
    for (int n = 0; n < elems; n++) {
        if (tree[n].fc != 0) {
            heap_[++heap_len_] = max_code = n;
            depth_[n] = 0;
        } else {
            tree[n].dl = 0;
        }
    }
    // A code needs two symbols: force one or two in with frequency 1.
    while (heap_len_ < 2) {
        const int node = heap_[++heap_len_] = max_code < 2 ? ++max_code : 0;
        tree[node].fc = 1;
        depth_[node] = 0;
        opt_len_--;
        if (stree) static_len_ -= stree[node].dl;
    }
    desc.max_code = max_code;

    for (int n = heap_len_ / 2; n >= 1; n--) pqdownheap(tree, n);

    int node = elems;
    do {
        const int n = heap_[1];
        heap_[1] = heap_[heap_len_--];
        pqdownheap(tree, 1);
        const int m = heap_[1];
        heap_[--heap_max_] = n;
        heap_[--heap_max_] = m;
        tree[node].fc = static_cast<uint16_t>(tree[n].fc + tree[m].fc);
        depth_[node] = static_cast<uint8_t>(std::max(depth_[n], depth_[m]) + 1);
        tree[n].dl = tree[m].dl = static_cast<uint16_t>(node);
        heap_[1] = node++;
        pqdownheap(tree, 1);
    } while (heap_len_ >= 2);
    heap_[--heap_max_] = heap_[1];

    gen_bitlen(desc);
    gen_codes(tree, max_code);
}

namespace {

// Run-length codes the code lengths of a tree (0 to max_code) into bit-length symbols, calling
// emit(symbol, extra value, extra bits) for each: runs of a non-zero length as the length and
// symbol 16 (3 to 6 repeats), runs of zeros as symbol 17 (3 to 10) or 18 (11 to 138), runs
// shorter than their minimum as single lengths.
template <typename Emit>
void for_each_length_symbol(const TDeflater::ct_data* tree, int max_code, Emit emit) {
    int prevlen = -1;
    int nextlen = tree[0].dl;
    int count = 0;
    int max_count = 7, min_count = 4;
    if (nextlen == 0) max_count = 138, min_count = 3;
    for (int n = 0; n <= max_code; n++) {
        const int curlen = nextlen;
        nextlen = n + 1 <= max_code ? tree[n + 1].dl : 0xFFFF;
        if (++count < max_count && curlen == nextlen) continue;
        if (count < min_count) {
            do emit(curlen, 0, 0);
            while (--count != 0);
        } else if (curlen != 0) {
            if (curlen != prevlen) {
                emit(curlen, 0, 0);
                count--;
            }
            emit(kRep3_6, count - 3, 2);
        } else if (count <= 10) {
            emit(kRepz3_10, count - 3, 3);
        } else {
            emit(kRepz11_138, count - 11, 7);
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0) max_count = 138, min_count = 3;
        else if (curlen == nextlen) max_count = 6, min_count = 3;
        else max_count = 7, min_count = 4;
    }
}

}  // namespace

// Counts the run-length coded code lengths of a tree into the bit-length tree's frequencies.
void TDeflater::scan_tree(const ct_data* tree, int max_code) {
    for_each_length_symbol(tree, max_code, [this](int symbol, int, int) { bl_tree_[symbol].fc++; });
}

// Sends the code lengths of a tree, run-length coded as scan_tree counted them.
void TDeflater::send_tree(const ct_data* tree, int max_code) {
    for_each_length_symbol(tree, max_code, [this](int symbol, int extra, int extra_bits) {
        out_.put(bl_tree_[symbol].fc | static_cast<uint32_t>(extra) << bl_tree_[symbol].dl,
                 bl_tree_[symbol].dl + static_cast<unsigned>(extra_bits));
    });
}

int TDeflater::build_bl_tree() {
    scan_tree(dyn_ltree_, l_desc_.max_code);
    scan_tree(dyn_dtree_, d_desc_.max_code);
    build_tree(bl_desc_);
    int max_blindex = kBLCodes - 1;
    for (; max_blindex >= 3; max_blindex--) {
        if (bl_tree_[kBLOrder[max_blindex]].dl != 0) break;
    }
    opt_len_ += 3 * (max_blindex + 1) + 5 + 5 + 4;
    return max_blindex;
}

void TDeflater::send_all_trees(int lcodes, int dcodes, int blcodes) {
    out_.put(static_cast<uint32_t>(lcodes - 257), 5);
    out_.put(static_cast<uint32_t>(dcodes - 1), 5);
    out_.put(static_cast<uint32_t>(blcodes - 4), 4);
    for (int rank = 0; rank < blcodes; rank++) out_.put(bl_tree_[kBLOrder[rank]].dl, 3);
    send_tree(dyn_ltree_, lcodes - 1);
    send_tree(dyn_dtree_, dcodes - 1);
}

void TDeflater::compress_block(const ct_data* ltree, const ct_data* dtree) {
    unsigned lx = 0, dx = 0, fx = 0;
    unsigned flag = 0;
    if (last_lit_ != 0) {
        do {
            if ((lx & 7) == 0) flag = flag_buf_[fx++];
            unsigned lc = l_buf_[lx++];
            if ((flag & 1) == 0) {
                out_.put(ltree[lc].fc, ltree[lc].dl);
            } else {
                // Length code and its extra bits in one put, distance code and its extra in another.
                unsigned code = kFixed.length_code[lc];
                const ct_data& l = ltree[code + kLiterals + 1];
                out_.put(l.fc | (lc - kFixed.base_length[code]) << l.dl, l.dl + kExtraLBits[code]);
                const unsigned dist = d_buf_[dx++];
                code = d_code(dist);
                out_.put(dtree[code].fc | (dist - kFixed.base_dist[code]) << dtree[code].dl, dtree[code].dl + kExtraDBits[code]);
            }
            flag >>= 1;
        } while (lx < last_lit_);
    }
    out_.put(ltree[kEndBlock].fc, ltree[kEndBlock].dl);
}

// Writes input bytes unchanged, after the stored block's length words when header is set. The
// bytes go through the staging buffer because the host may encrypt what it is given in place, and
// the window must keep the plain input that later matches refer to.
void TDeflater::copy_block(const uint8_t* data, unsigned length, bool header) {
    out_.windup();
    if (header) {
        out_.buf[0] = static_cast<uint8_t>(length);
        out_.buf[1] = static_cast<uint8_t>(length >> 8);
        out_.buf[2] = static_cast<uint8_t>(~length);
        out_.buf[3] = static_cast<uint8_t>(~length >> 8);
        out_.fill = 4;
    }
    while (length > 0) {
        const unsigned n = std::min(length, kOutBufSize - out_.fill);
        std::memcpy(out_.buf + out_.fill, data, n);
        out_.fill += n;
        data += n;
        length -= n;
        out_.hand_over();
    }
    out_.hand_over();
}
