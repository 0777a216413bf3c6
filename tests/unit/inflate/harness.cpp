#include "harness.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "decoder_embedding.h"
#include "inflate_internal.h"

// --- the embedding: chunks on a guarded page, pieces collected ------------------------------

namespace {

// Memory whose usable part ends at an inaccessible page: bytes placed at its end are followed
// by nothing, so reading one byte too far crashes the test at once. The bytes just before them
// are filled with a pattern, so that reading before them gives wrong output.
struct GuardedRegion {
    uint8_t* base = nullptr;
    size_t usable = 0;
    explicit GuardedRegion(size_t capacity)
    {
        size_t page = (size_t)sysconf(_SC_PAGESIZE);
        usable = (capacity + page - 1) / page * page;
        void* memory = mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED || mprotect((uint8_t*)memory + usable, page, PROT_NONE) != 0)
            abort();
        base = (uint8_t*)memory;
    }
    uint8_t* place(const uint8_t* data, size_t n)
    {
        if (n > usable)
            abort();
        size_t poisoned = std::min<size_t>(usable - n, 64);
        memset(base + usable - n - poisoned, 0xA5, poisoned);
        if (n > 0)
            memcpy(base + usable - n, data, n);
        return base + usable - n;
    }
};

GuardedRegion& input_region()
{
    static GuardedRegion region(IO_BUFFER_CAPACITY);
    return region;
}

uint8_t* place_on_guarded_page(const uint8_t* data, uint32_t n)
{
    return input_region().place(data, n);
}

Bytes collected;

void collect_piece(const uint8_t* piece, uint32_t n)
{
    collected.insert(collected.end(), piece, piece + n);
}

}  // namespace

void ensure_window()
{
    ensure_slide_window();
}

static void check_tables_released(std::string* found)
{
    if (literal_code.built || distance_code.built || precode.built)
        *found += "per-block tables not released; ";
    if (fixed_literal_code.built != fixed_distance_code.built)
        *found += "fixed tables half built; ";
}

DecodeRun decode_stream(const Bytes& stream, const DecodeOptions& options)
{
    DecodeRun run;
    embedded.chunk = options.chunk;
    embedded.place_chunk = place_on_guarded_page;
    embedded.take_piece = collect_piece;
    embedded.refill_marks = &run.refill_marks;
    collected.clear();
    uint32_t declared = options.declared < 0 ? (uint32_t)stream.size() : (uint32_t)options.declared;
    start_embedded_stream(stream.data(), stream.size(), declared);
    fast_loop_enabled = options.fast_loop;
    run.result = inflate_stream(options.deflate64 ? 1 : 0);
    fast_loop_enabled = true;
    if (run.result == INFLATE_OK)
        run.unused_bytes = inflate_unused_bytes();

    run.bytes_taken = finish_embedded_stream();
    run.output = std::move(collected);
    collected.clear();
    if ((int64_t)source_remaining < 0 || run.bytes_taken > declared)
        run.problems += "took more than the declared size; ";
    if (embedded.refill_beyond)
        run.problems += "refill beyond the stream; ";
    if (embedded.bad_piece)
        run.problems += "flush_output with a partial piece; ";
    check_tables_released(&run.problems);
    embedded.refill_marks = nullptr;
    return run;
}

MemoryRun decode_memory(const Bytes& stream, uint32_t capacity)
{
    ensure_window();
    enum { GUARD = 64, GUARD_BYTE = 0xA5 };
    std::unique_ptr<uint8_t[]> block(new uint8_t[capacity + GUARD]);
    memset(block.get(), GUARD_BYTE, capacity + GUARD);
    MemoryRun run;
    static GuardedRegion region(1u << 20);
    const uint8_t* src = region.place(stream.data(), stream.size());
    run.result = inflate_memory(src, (uint32_t)stream.size(), block.get(), capacity);
    run.output.assign(block.get(), block.get() + capacity);
    run.guard_intact = std::all_of(block.get() + capacity, block.get() + capacity + GUARD,
                                   [](uint8_t b) { return b == GUARD_BYTE; });
    std::string found;
    check_tables_released(&found);
    if (!found.empty() || memory_mode || input_cursor || output_cursor)
        run.guard_intact = false;
    return run;
}

