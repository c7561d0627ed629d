#include "util/paths.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sys/utsname.h>

namespace imgsmith {

namespace {
std::mutex g_rootMutex;
bool g_rootRead = false;
std::string g_root;

std::string readRoot()
{
    const char *env = std::getenv("IMGSMITH_ROOT");
    std::string root = env ? env : "";
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (root == "/")
        root.clear();
    return root;
}
} // namespace

std::string simRoot()
{
    std::lock_guard<std::mutex> lock(g_rootMutex);
    if (!g_rootRead) {
        g_root = readRoot();
        g_rootRead = true;
    }
    return g_root;
}

void resetSimRootCache()
{
    std::lock_guard<std::mutex> lock(g_rootMutex);
    g_rootRead = false;
}

std::string sysPath(const std::string &path)
{
    const std::string root = simRoot();
    if (root.empty() || path.empty() || path[0] != '/')
        return path;
    if (path == root || path.compare(0, root.size() + 1, root + "/") == 0)
        return path;
    return root + path;
}

std::string unSysPath(const std::string &path)
{
    const std::string root = simRoot();
    if (root.empty())
        return path;
    if (path == root)
        return "/";
    if (path.compare(0, root.size() + 1, root + "/") == 0)
        return path.substr(root.size());
    return path;
}

std::string kernelRelease()
{
    if (!simRoot().empty()) {
        std::ifstream in(sysPath("/proc/sys/kernel/osrelease"));
        std::string line;
        if (in && std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            return line;
        }
    }
    struct utsname u;
    if (uname(&u) != 0)
        return std::string();
    return u.release;
}

} // namespace imgsmith
