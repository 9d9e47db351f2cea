// The song link's codec: raw DEFLATE both ways (streams made by another compressor read back, every block type,
// long inputs, broken streams refused in bounded time), base64url, and the "#qvl=" fragment of the example song.
#include "app.h"
#include "os_deflate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> from_hex(const char* hex) {
    std::vector<uint8_t> out;
    for (const char* p = hex; p[0] && p[1]; p += 2) out.push_back((uint8_t)std::stoi(std::string(p, 2), nullptr, 16));
    return out;
}

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> inflate(const std::vector<uint8_t>& in, size_t limit = 1 << 24) {
    std::vector<uint8_t> out;
    if (!os_inflate(in.data(), in.size(), limit, &out)) return {0xDE, 0xAD};
    return out;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// The mixed inputs of the round trips: empty, one byte, text, runs, noise, a real module, and longer than one
// block, one stored block and the window.
std::vector<std::pair<std::string, std::vector<uint8_t>>> samples() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> s;
    s.push_back({"empty", {}});
    s.push_back({"one byte", {0x42}});
    s.push_back({"text", bytes("QuavloII plays four channels of QuavloII patterns; QuavloII.")});
    s.push_back({"one run", std::vector<uint8_t>(100000, 0x55)});
    std::mt19937 rng(7);
    std::vector<uint8_t> noise(150000);
    for (uint8_t& b : noise) b = (uint8_t)rng();
    s.push_back({"noise", noise});
    std::vector<uint8_t> few(300000);
    for (size_t i = 0; i < few.size(); i++) few[i] = "ACGT"[rng() % 4];
    s.push_back({"four letters", few});
    std::vector<uint8_t> far(70000);
    for (size_t i = 0; i < far.size(); i++) far[i] = (uint8_t)(i < 35000 ? rng() : far[i - 33000]);
    s.push_back({"repeats at the window's edge", far});
    s.push_back({"tune.qvl", read_file(std::string(QUAVLO_SOURCE_DIR) + "/examples/tune.qvl")});
    return s;
}

TEST(LinkCodec, ReadsStreamsOfAnotherCompressor) {
    // Made with zlib's raw deflate: fixed codes, fixed codes with repeats, a stored block, dynamic codes.
    std::vector<uint8_t> dynamic_in(400);
    for (int i = 0; i < 400; i++)
        dynamic_in[i] = (uint8_t) "ACGTacgtXY"[(i * i * 7 + i * 3 + (i >> 3) + (i * i * i >> 5)) % 10];
    const struct {
        const char* stream;
        std::vector<uint8_t> want;
    } cases[] = {
        {"cb48cdc9c957c8402701", bytes("hello hello hello hello")},
        {"0b2c4d2ccbc9f7f454081c65d0920100",
         [] {
             std::string s;
             for (int i = 0; i < 40; i++) s += "QuavloII ";
             return bytes(s);
         }()},
        {"010300fcff616263", bytes("abc")},
        {"ad90b111445108026b630c68e0051a32063460ff73fc1e2ed88c714140f4b3e6c8291863b05a53648d1f3f80da565592324bc06e7b0e4"
         "d"
         "81f099f731004e7099b3c40c1ecec7ee9ace793b27426336ca4f27b175e0ae7dd750d25ee33e0e87d539ae61ce1b0579e99e89aee4140"
         "8"
         "0b6f9a55928a419b82d974dba7e59a39fd212ca8989caadc111a34f92278cc40675d78d09654ebd5f089a99355a9b64adad1dd0733fec"
         "ff"
         "ffb01",
         dynamic_in},
    };
    for (const auto& c : cases) EXPECT_EQ(inflate(from_hex(c.stream)), c.want) << c.stream;
}

TEST(LinkCodec, RoundTripsAndPicksTheShortestBlocks) {
    for (const auto& [name, data] : samples()) {
        const std::vector<uint8_t> packed = os_deflate(data.data(), data.size());
        EXPECT_EQ(inflate(packed), data) << name;
        // Nothing grows by more than the stored blocks' framing (a block holds at most 16384 literals).
        EXPECT_LE(packed.size(), data.size() + 5 * (data.size() / 16384 + 2)) << name;
        if (name == "one run") {
            EXPECT_LT(packed.size(), 1000u);
        } else if (name == "four letters") {
            EXPECT_LT(packed.size(), data.size() / 3) << "own codes beat fixed ones";
        } else if (name == "noise") {
            EXPECT_EQ(packed[0] & 6, 0) << "noise is stored";
        }
    }
}