// --- stream makers ---------------------------------------------------------------------------

Bytes zlib_deflate(const Bytes& data, int level, int strategy, int window_bits, int mem_level)
{
    z_stream z = {};
    if (deflateInit2(&z, level, Z_DEFLATED, -window_bits, mem_level, strategy) != Z_OK)
        abort();
    Bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool zlib_inflate(const Bytes& stream, Bytes* out)
{
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    out->clear();
    z.next_in = const_cast<uint8_t*>(stream.data());
    z.avail_in = (uInt)stream.size();
    uint8_t piece[65536];
    int status;
    do {
        z.next_out = piece;
        z.avail_out = sizeof piece;
        status = inflate(&z, Z_NO_FLUSH);
        out->insert(out->end(), piece, piece + (sizeof piece - z.avail_out));
    } while (status == Z_OK);
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

static uint32_t read_le(const Bytes& b, size_t at, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | b.at(at + i);
    return v;
}

bool have_7zz()
{
    return system("command -v 7zz >/dev/null 2>&1") == 0;
}

bool sevenzip_deflate64(const Bytes& data, Bytes* stream)
{
    char folder[] = "/tmp/tv_inflate_7z_XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return false;
    std::string dir = folder;
    FILE* f = fopen((dir + "/data.bin").c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    std::string command = "cd " + dir + " && 7zz a -tzip -mm=Deflate64 -mx=9 out.zip data.bin >/dev/null 2>&1";
    bool made = system(command.c_str()) == 0;
    Bytes zip;
    if (made) {
        f = fopen((dir + "/out.zip").c_str(), "rb");
        int c;
        while ((c = fgetc(f)) != EOF)
            zip.push_back((uint8_t)c);
        fclose(f);
    }
    system(("rm -rf " + dir).c_str());
    if (!made || zip.size() < 30 || read_le(zip, 0, 4) != 0x04034b50 || read_le(zip, 8, 2) != 9)
        return false;
    uint32_t size = read_le(zip, 18, 4);
    size_t start = 30 + read_le(zip, 26, 2) + read_le(zip, 28, 2);
    stream->assign(zip.begin() + start, zip.begin() + start + size);
    return true;
}

// Small deterministic generator (xorshift32).
struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed * 2654435761u + 1) {}
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

static void append_text(Bytes& out, size_t size, Random& rng)
{
    static const char* const words[] = {
        "the", "window", "decoder", "stream", "block", "of", "and", "a", "to", "in", "archive",
        "extract", "Datei", "Ordner", "Huffman", "code", "length", "distance", "literal", "static",
        "uint32_t", "return", "if", "for", "while", "struct", "{", "}", "(", ")", ";", "=", "0x7000"};
    const size_t count = sizeof words / sizeof words[0];
    while (out.size() < size) {
        // Zipf-like: low indices far more often.
        uint32_t r = rng.below(count * count);
        const char* w = words[count - 1 - (size_t)(__builtin_sqrt((double)r))];
        out.insert(out.end(), w, w + strlen(w));
        out.push_back(rng.below(9) == 0 ? '\n' : ' ');
    }
}

static void append_binary(Bytes& out, size_t size, Random& rng)
{
    // Instruction-like records: small opcodes, little-endian offsets, zero padding, repeats.
    while (out.size() < size) {
        uint32_t kind = rng.below(6);
        if (kind < 3) {
            uint8_t op[] = {0x8B, 0x89, 0xE8, 0x48, 0x83, 0xFF, 0x0F};
            out.push_back(op[rng.below(7)]);
            out.push_back((uint8_t)(rng.below(8) * 8 + rng.below(8)));
            uint32_t offset = rng.below(4096);
            for (int i = 0; i < 4; ++i)
                out.push_back((uint8_t)(offset >> (8 * i)));
        } else if (kind == 3) {
            out.insert(out.end(), rng.below(24), 0);
        } else if (out.size() > 64) {
            size_t back = 1 + rng.below((uint32_t)std::min<size_t>(out.size(), 60000));
            size_t len = 4 + rng.below(40);
            for (size_t i = 0; i < len; ++i)
                out.push_back(out[out.size() - back]);
        } else {
            out.push_back((uint8_t)rng.next());
        }
    }
}

Bytes make_data(const std::string& kind, size_t size, uint32_t seed)
{
    Random rng(seed);
    Bytes out;
    out.reserve(size + 300);
    if (kind == "text") {
        append_text(out, size, rng);
    } else if (kind == "binary") {
        append_binary(out, size, rng);
    } else if (kind == "random") {
        while (out.size() < size)
            out.push_back((uint8_t)(rng.next() >> 24));
    } else if (kind == "runs") {
        while (out.size() < size)
            out.insert(out.end(), 1 + rng.below(rng.below(4) == 0 ? 2000 : 12), (uint8_t)rng.below(4));
    } else {  // mixed: stretches of each kind, so blocks change type along the way
        static const char* const kinds[] = {"text", "random", "binary", "runs"};
        for (int part = 0; out.size() < size; ++part) {
            Bytes piece = make_data(kinds[part % 4], 5000 + rng.below(40000), seed + part + 1);
            out.insert(out.end(), piece.begin(), piece.end());
        }
    }
    out.resize(size);
    return out;
}

// --- bit writer ------------------------------------------------------------------------------

void BitWriter::put(uint32_t value, int bits)
{
    pending |= (uint64_t)(value & ((1ull << bits) - 1)) << pending_bits;
    pending_bits += bits;
    while (pending_bits >= 8) {
        bytes.push_back((uint8_t)pending);
        pending >>= 8;
        pending_bits -= 8;
    }
}

void BitWriter::put_code(uint32_t code, int bits)
{
    uint32_t reversed = 0;
    for (int i = 0; i < bits; ++i)
        reversed |= ((code >> i) & 1) << (bits - 1 - i);
    put(reversed, bits);
}

void BitWriter::align()
{
    if (pending_bits > 0)
        put(0, 8 - pending_bits);
}

Bytes BitWriter::finish()
{
    align();
    return bytes;
}

std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths)
{
    uint32_t count[16] = {0}, next[16] = {0};
    for (uint8_t l : lengths)
        ++count[l];
    count[0] = 0;
    for (int bits = 1, code = 0; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i) {
        if (lengths[i])
            codes[i] = next[lengths[i]]++;
    }
    return codes;
}

std::vector<uint8_t> fixed_literal_lengths()
{
    std::vector<uint8_t> lengths(288, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    return lengths;
}

std::vector<uint8_t> fixed_distance_lengths()
{
    return std::vector<uint8_t>(32, 5);
}

std::vector<LengthSymbol> plain_length_symbols(const std::vector<uint8_t>& literal_lengths,
                                               const std::vector<uint8_t>& distance_lengths)
{
    std::vector<LengthSymbol> symbols;
    for (uint8_t l : literal_lengths)
        symbols.push_back({l, 0});
    for (uint8_t l : distance_lengths)
        symbols.push_back({l, 0});
    return symbols;
}

void write_dynamic_header(BitWriter& out, int literal_count, int distance_count,
                          const std::vector<LengthSymbol>& symbols)
{
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<uint8_t> precode_lengths(19);
    for (int s = 0; s < 19; ++s)
        precode_lengths[s] = s <= 12 ? 4 : 5;
    std::vector<uint32_t> codes = canonical_codes(precode_lengths);
    out.put(literal_count - 257, 5);
    out.put(distance_count - 1, 5);
    out.put(19 - 4, 4);
    for (int i = 0; i < 19; ++i)
        out.put(precode_lengths[order[i]], 3);
    for (const LengthSymbol& s : symbols) {
        out.put_code(codes[s.symbol], precode_lengths[s.symbol]);
        if (s.symbol == 16)
            out.put(s.extra, 2);
        else if (s.symbol == 17)
            out.put(s.extra, 3);
        else if (s.symbol == 18)
            out.put(s.extra, 7);
    }
}
