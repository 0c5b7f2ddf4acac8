// The base of the seven long-lived services the Context owns, and the result of
// their initialisation.
#pragma once

#include <cstdint>

class Context;

// Result of Minder::init: a code (0 success) and a flag the receiver sets once it has
// looked at the code.
struct Err {
    int32_t code = 0;
    uint8_t checked = 0;

    Err() = default;
    explicit Err(int32_t c) : code(c) {}
    bool ok() const { return code == 0; }
};

class Minder {
  public:
    virtual ~Minder() = default;
    virtual Err init(Context& context) = 0;
    virtual void run() = 0;
};
