// The listings of imgsmith-install: what the install screens would offer.
#pragma once

#include <cstdio>

// One line per device the install preview offers as a target: kernel name,
// kind, size, whether it may be the boot device or only the system device,
// and its model. Returns how many.
int listTargetDevices(FILE *out);
