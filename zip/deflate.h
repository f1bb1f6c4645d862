// Deflate compressor of the archive writer: turns the data of one entry into a raw Deflate stream.
//
// Algorithm: a 64 KiB window over the input that slides down by 32 KiB, 32768 hash chains of
// three-byte strings, a match search bounded per level, greedy parsing at levels 1 to 3 and
// one-step lazy parsing at levels 4 to 9, blocks of at most 32767 symbols sent stored, with the
// fixed codes or with dynamic Huffman codes, whichever is smallest; a one-block entry that does not
// shrink is written raw (method 0). Every output byte is defined by that algorithm.
// Optimisations that keep every byte: candidates are compared a machine word at a time, rejected
// first on the two bytes at the end of the best length; at levels with long chains a second index
// by four bytes lets the search pass over candidates that share only three (counting them against
// the chain budget all the same); bits gather in a 64-bit accumulator and leave through a 1024-byte
// staging buffer; a call allocates nothing, and clears only the heads of both indexes and the part
// of the window it wrote.
#pragma once

#include <cstddef>
#include <cstdint>

// The work buffers of a job (the six of the design and the four-byte index): allocated by the
// writer at the start of a job, released at its end; every allocation comes zeroed. The compressor
// only uses them.
struct TDeflateBuffers {
    // Bytes past the 64 KiB window that the match search may read beyond the last position; they
    // stay zero, so the compressed bytes never depend on memory outside the buffers.
    static constexpr size_t kWindowSlack = 320;

    uint8_t window[65536 + kWindowSlack] = {};  // windowtype: the sliding window of input bytes
    // prevtype: previous position on the same hash chain, 0 ends it. One entry per window
    // position rather than per position modulo 32768: the chain walk saves the masking step, and
    // the entries it reads are the same.
    uint16_t prev[65536] = {};
    uint16_t head[32768] = {};    // headtype: most recent position per hash value, 0 means empty
    uint8_t l_buf[32768] = {};    // l_buftype: literal byte, or match length minus 3, per symbol
    uint16_t d_buf[32768] = {};   // d_buftype: distance minus 1 per recorded match
    uint8_t flag_buf[4096] = {};  // flag_buftype: one bit per symbol, 1 = match, LSB first
    // A second index over the same positions, by their first four bytes, that lets the match
    // search pass over candidates sharing only three bytes with the current string: the chain
    // heads by a hash of four bytes, the previous position with the same hash, and each
    // position's number on its three-byte chain (to charge the chain budget for what it passes).
    uint16_t head4[32768] = {};
    uint16_t prev4[65536] = {};
    uint16_t chain_seq[65536] = {};
    // How many bytes at the start of the window may be non-zero: the wipe at the end of an entry
    // clears only those, the rest being zero already.
    uint32_t window_dirty = 0;
};

// What the compressor needs of the writer: the writer implements this.
class TDeflateHost {
public:
    virtual ~TDeflateHost() = default;
    // Reads up to count bytes of the entry's input; 0 (or 65535) means the input is exhausted.
    virtual uint16_t file_read(uint8_t* buffer, uint16_t count) = 0;
    // Writes size*count bytes to the archive (may encrypt the buffer in place, may throw).
    virtual size_t zfwrite(uint8_t* buffer, size_t size, size_t count) = 0;
};

// The entry record fields the compressor decides.
struct TDeflateEntryFields {
    uint16_t& general_purpose_flag;  // or-ed with 4 at levels 1 and 2, with 2 at levels 8 and 9
    uint16_t& internal_attributes;   // 2 on entry = not yet known; set to 0 binary / 1 text
    uint16_t& compression_method;    // 8 on entry; set to 0 on the stored fallback
};

// The general-purpose flag bits a Deflate call at that level (clamped into 1..9) or-s into its entry.
uint16_t DeflateFlagBits(int level);

// Per-writer state: the per-call scratch (trees, heap, staging buffer) so that a call allocates nothing.
class TDeflater {
public:
    TDeflater();  // StaticInit: clears the bit-length counts

    // Compresses one entry at level 1..9 (other values are clamped into that range) and returns the
    // number of bytes handed to zfwrite. Errors thrown by the host leave at once.
    int64_t Deflate(TDeflateBuffers& work, int level, TDeflateHost& host, TDeflateEntryFields entry);

    // A code table entry: frequency, then code bits; parent node while building, then code length.
    struct ct_data {
        uint16_t fc;  // frequency / code
        uint16_t dl;  // parent ("dad") / length
    };

private:
    static constexpr int kLCodes = 286;  // literal/length symbols in use by Deflate
    static constexpr int kDCodes = 30;
    static constexpr int kBLCodes = 19;
    static constexpr int kHeapSize = 2 * kLCodes + 1;
    static constexpr unsigned kOutBufSize = 1024;

    struct tree_desc {
        ct_data* dyn_tree;
        const ct_data* static_tree;  // fixed counterpart, or none
        const uint8_t* extra_bits;
        int extra_base;  // first code with extra bits
        int elems;
        int max_length;
        int max_code;  // largest code in use
    };

