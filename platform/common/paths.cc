#include "common/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string ozr_path(const std::string& absolute) {
    const char* root = std::getenv("OZR_ROOT");
    if (root == nullptr || *root == '\0' || absolute.empty() || absolute[0] != '/') return absolute;
    size_t n = std::strlen(root);
    while (n > 0 && root[n - 1] == '/') --n;
    std::string r;
    r.reserve(n + absolute.size());  // one allocation: the path is asked for on every file access
    r.append(root, n);
    r += absolute;
    return r;
}

bool ozr_make_dirs(const std::string& dir, unsigned mode) {
    if (dir.empty()) return false;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ozr_write_file_atomic(const std::string& path, const std::string& content, unsigned mode,
                           int* err) {
    auto fail = [err](int e) {
        if (err) *err = e;
        return false;
    };
    std::string dir = ".";
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
    std::string tmp = path + ".tmpXXXXXX";
    int fd = mkstemp(&tmp[0]);
    if (fd < 0) return fail(errno);
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            close(fd);
            unlink(tmp.c_str());
            return fail(e);
        }
        done += static_cast<size_t>(n);
    }
    if (fchmod(fd, mode) != 0 || fsync(fd) != 0) {
        int e = errno;
        close(fd);
        unlink(tmp.c_str());
        return fail(e);
    }
    if (close(fd) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        return fail(e);
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        return fail(e);
    }
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

bool ozr_read_file(const std::string& path, std::string& out, size_t max_bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buf[4096];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (out.size() + n > max_bytes) {
            ok = false;
            break;
        }
        out.append(buf, n);
    }
    if (std::ferror(f)) ok = false;
    std::fclose(f);
    return ok;
}
