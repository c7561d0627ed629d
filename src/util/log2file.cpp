#include "util/log2file.h"
#include "util/paths.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
std::mutex g_logMutex;
}

void log2file(const char *format, ...)
{
    // Format first, outside the lock, so that a slow disk only serialises
    // the write itself; one fwrite per record keeps records whole even
    // against another process appending to the same file.
    va_list ap;
    va_start(ap, format);
    va_list ap2;
    va_copy(ap2, ap);
    const int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(ap2);
        return;
    }
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    vsnprintf(buf.data(), buf.size(), format, ap2);
    va_end(ap2);

    std::lock_guard<std::mutex> lock(g_logMutex);
    const std::string path = imgsmith::sysPath("/tmp/imgsmith-gui.log");
    FILE *f = fopen(path.c_str(), "a+");
    if (!f)
        return;
    fwrite(buf.data(), 1, static_cast<size_t>(n), f);
    fclose(f);
}
