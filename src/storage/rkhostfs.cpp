// File-system helpers around the unpacking of firmware packages: free
// space for the temporary copy, and removal of the temporary tree.
#include "storage/rkimage.h"

#include "util/log2file.h"
#include "util/paths.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

int64_t get_available_disksize_mb(void)
{
    struct statfs st;
    const std::string root = imgsmith::sysPath("/");
    if (statfs(root.c_str(), &st) != 0) {
        log2file("statfs %s failed: %s\n", root.c_str(), strerror(errno));
        return -1;
    }
    return static_cast<int64_t>((static_cast<unsigned long long>(st.f_bavail) * st.f_bsize) >> 20);
}

int remove_directory(const char *path)
{
    DIR *dir = opendir(path);
    if (!dir)
        return -1;
    int r = 0;
    while (r == 0) {
        errno = 0;
        const struct dirent *e = readdir(dir);
        if (!e) {
            r = errno != 0 ? -1 : 0;
            break;
        }
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        const std::string child = std::string(path) + "/" + e->d_name;
        // lstat, not stat: a link to a directory is removed as a link, never
        // followed into a tree outside the one being deleted.
        struct stat st;
        if (lstat(child.c_str(), &st) != 0)
            r = -1;
        else if (S_ISDIR(st.st_mode))
            r = remove_directory(child.c_str());
        else
            r = unlink(child.c_str());
    }
    if (closedir(dir) != 0 && r == 0)
        r = -1;
    if (r == 0)
        r = rmdir(path);
    return r;
}
