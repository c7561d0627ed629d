# Built-in Rockchip IDB loaders.
#
# The installer writes a built-in first-stage loader to a UFS-booting Rockchip
# board when an image set brings none. We do not ship the board makers'
# loaders: a packager drops them into IMGSMITH_IDBLOADER_DIR, one file per SoC
# named "<soc>_idbloader.img" (rk3328, rk3399, rk3568, rk3588, rk3576,
# rk3528, lower case), and this step embeds each file byte for byte into a
# generated source of imgsmith_storage. A SoC without a file gets length 0.
#
# The generator also runs in script mode so that tests can exercise its
# checks:  cmake -DIDB_GEN_DIR=<dir> -DIDB_GEN_OUT=<file.cpp> -P idbloader.cmake

if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.25)
endif()

set(IMGSMITH_IDBLOADER_SOCS rk3328 rk3399 rk3568 rk3588 rk3576 rk3528)
set(IMGSMITH_IDBLOADER_TEMPLATE "${CMAKE_CURRENT_LIST_DIR}/idbloader_builtin.cpp.in")
# write_rk_idb places the loader in one 512 KiB copy of the IDB area, so a
# larger file could never be written.
set(IMGSMITH_IDBLOADER_MAX_BYTES 524288)

# Writes `out` (a C++ source defining every <soc>_idbloader_img array, its
# <soc>_idbloader_img_len and the lookup functions of
# storage/idbloader_builtin.h) from the loader files found in `dir`.
# The output is only rewritten when its content changes.
function(imgsmith_generate_idbloader_source dir out)
    if(NOT IS_DIRECTORY "${dir}")
        # A mistyped directory would otherwise build without any loader unnoticed.
        message(WARNING "IDB loader directory ${dir} does not exist: no built-in loaders")
    endif()
    set(IMGSMITH_IDBLOADER_ARRAYS "")
    set(known "")
    foreach(soc ${IMGSMITH_IDBLOADER_SOCS})
        set(f "${dir}/${soc}_idbloader.img")
        list(APPEND known "${soc}_idbloader.img")
        if(EXISTS "${f}" AND NOT IS_DIRECTORY "${f}")
            file(SIZE "${f}" len)
            if(len EQUAL 0)
                message(FATAL_ERROR "IDB loader ${f} is empty; remove it to build without a ${soc} loader")
            endif()
            if(len GREATER IMGSMITH_IDBLOADER_MAX_BYTES)
                message(FATAL_ERROR "IDB loader ${f} is ${len} bytes, larger than ${IMGSMITH_IDBLOADER_MAX_BYTES}")
            endif()
            file(READ "${f}" hex HEX)
            # 16 bytes per line keeps the generated source readable and the
            # compiler's line buffer small.
            string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])" "\\1\n" hex "${hex}")
            string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
            message(STATUS "IDB loader ${soc}: ${f} (${len} bytes)")
            if(NOT CMAKE_SCRIPT_MODE_FILE)
                set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${f}")
            endif()
        else()
            # C++ has no empty arrays; the length says there is no loader.
            set(bytes "0")
            set(len 0)
        endif()
        string(APPEND IMGSMITH_IDBLOADER_ARRAYS
            "extern const unsigned char ${soc}_idbloader_img[] = {\n${bytes}\n};\n"
            "extern const uint32_t ${soc}_idbloader_img_len = ${len};\n\n")
    endforeach()

    # A misnamed file would silently give "no loader"; say so at configure time.
    file(GLOB present LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/*")
    foreach(p ${present})
        if(NOT p IN_LIST known AND NOT p MATCHES "^(README|\\.)")
            message(WARNING "IDB loader directory ${dir}: ignoring \"${p}\" (expected <soc>_idbloader.img with soc one of ${IMGSMITH_IDBLOADER_SOCS})")
        endif()
    endforeach()

    configure_file("${IMGSMITH_IDBLOADER_TEMPLATE}" "${out}" @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    if(NOT IDB_GEN_DIR OR NOT IDB_GEN_OUT)
        message(FATAL_ERROR "usage: cmake -DIDB_GEN_DIR=<dir> -DIDB_GEN_OUT=<file> -P idbloader.cmake")
    endif()
    imgsmith_generate_idbloader_source("${IDB_GEN_DIR}" "${IDB_GEN_OUT}")
    return()
endif()

set(IMGSMITH_IDBLOADER_DIR "${CMAKE_SOURCE_DIR}/firmware/idbloader" CACHE PATH
    "Directory with the built-in Rockchip IDB loaders (<soc>_idbloader.img)")
# Re-run the configure step when a loader file appears or disappears.
file(GLOB _imgsmith_idb_files CONFIGURE_DEPENDS "${IMGSMITH_IDBLOADER_DIR}/*")
imgsmith_generate_idbloader_source("${IMGSMITH_IDBLOADER_DIR}"
    "${CMAKE_BINARY_DIR}/generated/idbloader_builtin_data.cpp")
list(APPEND IMGSMITH_STORAGE_EXTRA_SOURCES "${CMAKE_BINARY_DIR}/generated/idbloader_builtin_data.cpp")
