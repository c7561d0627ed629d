// A stdio stream that closes itself, for the readers that give up half-way
// through a package or an image on the first fault.
#pragma once

#include <cstdio>
#include <memory>

struct file_closer
{
    void operator()(FILE *fp) const
    {
        if (fp)
            fclose(fp);
    }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;
