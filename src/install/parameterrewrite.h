// Rewrite of a Rockchip "parameter.txt" for two install choices: no overlay
// file system (no userdata partition, the root file system grows over its
// space) and a split install (the boot device keeps the boot partitions, a
// separate system device receives rootfs, userdata and opt).
//
// The install job calls rewriteRockchipParameter before it parses the map
// files; the two files it writes become the map file and the parameter
// source of the boot plan and of the system plan. Nothing is posted here:
// a failure comes back as the message the job posts before it stops.
#pragma once

#include <QString>

struct ParameterRewriteResult
{
    // Empty on success; otherwise the text to post as the job's error.
    QString errorMessage;
    // "<tmp>/parameter.txt": map file and parameter source of the boot plan.
    QString bootParameterFile;
    // "<tmp>/parameter-sys.txt": map file and parameter source of the
    // system plan; empty when no system device is set (the file is written
    // all the same).
    QString systemParameterFile;
    // The job's overlayfsDisabled flag from here on: a split install of a
    // set whose rootfs is the growing partition switches it on.
    bool overlayfsDisabled = false;

    bool ok() const { return errorMessage.isEmpty(); }
};

// Whether the job rewrites the parameter file at all: a set that is not
// Android, OpenHarmony or a raw image (OSType 0, 10, 15), whose map file is
// "parameter.txt", with a system device set (its plan has a path, "/dev/null"
// included) or overlayfsDisabled. Sets with a "partmap.txt" drop their
// userdata lines while the map is read and have no parameter file to rewrite.
bool needsRockchipParameterRewrite(int osType, const QString &partmapFileName, bool systemDeviceSet,
                                   bool overlayfsDisabled);

// Reads `sourceFile` (the set's "parameter.txt") and writes "parameter.txt"
// and "parameter-sys.txt" into `tmpImagePath` (OSConfig::getTmpImagePath of
// the set; "" when it could not be made). Every line is written simplified to
// both files, except the "CMDLINE:" line holding "mtdparts", which each file
// gets rewritten for its device. Paths are used as given (already resolved).
ParameterRewriteResult rewriteRockchipParameter(const QString &sourceFile, const QString &tmpImagePath,
                                                bool overlayfsDisabled, bool systemDeviceSet);