    // Bit output: a 64-bit accumulator sending least significant bits first, spilled into the
    // staging buffer four bytes at a time and handed to the host in pieces of about 1024 bytes.
    struct BitWriter {
        uint64_t acc = 0;
        unsigned count = 0;
        unsigned fill = 0;
        uint64_t written = 0;
        TDeflateHost* host = nullptr;
        uint8_t buf[kOutBufSize];

        void put(uint32_t value, unsigned length) {
            acc |= static_cast<uint64_t>(value) << count;
            count += length;
            if (count >= 32) spill();
        }
        void spill();
        void hand_over();
        void windup();  // flushes to a byte boundary and hands the staging buffer over
    };

    uint16_t bl_count_[16];  // codes per bit length while a tree is built

    // Input side and matcher.
    void fill_window();
    void slide_window();
    uint16_t read_input(uint8_t* dst, unsigned count);
    unsigned find_match(unsigned cur_match, unsigned prev_length);
    unsigned longest_match(unsigned cur_match, unsigned prev_length);
    unsigned longest_match4(unsigned cur_match, unsigned best_len, uint16_t seq0);
    unsigned longest_match_plain(unsigned cur_match, unsigned prev_length, unsigned& match_start) const;
    void insert_string(unsigned pos, unsigned& hash_head) {
        ins_h_ = ((ins_h_ << 5) ^ window_[pos + 2]) & 0x7FFF;
        hash_head = head_[ins_h_];
        prev_[pos] = static_cast<uint16_t>(hash_head);
        head_[ins_h_] = static_cast<uint16_t>(pos);
        if (index4_) {
            chain_seq_[pos] = static_cast<uint16_t>(chain_seq_[hash_head] + 1);
            const unsigned h4 = hash4(pos);
            prev4_[pos] = head4_[h4];
            head4_[h4] = static_cast<uint16_t>(pos);
        }
    }
    unsigned hash4(unsigned pos) const {
        uint32_t v;
        __builtin_memcpy(&v, window_ + pos, sizeof v);
        return (v * 0x9E3779B1u) >> 17;
    }
    int64_t deflate_greedy();
    int64_t deflate_lazy();

    // Symbol recording and blocks.
    bool ct_tally(unsigned dist, unsigned lc);
    void init_block();
    int64_t flush_block(bool eof);
    void set_file_type();
    void build_tree(tree_desc& desc);
    void pqdownheap(const ct_data* tree, int k);
    void gen_bitlen(tree_desc& desc);
    void gen_codes(ct_data* tree, int max_code);
    void scan_tree(const ct_data* tree, int max_code);
    void send_tree(const ct_data* tree, int max_code);
    int build_bl_tree();
    void send_all_trees(int lcodes, int dcodes, int blcodes);
    void compress_block(const ct_data* ltree, const ct_data* dtree);
    void copy_block(const uint8_t* data, unsigned length, bool header);

    // Per-call state.
    TDeflateHost* host_ = nullptr;
    uint8_t* window_ = nullptr;
    TDeflateBuffers* work_ = nullptr;
    uint16_t* prev_ = nullptr;
    uint16_t* head_ = nullptr;
    uint16_t* head4_ = nullptr;
    uint16_t* prev4_ = nullptr;
    uint16_t* chain_seq_ = nullptr;
    uint8_t* l_buf_ = nullptr;
    uint16_t* d_buf_ = nullptr;
    uint8_t* flag_buf_ = nullptr;
    uint16_t* internal_attributes_ = nullptr;
    uint16_t* compression_method_ = nullptr;

    int level_ = 0;
    unsigned good_match_ = 0, max_lazy_ = 0, nice_match_ = 0, max_chain_ = 0;
    bool index4_ = false;  // the four-byte index is kept (levels with long chains)
    unsigned best_len_at_start_ = 0;
    unsigned strstart_ = 0;     // current position, 0..65535
    unsigned lookahead_ = 0;    // bytes of input ahead of the position
    unsigned match_start_ = 0;  // start of the last match found
    int32_t block_start_ = 0;   // negative once the block's first byte has slid out
    unsigned ins_h_ = 0;
    bool eofile_ = false;

    ct_data dyn_ltree_[kHeapSize];
    ct_data dyn_dtree_[2 * kDCodes + 1];
    ct_data bl_tree_[2 * kBLCodes + 1];
    tree_desc l_desc_{}, d_desc_{}, bl_desc_{};
    int heap_[kHeapSize];
    int heap_len_ = 0, heap_max_ = 0;
    uint8_t depth_[kHeapSize];

    unsigned last_lit_ = 0, last_dist_ = 0, last_flags_ = 0;
    uint8_t flags_ = 0, flag_bit_ = 1;
    int64_t opt_len_ = 0, static_len_ = 0;  // block estimates in bits: dynamic and fixed codes
    uint64_t compressed_len_ = 0;           // bits of the entry so far

    BitWriter out_;
};
