#include "data/db_timestamp.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

std::string db_timestamp_text() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t secs = tv.tv_sec;
    struct tm tm;
    localtime_r(&secs, &tm);
    char date[64];
    char zone[16];
    size_t n = std::strftime(date, sizeof date, "%A %b %d %Y %T", &tm);
    date[n] = '\0';
    n = std::strftime(zone, sizeof zone, "%Z", &tm);
    zone[n] = '\0';
    long long ms = static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
    char out[128];
    std::snprintf(out, sizeof out, "%s.%05lld %s", date, ms % 100000, zone);
    return out;
}
