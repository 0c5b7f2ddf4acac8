// The two directions of the TLV codec. Each TLV's layout is written once, as
// a template `visit(Io&, record&)` in tlv_layout.h, and runs with a Reader
// (bytes -> record) or a Writer (record -> bytes); other Io kinds (the test
// suite's random filler, the dump printer) reuse the same descriptions.
//
// Io operations, all returning false to stop the walk:
//   u8/u16/u24/u32(v)          big-endian integers
//   mac(m)                     6-byte address
//   fixed(p, n)                n bytes into/from an array
//   flags(bits(a, 7, 1), ...)  one byte holding bit fields (shift, width)
//   counted(count, vec, min, fn)  a count field of count's width, then the
//                              entries; MIN is the smallest entry size on the
//                              wire (bounds what a reader allocates)
//   rest(vec, min, fn)         entries up to the end of the current scope
//   rest_bytes(v)              bytes up to the end of the current scope
//   bytes(v, n)                exactly n bytes (n read earlier)
//   lbytes8(len, p, cap)       length byte, then len (<= cap) bytes into an array
//   str8(s)                    length byte, then that many bytes of text
//   scope8(fn)                 length byte covering what fn reads or writes
//   tail(present, fn)          optional trailing part: present when bytes remain
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "common/mac.h"

namespace map_codec {

template <class U>
struct Bits {
    U* v;
    uint8_t shift;
    uint8_t width;
};
template <class U>
inline Bits<U> bits(U& v, uint8_t shift, uint8_t width) {
    return Bits<U>{&v, shift, width};
}

// ---- Reader ---------------------------------------------------------------
class Reader {
  public:
    static constexpr bool reading = true;

    Reader(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}

    size_t remaining() const { return static_cast<size_t>(end_ - p_); }
    bool at_end() const { return p_ == end_; }

    bool u8(uint8_t& v) {
        if (p_ >= end_)
            return false;
        v = *p_++;
        return true;
    }
    bool u16(uint16_t& v) {
        if (remaining() < 2)
            return false;
        v = static_cast<uint16_t>((p_[0] << 8) | p_[1]);
        p_ += 2;
        return true;
    }
    bool u24(uint32_t& v) {
        if (remaining() < 3)
            return false;
        v = (uint32_t(p_[0]) << 16) | (uint32_t(p_[1]) << 8) | p_[2];
        p_ += 3;
        return true;
    }
    bool u32(uint32_t& v) {
        if (remaining() < 4)
            return false;
        v = (uint32_t(p_[0]) << 24) | (uint32_t(p_[1]) << 16) | (uint32_t(p_[2]) << 8) | p_[3];
        p_ += 4;
        return true;
    }
    bool mac(MAC& m) { return fixed(m.data(), 6); }
    bool fixed(uint8_t* dst, size_t n) {
        if (remaining() < n)
            return false;
        std::memcpy(dst, p_, n);
        p_ += n;
        return true;
    }
    template <class... B>
    bool flags(B... b) {
        uint8_t x;
        if (!u8(x))
            return false;
        (set_bits(x, b), ...);
        return true;
    }
    template <class C, class V, class F>
    bool counted(C& count, V& vec, size_t min_size, F&& fn) {
        static_assert(std::is_same<C, uint8_t>::value || std::is_same<C, uint16_t>::value,
                      "count fields are 8 or 16 bits");
        C n;
        if (!read_count(n))
            return false;
        // Every entry takes at least MIN_SIZE bytes, so a count beyond what the
        // scope can hold is malformed, and allocation stays bounded by the input.
        if (static_cast<size_t>(n) * min_size > remaining())
            return false;
        count = n;
        vec.clear();
        vec.resize(n);
        for (auto& e : vec) {
            if (!fn(e))
                return false;
        }
        return true;
    }
    template <class V, class F>
    bool rest(V& vec, size_t min_size, F&& fn) {
        vec.clear();
        if (min_size)
            vec.reserve(remaining() / min_size);
        while (!at_end()) {
            const uint8_t* before = p_;
            vec.emplace_back();
            if (!fn(vec.back()) || p_ == before)
                return false;
        }
        return true;
    }
    bool rest_bytes(std::vector<uint8_t>& v) {
        v.assign(p_, end_);
        p_ = end_;
        return true;
    }
    bool bytes(std::vector<uint8_t>& v, size_t n) {
        if (remaining() < n)
            return false;
        v.assign(p_, p_ + n);
        p_ += n;
        return true;
    }
    bool lbytes8(uint8_t& len, uint8_t* dst, size_t cap) {
        uint8_t n;
        if (!u8(n) || n > cap)
            return false;
        len = n;
        return fixed(dst, n);
    }
    bool str8(std::string& s) {
        uint8_t n;
        if (!u8(n) || remaining() < n)
            return false;
        s.assign(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return true;
    }
    template <class F>
    bool scope8(F&& fn) {
        uint8_t n;
        if (!u8(n) || remaining() < n)
            return false;
        const uint8_t* outer = end_;
        end_ = p_ + n;
        bool ok = fn() && at_end();
        end_ = outer;
        return ok;
    }
    template <class F>
    bool tail(uint8_t& present, F&& fn) {
        present = at_end() ? 0 : 1;
        return present ? fn() : true;
    }

  private:
    template <class U>
    static void set_bits(uint8_t x, Bits<U> b) {
        *b.v = static_cast<U>((x >> b.shift) & ((1u << b.width) - 1));
    }
    bool read_count(uint8_t& n) { return u8(n); }
    bool read_count(uint16_t& n) { return u16(n); }

    const uint8_t* p_;
    const uint8_t* end_;
};

// ---- Writer ---------------------------------------------------------------
// Appends to a byte vector. Refuses (returns false) values that do not fit
// their wire field: lists longer than their count width, bit-field values
// wider than the field, SSIDs over their cap, scopes over 255 bytes.
class Writer {
  public:
    static constexpr bool reading = false;

    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}

