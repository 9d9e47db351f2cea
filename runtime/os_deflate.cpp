// Raw DEFLATE and base64url: the song links of the browser's page and its stored song. The compressor finds
// repeats with hash chains (one step of lazy matching) and writes each block stored, with the fixed codes or with
// codes of its own, whichever is shortest; the decompressor reads all three block types and checks every code,
// length and distance against the bytes it has. Portable, no state between calls; any thread.
#include "os_deflate.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t DF_WINDOW = 32768;       // farthest a repeat may reach back
constexpr int32_t DF_MIN_MATCH = 3;        // shortest repeat worth a length/distance pair
constexpr int32_t DF_MAX_MATCH = 258;      // longest repeat one pair can give
constexpr int32_t DF_HASH_BITS = 15;       // hash of three bytes, for the chains
constexpr int32_t DF_CHAIN = 256;          // earlier places looked at for a repeat, at most
constexpr int32_t DF_BLOCK_TOKENS = 16384; // literals and pairs per block
constexpr int32_t DF_LITLEN = 286;         // literal/length symbols in use (286 and 287 are reserved)
constexpr int32_t DF_DIST = 30;            // distance symbols in use (30 and 31 are reserved)
constexpr int32_t DF_CODELEN = 19;         // symbols of the code that sends the code lengths
constexpr int32_t DF_MAX_BITS = 15;        // longest code of the literal/length and distance codes
constexpr int32_t DF_MAX_CL_BITS = 7;      // longest code of the code-length code

