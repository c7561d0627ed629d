// Built-in Rockchip IDB loader images, embedded unchanged at build time from
// the files of IMGSMITH_IDBLOADER_DIR (see cmake/idbloader.cmake and
// firmware/idbloader/README.md). They are opaque bytes: written to the IDB
// area as they are, never interpreted.
#pragma once

#include <cstdint>

// One array per SoC; its length is 0 when the build had no file for it (the
// array then holds a single placeholder byte that must not be written).
extern const unsigned char rk3328_idbloader_img[];
extern const uint32_t rk3328_idbloader_img_len;
extern const unsigned char rk3399_idbloader_img[];
extern const uint32_t rk3399_idbloader_img_len;
extern const unsigned char rk3568_idbloader_img[];
extern const uint32_t rk3568_idbloader_img_len;
extern const unsigned char rk3588_idbloader_img[];
extern const uint32_t rk3588_idbloader_img_len;
extern const unsigned char rk3576_idbloader_img[];
extern const uint32_t rk3576_idbloader_img_len;
extern const unsigned char rk3528_idbloader_img[];
extern const uint32_t rk3528_idbloader_img_len;

// The built-in loader of a SoC named like "RK3588" (compared without regard
// to case). Returns its bytes and stores its length in *length (when not
// null); returns nullptr with length 0 for a null name, an unknown SoC, or a
// SoC whose loader was not supplied to the build.
const unsigned char *idbloader_builtin_find(const char *cpu_name, uint32_t *length);

// Length in bytes of that loader, 0 when there is none.
uint32_t idbloader_builtin_length(const char *cpu_name);
