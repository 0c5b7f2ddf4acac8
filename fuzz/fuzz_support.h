// What the fuzz targets share, so that each input costs only its own work: the process is
// set up once (loggers, a loop, a temporary root on a memory file system) and every input
// starts from the same state, built anew or reset completely, so that a crash found after
// a long run reproduces from its input alone.
//
// Header only: a target pays (and links) only for what it calls.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uv.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "common/paths.h"
#include "core/cmdu_registry.h"
#include "log/logger.h"
#include "map/callbacks.h"
#include "map/map_log.h"
#include "nal/nal.h"

namespace fuzz {

// ---- logs
// The stack's log lines are formatted and dropped (not printed).
inline void stack_logs_dropped() {
    map_log_set_sink([](int, const char*, const std::string&) {});
}

// The daemon's loggers at debug level into the null sink, the platform log at debug level
// (kept in its in-memory ring), the stack's lines dropped: every line is formatted, none
// is written.
inline void daemon_logs() {
    static Config config;
    init_root_logger(7, "ozr", config);
    init_null_logger();
    nal_setLogLevel(7);
    stack_logs_dropped();
}

// ---- libFuzzer
// Puts FLAGS ahead of the command line's own flags, which win over them (libFuzzer takes a
// flag's last value). For LLVMFuzzerInitialize, which runs before libFuzzer reads its
// flags.
inline void default_flags(int* argc, char*** argv, std::initializer_list<const char*> flags) {
    static std::vector<char*> args;
    args.assign(*argv, *argv + 1);
    for (const char* f : flags)
        args.push_back(const_cast<char*>(f));
    args.insert(args.end(), *argv + 1, *argv + *argc);
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size()) - 1;
    *argv = args.data();
}

// libFuzzer 14's entropic scheduler keeps every feature seen fewer than this many times
// (255 by default) in a list it searches linearly for each such feature an input hits: on
// a target with many thousand features, that search costs more than the input itself
// for the first few hundred thousand inputs. A lower threshold keeps the list short.
constexpr const char* kShortRareFeatureList = "-entropic_feature_frequency_threshold=16";

// ---- the loop
// One libuv loop for the process; nothing ever runs it but settle().
inline uv_loop_t* loop() {
    static uv_loop_t* l = [] {
        auto* p = new uv_loop_t;
        uv_loop_init(p);
        return p;
    }();
    return l;
}

// Lets the loop release what the input closed (timers, connections): their close
// callbacks run now, not some inputs later.
inline void settle() {
    uv_run(loop(), UV_RUN_NOWAIT);
}

// ---- minders
// Forgets every CMDU handler the minders registered, so that the handler table does not
// grow with every input, and checks that the stack has its own table back.
inline void forget_cmdu_handlers() {
    clear_cmdu_handlers();
    for (size_t i = 0; i < gmap_cb_config_count; ++i)
        if (gmap_cb_config[i].handler == cmdu_dispatch)
            __builtin_trap();
}

// ---- files
namespace detail {
inline int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}
inline std::string& root_dir() {
    static std::string dir;
    return dir;
}
}  // namespace detail

// A new folder for the target's files, on a memory file system when the machine has one
// (/dev/shm), so that the daemon's atomic replacements (fsync included) cost no disk
// writes. OZR_ROOT points at it, and it is removed at exit. Made once; returns its path.
// (The working folder stays: libFuzzer reads relative corpus paths and writes crash files
// there.)
inline const std::string& temp_root(const char* tag) {
    std::string& dir = detail::root_dir();
    if (!dir.empty())
        return dir;
    const char* tmp = std::getenv("TMPDIR");
    const char* bases[] = {"/dev/shm", tmp && *tmp ? tmp : "/tmp", "/tmp"};
    for (const char* base : bases) {
        std::string t = std::string(base) + "/ozr-fuzz-" + tag + "-XXXXXX";
        if (mkdtemp(&t[0])) {
            dir = t;
            break;
        }
    }
    if (dir.empty())
        std::abort();
    setenv("OZR_ROOT", dir.c_str(), 1);
    std::atexit(
        [] { nftw(detail::root_dir().c_str(), detail::remove_entry, 16, FTW_DEPTH | FTW_PHYS); });
    return dir;
}

// Makes PATH hold BYTES as a new file (a new inode: readers that cache by file identity
// see the change). When the previous call wrote the same bytes there and the file is
// still the one it wrote, it is left alone. No fsync: these are the test's inputs, not
// the daemon's writes.
inline void put_file(const std::string& path, const std::string& bytes) {
    struct Written {
        std::string bytes;
        struct stat st;
    };
    static std::map<std::string, Written> last;
    auto it = last.find(path);
    struct stat now;
    if (it != last.end() && it->second.bytes == bytes && ::stat(path.c_str(), &now) == 0 &&
        now.st_ino == it->second.st.st_ino && now.st_size == it->second.st.st_size &&
        now.st_mtim.tv_sec == it->second.st.st_mtim.tv_sec &&
        now.st_mtim.tv_nsec == it->second.st.st_mtim.tv_nsec)
        return;
    const std::string tmp = path + ".fuzz";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        std::abort();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            std::abort();
        done += static_cast<size_t>(n);
    }
    Written w{bytes, {}};
    if (::fstat(fd, &w.st) != 0 || ::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0)
        std::abort();
    last[path] = std::move(w);
}

}  // namespace fuzz
