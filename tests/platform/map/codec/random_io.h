// Fills a record with random values through the same layout the codec uses,
// keeping every value inside what its wire field can carry (list sizes small,
// bit fields within their width, SSIDs within 32 bytes, texts within MAX_TEXT bytes).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "map/codec/tlv_io.h"

class RandomFiller {
  public:
    static constexpr bool reading = true;
    explicit RandomFiller(uint32_t seed, uint32_t max_text = 30)
        : rng_(seed), max_text_(max_text) {}

    bool u8(uint8_t& v) { return set(v, 0xFF); }
    bool u16(uint16_t& v) { return set(v, 0xFFFF); }
    bool u24(uint32_t& v) { return set(v, 0xFFFFFF); }
    bool u32(uint32_t& v) { return set(v, 0xFFFFFFFF); }
    bool mac(MAC& m) { return fixed(m.data(), 6); }
    bool fixed(uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<uint8_t>(pick(255));
        return true;
    }
    template <class... B>
    bool flags(B... b) {
        (set(*b.v, (1u << b.width) - 1), ...);
        return true;
    }
    template <class C, class V, class F>
    bool counted(C& count, V& vec, size_t, F&& fn) {
        vec.clear();
        vec.resize(pick(4));
        count = static_cast<C>(vec.size());
        for (auto& e : vec)
            fn(e);
        return true;
    }
    template <class V, class F>
    bool rest(V& vec, size_t, F&& fn) {
        vec.clear();
        vec.resize(pick(4));
        for (auto& e : vec)
            fn(e);
        return true;
    }
    bool rest_bytes(std::vector<uint8_t>& v) {
        v.resize(pick(12));
        return fixed(v.data(), v.size());
    }
    bool bytes(std::vector<uint8_t>& v, size_t n) {
        v.resize(n);
        return fixed(v.data(), n);
    }
    bool lbytes8(uint8_t& len, uint8_t* p, size_t cap) {
        len = static_cast<uint8_t>(pick(static_cast<uint32_t>(cap)));
        return fixed(p, len);
    }
    bool str8(std::string& s) {
        s.assign(pick(max_text_), 'x');
        for (auto& c : s)
            c = static_cast<char>('0' + pick(40));
        return true;
    }
    template <class F>
    bool scope8(F&& fn) {
        return fn();
    }
    template <class F>
    bool tail(uint8_t& present, F&& fn) {
        present = static_cast<uint8_t>(pick(1));
        return present ? fn() : true;
    }

    // Uniform in [0, max].
    uint32_t pick(uint32_t max) { return std::uniform_int_distribution<uint32_t>(0, max)(rng_); }

  private:
    template <class T>
    bool set(T& v, uint32_t max) {
        // Favour the edges, where width mistakes show.
        uint32_t r = pick(9);
        v = static_cast<T>(r == 0 ? 0 : r == 1 ? max : pick(max));
        return true;
    }
    std::mt19937 rng_;
    uint32_t max_text_;
};
