// Raw DEFLATE (RFC 1951: no zlib or gzip wrapper around it) and base64url without padding (RFC 4648, section 5):
// how a song travels in a link and rests in a browser's storage. Portable, no state; any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Compresses size bytes into a complete raw DEFLATE stream (final block included). Each block is written in
// whichever form is shortest for it: stored, fixed Huffman codes or dynamic Huffman codes.
std::vector<uint8_t> os_deflate(const uint8_t* data, size_t size);

// Decompresses a complete raw DEFLATE stream into *out. False, with *out emptied, when the bytes are not one:
// a reserved block type or code, a code that is over-subscribed or incomplete, a distance before the start, a
// stored length whose complement does not match, a stream that ends before its final block or carries whole
// bytes after it, or an output that would grow beyond limit bytes. Any input ends in bounded time.
bool os_inflate(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>* out);

// The bytes in base64url: A-Z a-z 0-9 - _, no padding.
std::string os_base64url(const uint8_t* data, size_t size);
// Reads base64url text (padding '=' at the end is allowed, nothing else outside the alphabet). False, with *out
// emptied, for any other character or a length that no bytes give.
bool os_from_base64url(const char* text, size_t length, std::vector<uint8_t>* out);