constexpr uint16_t DF_LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t DF_LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DF_DIST_BASE[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                       33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                       1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DF_DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block's header gives the code-length code's lengths.
constexpr uint8_t DF_CL_ORDER[DF_CODELEN] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// One literal (dist 0, value the byte) or one repeat (dist 1..32768, value its length).
struct df_token {
    uint16_t value;
    uint16_t dist;
};

int32_t df_length_symbol(int32_t length) {
    int32_t i = 28;
    while (DF_LENGTH_BASE[i] > length) i--;
    return i;
}

int32_t df_dist_symbol(int32_t dist) {
    int32_t i = 29;
    while (DF_DIST_BASE[i] > dist) i--;
    return i;
}

// ---- Finding repeats

uint32_t df_hash(const uint8_t* p) {
    return ((uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2]) * 2654435761u >> (32 - DF_HASH_BITS);
}

struct df_matcher {
    const uint8_t* data;
    int32_t size;
    std::vector<int32_t> head; // per hash, the latest position inserted, -1 none
    std::vector<int32_t> prev; // per position (modulo the window), the position inserted before it with its hash
    int32_t inserted = 0;      // positions below this are in the chains

    df_matcher(const uint8_t* d, int32_t n) : data(d), size(n), head(1 << DF_HASH_BITS, -1), prev(DF_WINDOW, -1) {}

    void insert_up_to(int32_t end) {
        for (; inserted < end && inserted + DF_MIN_MATCH <= size; inserted++) {
            const uint32_t h = df_hash(data + inserted);
            prev[inserted & (DF_WINDOW - 1)] = head[h];
            head[h] = inserted;
        }
        if (inserted < end) inserted = end;
    }

    // The longest earlier repeat of the bytes at pos (length 0 when none of at least DF_MIN_MATCH).
    void longest(int32_t pos, int32_t* length, int32_t* dist) {
        *length = 0;
        *dist = 0;
        if (pos + DF_MIN_MATCH > size) return;
        insert_up_to(pos);
        const int32_t limit = std::min(DF_MAX_MATCH, size - pos);
        int32_t candidate = head[df_hash(data + pos)];
        for (int32_t chain = 0; candidate >= 0 && chain < DF_CHAIN; chain++) {
            if (pos - candidate > DF_WINDOW - 1) break;
            int32_t n = 0;
            while (n < limit && data[candidate + n] == data[pos + n]) n++;
            if (n > *length) {
                *length = n;
                *dist = pos - candidate;
                if (n == limit) break;
            }
            const int32_t before = prev[candidate & (DF_WINDOW - 1)];
            if (before >= candidate) break; // the slot was reused by a later position: the chain ends here
            candidate = before;
        }
        if (*length < DF_MIN_MATCH) *length = *dist = 0;
    }
};

// The whole input as literals and repeats, each repeat taken unless the next position starts a longer one.
std::vector<df_token> df_tokens(const uint8_t* data, int32_t size) {
    std::vector<df_token> tokens;
    df_matcher m(data, size);
    int32_t pos = 0;
    int32_t length = 0, dist = 0;
    m.longest(0, &length, &dist);
    while (pos < size) {
        if (length == 0) {
            tokens.push_back({data[pos], 0});
            pos++;
            m.longest(pos, &length, &dist);
            continue;
        }
        int32_t next_length = 0, next_dist = 0;
        if (length < DF_MAX_MATCH) m.longest(pos + 1, &next_length, &next_dist);
        if (next_length > length) {
            tokens.push_back({data[pos], 0});
            pos++;
            length = next_length;
            dist = next_dist;
            continue;
        }
        tokens.push_back({(uint16_t)length, (uint16_t)dist});
        pos += length;
        m.longest(pos, &length, &dist);
    }
    return tokens;
}

// ---- Codes

// Code lengths (at most limit bits) for the symbols with a non-zero frequency, by Huffman's construction; when
// that gives a longer code, the frequencies are halved and the code built again.
void df_code_lengths(const uint32_t* freq, int32_t n, int32_t limit, uint8_t* lengths) {
    std::vector<uint32_t> f(freq, freq + n);
    for (;;) {
        memset(lengths, 0, (size_t)n);
        std::vector<int32_t> symbols;
        for (int32_t i = 0; i < n; i++)
            if (f[i]) symbols.push_back(i);
        const int32_t m = (int32_t)symbols.size();
        if (m == 0) return;
        if (m == 1) {
            lengths[symbols[0]] = 1;
            return;
        }
        std::stable_sort(symbols.begin(), symbols.end(), [&](int32_t a, int32_t b) { return f[a] < f[b]; });
        // Two queues: the leaves in order of weight, and the inner nodes, which are made in order of weight.
        std::vector<uint64_t> weight(2 * m - 1);
        std::vector<int32_t> parent(2 * m - 1, -1);
        for (int32_t i = 0; i < m; i++) weight[i] = f[symbols[i]];
        int32_t leaf = 0, inner = m;
        auto take = [&](int32_t made) {
            if (leaf < m && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
            return inner++;
        };
        for (int32_t made = m; made < 2 * m - 1; made++) {
            const int32_t a = take(made);
            const int32_t b = take(made);
            weight[made] = weight[a] + weight[b];
            parent[a] = parent[b] = made;
        }
        std::vector<int32_t> depth(2 * m - 1, 0);
        int32_t deepest = 0;
        for (int32_t node = 2 * m - 3; node >= 0; node--) {
            depth[node] = depth[parent[node]] + 1;
            if (node < m) deepest = std::max(deepest, depth[node]);
        }
        if (deepest <= limit) {
            for (int32_t i = 0; i < m; i++) lengths[symbols[i]] = (uint8_t)depth[i];
            return;
        }
        for (uint32_t& v : f)
            if (v) v = (v + 1) / 2;
    }
}

// The canonical codes of these lengths, bit-reversed: DEFLATE sends a code's first bit first into the low bits.
void df_codes(const uint8_t* lengths, int32_t n, uint16_t* codes) {
    int32_t count[DF_MAX_BITS + 1] = {};
    for (int32_t i = 0; i < n; i++) count[lengths[i]]++;
    count[0] = 0;
    int32_t next[DF_MAX_BITS + 2] = {};
    int32_t code = 0;
    for (int32_t bits = 1; bits <= DF_MAX_BITS; bits++) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int32_t i = 0; i < n; i++) {
        const int32_t len = lengths[i];
        if (!len) {
            codes[i] = 0;
            continue;
        }
        const int32_t c = next[len]++;
        int32_t reversed = 0;
        for (int32_t b = 0; b < len; b++) reversed |= ((c >> b) & 1) << (len - 1 - b);
        codes[i] = (uint16_t)reversed;
    }
}

void df_fixed_lengths(uint8_t* litlen, uint8_t* dist) {
    for (int32_t i = 0; i < 288; i++) litlen[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (int32_t i = 0; i < 32; i++) dist[i] = 5;
}

// ---- Writing bits

struct df_writer {
    std::vector<uint8_t> out;
    uint64_t bits = 0; // pending bits, the oldest in the low end
    int32_t count = 0; // how many

    void put(uint32_t value, int32_t n) {
        bits |= (uint64_t)value << count;
        count += n;
        while (count >= 8) {
            out.push_back((uint8_t)bits);
            bits >>= 8;
            count -= 8;
        }
    }
    void align() {
        if (count > 0) put(0, 8 - count);
    }
};

// A block's codes and what it costs to send them.
struct df_block_code {
    uint8_t litlen[288];
    uint8_t dist[32];
    uint16_t litlen_code[288];
    uint16_t dist_code[32];
};

// The code-length sequence of a dynamic header, run-length coded: (symbol, extra value) pairs.
void df_run_lengths(const uint8_t* lengths, int32_t n, std::vector<std::pair<uint8_t, uint8_t>>* runs) {
    for (int32_t i = 0; i < n;) {
        const uint8_t len = lengths[i];
        int32_t run = 1;
        while (i + run < n && lengths[i + run] == len) run++;
        int32_t left = run;
        if (len == 0) {
            while (left >= 11) {
                const int32_t take = std::min(left, 138);
                runs->push_back({18, (uint8_t)(take - 11)});
                left -= take;
            }
            if (left >= 3) {
                runs->push_back({17, (uint8_t)(left - 3)});
                left = 0;
            }
        } else {
            runs->push_back({len, 0});
            left--;
            while (left >= 3) {
                const int32_t take = std::min(left, 6);
                runs->push_back({16, (uint8_t)(take - 3)});
                left -= take;
            }
        }
        for (; left > 0; left--) runs->push_back({len, 0});
        i += run;
    }
}

uint64_t df_data_bits(const df_token* t, int32_t n, const uint8_t* litlen, const uint8_t* dist) {
    uint64_t bits = litlen[256];
    for (int32_t i = 0; i < n; i++) {
        if (t[i].dist == 0) {
            bits += litlen[t[i].value];
        } else {
            const int32_t ls = df_length_symbol(t[i].value), ds = df_dist_symbol(t[i].dist);
            bits += litlen[257 + ls] + DF_LENGTH_EXTRA[ls] + dist[ds] + DF_DIST_EXTRA[ds];
        }
    }
    return bits;
}

void df_write_data(df_writer* w, const df_token* t, int32_t n, const df_block_code& c) {
    for (int32_t i = 0; i < n; i++) {
        if (t[i].dist == 0) {
            w->put(c.litlen_code[t[i].value], c.litlen[t[i].value]);
            continue;
        }
        const int32_t ls = df_length_symbol(t[i].value), ds = df_dist_symbol(t[i].dist);
        w->put(c.litlen_code[257 + ls], c.litlen[257 + ls]);
        w->put((uint32_t)(t[i].value - DF_LENGTH_BASE[ls]), DF_LENGTH_EXTRA[ls]);
        w->put(c.dist_code[ds], c.dist[ds]);
        w->put((uint32_t)(t[i].dist - DF_DIST_BASE[ds]), DF_DIST_EXTRA[ds]);
    }
    w->put(c.litlen_code[256], c.litlen[256]);
}

// Gives a code at least two symbols, so that it is complete (a code of one symbol would be one bit with one
// of its two values unused, which some readers refuse).
void df_two_symbols(uint32_t* freq, int32_t n) {
    int32_t used = 0;
    for (int32_t i = 0; i < n; i++) used += freq[i] != 0;
    for (int32_t i = 0; i < n && used < 2; i++)
        if (!freq[i]) {
            freq[i] = 1;
            used++;
        }
}

// Writes tokens t[0..n) (the input bytes data[0..size)) as one block, in its shortest form.
void df_write_block(df_writer* w, const df_token* t, int32_t n, const uint8_t* data, int32_t size, bool final) {
    uint32_t lf[DF_LITLEN] = {}, dfreq[DF_DIST] = {};
    for (int32_t i = 0; i < n; i++) {
        if (t[i].dist == 0) {
            lf[t[i].value]++;
        } else {
            lf[257 + df_length_symbol(t[i].value)]++;
            dfreq[df_dist_symbol(t[i].dist)]++;
        }
    }
    lf[256] = 1;
    df_two_symbols(lf, DF_LITLEN);
    df_two_symbols(dfreq, DF_DIST);

    df_block_code dyn = {};
    df_code_lengths(lf, DF_LITLEN, DF_MAX_BITS, dyn.litlen);
    df_code_lengths(dfreq, DF_DIST, DF_MAX_BITS, dyn.dist);
    int32_t hlit = DF_LITLEN, hdist = DF_DIST;
    while (hlit > 257 && dyn.litlen[hlit - 1] == 0) hlit--;
    while (hdist > 1 && dyn.dist[hdist - 1] == 0) hdist--;
    uint8_t all[DF_LITLEN + DF_DIST];
    memcpy(all, dyn.litlen, (size_t)hlit);
    memcpy(all + hlit, dyn.dist, (size_t)hdist);
    std::vector<std::pair<uint8_t, uint8_t>> runs;
    df_run_lengths(all, hlit + hdist, &runs);
    uint32_t cf[DF_CODELEN] = {};
    for (const auto& r : runs) cf[r.first]++;
    df_two_symbols(cf, DF_CODELEN);
    uint8_t cl[DF_CODELEN];
    uint16_t cl_code[DF_CODELEN];
    df_code_lengths(cf, DF_CODELEN, DF_MAX_CL_BITS, cl);
    df_codes(cl, DF_CODELEN, cl_code);
    int32_t hclen = DF_CODELEN;
    while (hclen > 4 && cl[DF_CL_ORDER[hclen - 1]] == 0) hclen--;
    uint64_t header = 5 + 5 + 4 + 3 * (uint64_t)hclen;
    for (const auto& r : runs) header += cl[r.first] + (r.first == 16 ? 2 : r.first == 17 ? 3 : r.first == 18 ? 7 : 0);
    const uint64_t dynamic_bits = 3 + header + df_data_bits(t, n, dyn.litlen, dyn.dist);

    df_block_code fixed = {};
    df_fixed_lengths(fixed.litlen, fixed.dist);
    const uint64_t fixed_bits = 3 + df_data_bits(t, n, fixed.litlen, fixed.dist);
    // Stored: aligned to a byte, four bytes of length each 65535 bytes at most.
    const uint64_t stored_blocks = size == 0 ? 1 : ((uint64_t)size + 65534) / 65535;
    const uint64_t stored_bits = 3 + 7 + stored_blocks * 32 + (uint64_t)size * 8 + (stored_blocks - 1) * 3;

    if (stored_bits <= fixed_bits && stored_bits <= dynamic_bits) {
        int32_t at = 0;
        do {
            const int32_t len = std::min(size - at, 65535);
            const bool last = at + len >= size;
            w->put(final && last ? 1 : 0, 1);
            w->put(0, 2);
            w->align();
            w->put((uint32_t)len, 16);
            w->put((uint32_t)(len ^ 0xFFFF), 16);
            w->out.insert(w->out.end(), data + at, data + at + len);
            at += len;
        } while (at < size);
        return;
    }
    w->put(final ? 1 : 0, 1);
    if (fixed_bits <= dynamic_bits) {
        w->put(1, 2);
        df_codes(fixed.litlen, 288, fixed.litlen_code);
        df_codes(fixed.dist, 32, fixed.dist_code);
        df_write_data(w, t, n, fixed);
        return;
    }
    w->put(2, 2);
    w->put((uint32_t)(hlit - 257), 5);
    w->put((uint32_t)(hdist - 1), 5);
    w->put((uint32_t)(hclen - 4), 4);
    for (int32_t i = 0; i < hclen; i++) w->put(cl[DF_CL_ORDER[i]], 3);
    for (const auto& r : runs) {
        w->put(cl_code[r.first], cl[r.first]);
        if (r.first == 16) w->put(r.second, 2);
        if (r.first == 17) w->put(r.second, 3);
        if (r.first == 18) w->put(r.second, 7);
    }
    df_codes(dyn.litlen, DF_LITLEN, dyn.litlen_code);
    df_codes(dyn.dist, DF_DIST, dyn.dist_code);
    df_write_data(w, t, n, dyn);
}

// ---- Reading

struct df_reader {
    const uint8_t* in;
    size_t size;
    size_t pos = 0;    // next byte to take bits from
    uint32_t bits = 0; // bits taken but not yet used, the next in the low end
    int32_t count = 0; // how many
    bool short_input = false;

    // The next n bits (n <= 16); past the end they read as 0 and short_input is set.
    uint32_t get(int32_t n) {
        while (count < n) {
            uint32_t byte = 0;
            if (pos < size)
                byte = in[pos++];
            else
                short_input = true;
            bits |= byte << count;
            count += 8;
        }
        const uint32_t v = bits & ((1u << n) - 1);
        bits >>= n;
        count -= n;
        return v;
    }
};

// A canonical code as counts per length and the symbols in code order (as RFC 1951 builds it).
struct df_huffman {
    int16_t count[DF_MAX_BITS + 1];
    int16_t symbol[288];
};

// Builds the code; 0 when it is complete, above 0 when incomplete, -1 when over-subscribed.
int32_t df_build(df_huffman* h, const uint8_t* lengths, int32_t n) {
    memset(h->count, 0, sizeof h->count);
    for (int32_t i = 0; i < n; i++) h->count[lengths[i]]++;
    if (h->count[0] == n) return 0; // no codes at all: complete, and nothing can be read with it
    int32_t left = 1;
    for (int32_t len = 1; len <= DF_MAX_BITS; len++) {
        left <<= 1;
        left -= h->count[len];
        if (left < 0) return -1;
    }
    int16_t offs[DF_MAX_BITS + 1];
    offs[1] = 0;
    for (int32_t len = 1; len < DF_MAX_BITS; len++) offs[len + 1] = (int16_t)(offs[len] + h->count[len]);
    for (int32_t i = 0; i < n; i++)
        if (lengths[i]) h->symbol[offs[lengths[i]]++] = (int16_t)i;
    return left;
}

// The next symbol, or -1 for a bit pattern that is no code.
int32_t df_decode(df_reader* r, const df_huffman* h) {
    int32_t code = 0, first = 0, index = 0;
    for (int32_t len = 1; len <= DF_MAX_BITS; len++) {
        code |= (int32_t)r->get(1);
        const int32_t count = h->count[len];
        if (code - count < first) return h->symbol[index + (code - first)];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return -1;
}

// A code other than the code-length code may be incomplete only as a single code of one bit.
bool df_usable(int32_t built, const uint8_t* lengths, int32_t n) {
    if (built < 0) return false;
    if (built == 0) return true;
    int32_t used = 0, one_bit = 0;
    for (int32_t i = 0; i < n; i++) {
        used += lengths[i] != 0;
        one_bit += lengths[i] == 1;
    }
    return used == 1 && one_bit == 1;
}

bool df_inflate_codes(df_reader* r, const df_huffman* lit, const df_huffman* dist, size_t limit,
                      std::vector<uint8_t>* out) {
    for (;;) {
        const int32_t sym = df_decode(r, lit);
        if (sym < 0 || r->short_input) return false;
        if (sym < 256) {
            if (out->size() >= limit) return false;
            out->push_back((uint8_t)sym);
            continue;
        }
        if (sym == 256) return true;
        const int32_t ls = sym - 257;
        if (ls >= 29) return false;
        const int32_t length = DF_LENGTH_BASE[ls] + (int32_t)r->get(DF_LENGTH_EXTRA[ls]);
        const int32_t ds = df_decode(r, dist);
        if (ds < 0 || ds >= DF_DIST) return false;
        const size_t d = DF_DIST_BASE[ds] + r->get(DF_DIST_EXTRA[ds]);
        if (r->short_input || d > out->size() || out->size() + (size_t)length > limit) return false;
        const size_t from = out->size() - d;
        for (int32_t i = 0; i < length; i++) out->push_back((*out)[from + (size_t)i]);
    }
}

bool df_inflate_dynamic(df_reader* r, size_t limit, std::vector<uint8_t>* out) {
    const int32_t hlit = (int32_t)r->get(5) + 257;
    const int32_t hdist = (int32_t)r->get(5) + 1;
    const int32_t hclen = (int32_t)r->get(4) + 4;
    if (hlit > DF_LITLEN || hdist > DF_DIST) return false;
    uint8_t lengths[DF_LITLEN + DF_DIST] = {};
    for (int32_t i = 0; i < hclen; i++) lengths[DF_CL_ORDER[i]] = (uint8_t)r->get(3);
    df_huffman cl;
    if (df_build(&cl, lengths, DF_CODELEN) != 0) return false; // the code-length code must be complete
    int32_t at = 0;
    memset(lengths, 0, sizeof lengths);
    while (at < hlit + hdist) {
        const int32_t sym = df_decode(r, &cl);
        if (sym < 0 || r->short_input) return false;
        if (sym < 16) {
            lengths[at++] = (uint8_t)sym;
            continue;
        }
        uint8_t value = 0;
        int32_t repeat;
        if (sym == 16) {
            if (at == 0) return false;
            value = lengths[at - 1];
            repeat = 3 + (int32_t)r->get(2);
        } else if (sym == 17) {
            repeat = 3 + (int32_t)r->get(3);
        } else {
            repeat = 11 + (int32_t)r->get(7);
        }
        if (at + repeat > hlit + hdist) return false;
        while (repeat--) lengths[at++] = value;
    }
    if (lengths[256] == 0) return false; // a block that cannot end
    df_huffman lit, dist;
    if (!df_usable(df_build(&lit, lengths, hlit), lengths, hlit)) return false;
    if (!df_usable(df_build(&dist, lengths + hlit, hdist), lengths + hlit, hdist)) return false;
    return df_inflate_codes(r, &lit, &dist, limit, out);
}

} // namespace

std::vector<uint8_t> os_deflate(const uint8_t* data, size_t size) {
    df_writer w;
    const int32_t n = (int32_t)std::min<size_t>(size, 0x7FFFFFFF);
    const std::vector<df_token> tokens = df_tokens(data, n);
    size_t t = 0;
    int32_t at = 0;
    do {
        const size_t count = std::min<size_t>(tokens.size() - t, DF_BLOCK_TOKENS);
        int32_t bytes = 0;
        for (size_t i = t; i < t + count; i++) bytes += tokens[i].dist ? tokens[i].value : 1;
        const bool final = t + count >= tokens.size();
        df_write_block(&w, tokens.data() + t, (int32_t)count, data + at, bytes, final);
        t += count;
        at += bytes;
    } while (t < tokens.size());
    w.align();
    return std::move(w.out);
}

bool os_inflate(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>* out) {
    out->clear();
    df_reader r{data, size};
    bool ok = true;
    for (bool last = false; ok && !last;) {
        last = r.get(1) != 0;
        const uint32_t type = r.get(2);
        if (r.short_input) {
            ok = false;
        } else if (type == 0) {
            // Stored: the rest of this byte is dropped, then LEN and its complement NLEN.
            r.bits = 0;
            r.count = 0;
            if (r.pos + 4 > size) {
                ok = false;
                break;
            }
            const uint32_t len = (uint32_t)data[r.pos] | (uint32_t)data[r.pos + 1] << 8;
            const uint32_t nlen = (uint32_t)data[r.pos + 2] | (uint32_t)data[r.pos + 3] << 8;
            r.pos += 4;
            ok = (len ^ 0xFFFF) == nlen && r.pos + len <= size && out->size() + len <= limit;
            if (ok) {
                out->insert(out->end(), data + r.pos, data + r.pos + len);
                r.pos += len;
            }
        } else if (type == 1) {
            uint8_t lengths[288 + 32];
            df_fixed_lengths(lengths, lengths + 288);
            df_huffman lit, dist;
            df_build(&lit, lengths, 288);
            df_build(&dist, lengths + 288, 30);
            ok = df_inflate_codes(&r, &lit, &dist, limit, out);
        } else if (type == 2) {
            ok = df_inflate_dynamic(&r, limit, out);
        } else {
            ok = false;
        }
    }
    // Only the unused bits of the last byte may follow the final block.
    if (ok && (r.short_input || r.pos != size)) ok = false;
    if (!ok) out->clear();
    return ok;
}

std::string os_base64url(const uint8_t* data, size_t size) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    text.reserve((size * 4 + 2) / 3);
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t v = (uint32_t)data[i] << 16 | (uint32_t)data[i + 1] << 8 | data[i + 2];
        for (int32_t k = 18; k >= 0; k -= 6) text += alphabet[(v >> k) & 63];
    }
    if (size - i == 1) {
        const uint32_t v = (uint32_t)data[i] << 16;
        text += alphabet[v >> 18];
        text += alphabet[(v >> 12) & 63];
    } else if (size - i == 2) {
        const uint32_t v = (uint32_t)data[i] << 16 | (uint32_t)data[i + 1] << 8;
        text += alphabet[v >> 18];
        text += alphabet[(v >> 12) & 63];
        text += alphabet[(v >> 6) & 63];
    }
    return text;
}

bool os_from_base64url(const char* text, size_t length, std::vector<uint8_t>* out) {
    out->clear();
    while (length > 0 && text[length - 1] == '=') length--;
    if (length % 4 == 1) return false;
    out->reserve(length * 3 / 4);
    uint32_t acc = 0;
    int32_t bits = 0;
    for (size_t i = 0; i < length; i++) {
        const char c = text[i];
        int32_t v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '-')
            v = 62;
        else if (c == '_')
            v = 63;
        else {
            out->clear();
            return false;
        }
        acc = acc << 6 | (uint32_t)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out->push_back((uint8_t)(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    return true;
}
