// USB product strings of a block device, found by walking up its sysfs
// device directory to the USB device that carries "product". Plain C++ (no Qt).
#pragma once

// Fills `product` (productSize bytes) with the first line of the USB device's
// "product" file and `pid`/`vid` (idSize bytes each) with "idProduct" and
// "idVendor" ("" where absent). Every buffer is NUL-terminated and truncated
// to its size. Returns 0 on success, -1 when the device or its sysfs entry
// cannot be examined, -2 when no USB device lies above the block device.
int get_usbdevice_product(const char *devicePath, char *product, int productSize, char *pid,
                          char *vid, int idSize);