    bool u8(const uint8_t& v) {
        out_.push_back(v);
        return true;
    }
    bool u16(const uint16_t& v) {
        uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
        out_.insert(out_.end(), b, b + 2);
        return true;
    }
    bool u24(const uint32_t& v) {
        if (v > 0xFFFFFF)
            return false;
        uint8_t b[3] = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        out_.insert(out_.end(), b, b + 3);
        return true;
    }
    bool u32(const uint32_t& v) {
        uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        out_.insert(out_.end(), b, b + 4);
        return true;
    }
    bool mac(const MAC& m) { return fixed(m.data(), 6); }
    bool fixed(const uint8_t* src, size_t n) {
        out_.insert(out_.end(), src, src + n);
        return true;
    }
    template <class... B>
    bool flags(B... b) {
        uint8_t x = 0;
        bool ok = true;
        (get_bits(x, ok, b), ...);
        return ok && u8(x);
    }
    template <class C, class V, class F>
    bool counted(const C&, const V& vec, size_t, F&& fn) {
        if (vec.size() > std::numeric_limits<C>::max())
            return false;
        if (!write_count(static_cast<C>(vec.size())))
            return false;
        for (auto& e : vec) {
            if (!fn(const_cast<typename V::value_type&>(e)))
                return false;
        }
        return true;
    }
    template <class V, class F>
    bool rest(const V& vec, size_t, F&& fn) {
        for (auto& e : vec) {
            if (!fn(const_cast<typename V::value_type&>(e)))
                return false;
        }
        return true;
    }
    bool rest_bytes(const std::vector<uint8_t>& v) {
        out_.insert(out_.end(), v.begin(), v.end());
        return true;
    }
    bool bytes(const std::vector<uint8_t>& v, size_t n) { return v.size() == n && rest_bytes(v); }
    bool lbytes8(const uint8_t& len, const uint8_t* src, size_t cap) {
        return len <= cap && u8(len) && fixed(src, len);
    }
    bool str8(const std::string& s) {
        if (s.size() > 255)
            return false;
        u8(static_cast<uint8_t>(s.size()));
        out_.insert(out_.end(), s.begin(), s.end());
        return true;
    }
    template <class F>
    bool scope8(F&& fn) {
        size_t at = out_.size();
        out_.push_back(0);
        if (!fn())
            return false;
        size_t n = out_.size() - at - 1;
        if (n > 255)
            return false;
        out_[at] = static_cast<uint8_t>(n);
        return true;
    }
    template <class F>
    bool tail(const uint8_t& present, F&& fn) {
        return present ? fn() : true;
    }

  private:
    template <class U>
    static void get_bits(uint8_t& x, bool& ok, Bits<U> b) {
        unsigned v = *b.v;
        if (v >= (1u << b.width))
            ok = false;
        x = static_cast<uint8_t>(x | ((v & ((1u << b.width) - 1)) << b.shift));
    }
    bool write_count(uint8_t n) { return u8(n); }
    bool write_count(uint16_t n) { return u16(n); }

    std::vector<uint8_t>& out_;
};

}  // namespace map_codec