TEST(LinkCodec, RefusesBrokenStreams) {
    const std::vector<uint8_t> good = from_hex("cb48cdc9c957c8402701");
    EXPECT_EQ(inflate(from_hex("4b040200")), bytes("aaaa")) << "the same pair one byte back is fine";
    const struct {
        const char* why;
        std::vector<uint8_t> stream;
    } cases[] = {
        {"reserved block type", {0x07}},
        {"stored length and complement differ", from_hex("010300fdff616263")},
        {"stored block longer than the input", from_hex("010400fbff616263")},
        {"no final block", from_hex("000300fcff616263")},
        {"bytes after the final block", from_hex("cb48cdc9c957c840270100")},
        {"distance before the start", from_hex("4b044200")},
        {"reserved length symbol", from_hex("4b1c0300")},
        {"reserved distance symbol", from_hex("4b043e00")},
        {"dynamic: more than 286 length codes", from_hex("f5000000000000")},
        {"dynamic: repeat with nothing before it", from_hex("050002240000")},
        {"dynamic: over-subscribed code-length code", from_hex("050092000000")},
        {"dynamic: no end-of-block code", from_hex("050090e07f1b")},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out = {1, 2, 3};
        EXPECT_FALSE(os_inflate(c.stream.data(), c.stream.size(), 1 << 20, &out)) << c.why;
        EXPECT_TRUE(out.empty()) << c.why;
    }
    // Every shorter piece of a good stream is refused, nothing at all among them.
    for (size_t n = 0; n < good.size(); n++) {
        std::vector<uint8_t> out;
        EXPECT_FALSE(os_inflate(good.data(), n, 1 << 20, &out)) << n << " bytes";
    }
    // An output beyond the limit is refused, however small the stream.
    const std::vector<uint8_t> run(100000, 0);
    const std::vector<uint8_t> bomb = os_deflate(run.data(), run.size());
    std::vector<uint8_t> out;
    EXPECT_FALSE(os_inflate(bomb.data(), bomb.size(), 99999, &out));
    EXPECT_TRUE(os_inflate(bomb.data(), bomb.size(), 100000, &out));
}

TEST(LinkCodec, AnyBytesEndInBoundedTime) {
    std::mt19937 rng(2024);
    const std::vector<uint8_t> module = read_file(std::string(QUAVLO_SOURCE_DIR) + "/examples/tune.qvl");
    const std::vector<uint8_t> packed = os_deflate(module.data(), module.size());
    int read_back = 0;
    for (int round = 0; round < 20000; round++) {
        std::vector<uint8_t> in;
        if (round % 2) {
            in.resize(rng() % 64);
            for (uint8_t& b : in) b = (uint8_t)rng();
        } else {
            // A real stream with a few bits flipped.
            in = packed;
            for (int k = 0; k < 3; k++) in[rng() % in.size()] ^= (uint8_t)(1 << (rng() % 8));
        }
        std::vector<uint8_t> out;
        read_back += os_inflate(in.data(), in.size(), 1 << 16, &out);
        EXPECT_LE(out.size(), 1u << 16);
    }
    EXPECT_LT(read_back, 20000);
}

TEST(LinkCodec, Base64url) {
    const struct {
        const char* raw;
        const char* text;
    } vectors[] = {{"", ""},           {"f", "Zg"},          {"fo", "Zm8"},         {"foo", "Zm9v"},
                   {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}};
    for (const auto& v : vectors) {
        EXPECT_EQ(os_base64url((const uint8_t*)v.raw, strlen(v.raw)), v.text);
        std::vector<uint8_t> back;
        ASSERT_TRUE(os_from_base64url(v.text, strlen(v.text), &back)) << v.text;
        EXPECT_EQ(std::string(back.begin(), back.end()), v.raw);
    }
    const uint8_t high[] = {0xFB, 0xFF, 0xBF};
    EXPECT_EQ(os_base64url(high, 3), "-_-_");
    std::vector<uint8_t> back;
    EXPECT_TRUE(os_from_base64url("Zm8=", 4, &back)) << "padding at the end is read";
    for (const char* bad : {"Zm9v+", "Zm/v", "Z", "Zm9vY", "Zm 9v", "Zm=8"}) {
        back = {1};
        EXPECT_FALSE(os_from_base64url(bad, strlen(bad), &back)) << bad;
        EXPECT_TRUE(back.empty()) << bad;
    }
}

TEST(LinkCodec, SongLinks) {
    const std::vector<uint8_t> module = read_file(std::string(QUAVLO_SOURCE_DIR) + "/examples/tune.qvl");
    ASSERT_FALSE(module.empty());
    const std::string fragment = app_link_fragment(module.data(), (int32_t)module.size());
    EXPECT_EQ(fragment.rfind("#qvl=", 0), 0u);
    // With the page's address in front (http://127.0.0.1:8080/ as scripts/web.sh serves it).
    EXPECT_LE(std::string("http://127.0.0.1:8080/").size() + fragment.size(), 300u) << fragment;
    std::vector<uint8_t> back;
    EXPECT_EQ(app_link_module(fragment.c_str(), &back), 1);
    EXPECT_EQ(back, module);

    // No song link (0); a link of no text, of what is no base64url, of a stream cut short, of a stream of no bytes.
    const struct {
        const char* fragment;
        int result;
    } cases[] = {{"", 0},         {"#song", 0},      {"#qvl", 0},
                 {"#qvl=", -1},   {"#qvl=@@@@", -1}, {"#qvl=y0jNyclXyEAn", -1},
                 {"#qvl=AwA", -1}};
    for (const auto& c : cases) {
        back = {1};
        EXPECT_EQ(app_link_module(c.fragment, &back), c.result) << c.fragment;
        EXPECT_TRUE(back.empty()) << c.fragment;
    }
    // A link that carries bytes, whatever they are, gives them back: whether they make a song is LOAD's question.
    const std::string text = app_link_fragment((const uint8_t*)"not a song", 10);
    EXPECT_EQ(app_link_module(text.c_str(), &back), 1);
    EXPECT_EQ(std::string(back.begin(), back.end()), "not a song");
}

} // namespace
