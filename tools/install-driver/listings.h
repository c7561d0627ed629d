// The listings of imgsmith-install: what the install screens would offer.
#pragma once

#include <cstdio>

// One line per image set a scan of the mounted media offers on this board
// (the USB drive first, then the SD card, sorted by kind as the home screen
// shows them): the path to name it by, its kind and total size. Returns how
// many.
int listImageSets(FILE *out);

// One line per device the install preview offers as a target: kernel name,
// kind, size, whether it may be the boot device or only the system device,
// and its model. Returns how many.
int listTargetDevices(FILE *out);
