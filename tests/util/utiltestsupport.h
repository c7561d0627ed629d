// Helpers of the util tests.
#pragma once

#include <cstdlib>
#include <ostream>

#include <QString>
#include <string>

#include "util/paths.h"

// Points IMGSMITH_ROOT at a directory for the lifetime of the object.
struct SimRootGuard
{
    explicit SimRootGuard(const std::string &root)
    {
        setenv("IMGSMITH_ROOT", root.c_str(), 1);
        imgsmith::resetSimRootCache();
    }
    ~SimRootGuard()
    {
        unsetenv("IMGSMITH_ROOT");
        imgsmith::resetSimRootCache();
    }
};

// Readable QString values in GoogleTest failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
