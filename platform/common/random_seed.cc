#include "common/random_seed.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "common/clock.h"

uint32_t ozr_random_seed() {
    uint32_t v = 0;
    if (getrandom(&v, sizeof v, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof v)) {
        // Before the kernel's generator is ready (early boot) the device still answers.
        int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        ssize_t n = fd >= 0 ? read(fd, &v, sizeof v) : -1;
        if (fd >= 0)
            close(fd);
        if (n != static_cast<ssize_t>(sizeof v))
            v = static_cast<uint32_t>(get_current_time_ms());
    }
    v %= 2147483647u;
    return v == 0 ? 1 : v;
}
