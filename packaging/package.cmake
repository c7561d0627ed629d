# Install rules and the Debian package (CPack DEB). Included after the tools
# and the user interface, so that only programs that were built get packed:
# imgsmith-console joins as soon as tools/console exists.
#
# scripts/package.sh runs it; tests/package checks the result.

set(IMGSMITH_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/packaging)

# The version the program prints ("v1.5 b260402") names the package too:
# 1.5.260402. One source, so the two cannot drift apart.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/startup/globals.cpp IMGSMITH_VERSION_LINE
     REGEX "completeVersion = \"v[0-9.]+ b[0-9]+\"")
if(NOT IMGSMITH_VERSION_LINE MATCHES "\"v([0-9.]+) b([0-9]+)\"")
    message(FATAL_ERROR "packaging: no version text in src/startup/globals.cpp")
endif()
set(IMGSMITH_DEB_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}")
set(IMGSMITH_BUILD_STAMP "${CMAKE_MATCH_2}")

include(GNUInstallDirs)

set(IMGSMITH_PROGRAMS imgsmith-gui imgsmith-install imgsmith-console)
set(IMGSMITH_MAN_PAGES)
foreach(prog ${IMGSMITH_PROGRAMS})
    if(TARGET ${prog})
        install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        set(page ${CMAKE_SOURCE_DIR}/docs/man/${prog}.1)
        if(NOT EXISTS ${page})
            # tests/package fails on it; the build itself goes on.
            message(WARNING "packaging: ${prog} has no manual page docs/man/${prog}.1")
            continue()
        endif()
        # Debian wants manual pages compressed with a fixed time stamp (-n), so
        # that two builds give the same bytes.
        set(gz ${CMAKE_BINARY_DIR}/man/${prog}.1.gz)
        add_custom_command(OUTPUT ${gz}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND gzip -9 -n -c ${page} > ${gz}
            DEPENDS ${page} VERBATIM)
        list(APPEND IMGSMITH_MAN_PAGES ${gz})
    endif()
endforeach()
add_custom_target(imgsmith_man ALL DEPENDS ${IMGSMITH_MAN_PAGES})
install(FILES ${IMGSMITH_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# A native package's change log, made from the version so it always matches.
string(REGEX REPLACE "^(..)(..)(..)$" "20\\1-\\2-\\3" IMGSMITH_BUILD_DATE "${IMGSMITH_BUILD_STAMP}")
execute_process(COMMAND date -u -R -d "${IMGSMITH_BUILD_DATE} 12:00"
                OUTPUT_VARIABLE IMGSMITH_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
set(IMGSMITH_MAINTAINER "imgsmith developers <imgsmith@lists.example.org>")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/changelog
"imgsmith (${IMGSMITH_DEB_VERSION}) unstable; urgency=medium

  * Release ${IMGSMITH_DEB_VERSION}.

 -- ${IMGSMITH_MAINTAINER}  ${IMGSMITH_CHANGELOG_DATE}
")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog VERBATIM)
add_custom_target(imgsmith_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)

set(IMGSMITH_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/imgsmith)
install(FILES ${IMGSMITH_PACKAGE_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${IMGSMITH_DOC_DIR})
install(FILES ${IMGSMITH_PACKAGE_DIR}/imgsmith.conf DESTINATION ${IMGSMITH_DOC_DIR}/examples)
# Debian 12 keeps units in /lib/systemd/system.
install(FILES ${IMGSMITH_PACKAGE_DIR}/imgsmith.service DESTINATION /lib/systemd/system)
install(FILES ${IMGSMITH_PACKAGE_DIR}/imgsmith.default DESTINATION /etc/default RENAME imgsmith)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME imgsmith)
set(CPACK_PACKAGE_VERSION ${IMGSMITH_DEB_VERSION})
set(CPACK_PACKAGE_CONTACT ${IMGSMITH_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operating-system installer for single-board computers")
# CPack puts the summary in front of this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"imgsmith runs on the board it installs to: booted from an SD card or a USB
drive, it finds the image sets on them and writes the chosen one to the
board's eMMC, UFS, NVMe, SATA or USB storage (partition tables, boot
loaders, raw, gzip, xz, zstd and Android sparse images, Rockchip packages). It also
backs the onboard storage up and restores it.

This package holds the full-screen program with its systemd unit for the
board's framebuffer, and the headless installer imgsmith-install.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs imgsmith runs: file systems and partitioning (mount, fdisk,
# parted, mkfs.ext4, resize2fs, mkfs.exfat), the boot environment
# (fw_setenv), overlays (dtc), and what the screens need to draw on a board.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "mount, fdisk, parted, e2fsprogs, exfatprogs, libubootenv-tool, device-tree-compiler, qt6-qpa-plugins, fonts-droid-fallback")
# CPack marks nothing as a configuration file by itself; a changed
# /etc/default/imgsmith must survive an upgrade.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "/etc/default/imgsmith\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
