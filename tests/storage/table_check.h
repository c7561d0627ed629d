// Reading partition tables back with independent tools.
#pragma once

#include "storage/parttable.h"
#include "support/testsupport.h"

#include <string>
#include <vector>

struct ToolPart
{
    int64_t start = 0, size = 0;
    std::string type, name, uuid;
};

// Partitions as `sfdisk --json` lists them (type as printed: "83", "5" or
// a GUID; name and uuid for GPT).
std::vector<ToolPart> sfdiskParts(const std::string &image, std::string *label = nullptr);
// Partitions as libblkid's partition prober (partx) lists them.
std::vector<ToolPart> partxParts(const std::string &image);

// Callbacks onto an image file (pwrite/pread), as the install job's
// mmc_write/mmc_read act on a device.
part_write_fn fileWriter(const std::string &image, int *writes = nullptr);
part_read_fn fileReader(const std::string &image);
