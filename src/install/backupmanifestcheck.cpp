#include "install/backupmanifestcheck.h"

#include <cstring>

#include "storage/backup_manifest.h"
#include "util/log2file.h"
#include "util/qpaths.h"

QString checkBackupManifest(const QString &image)
{
    if (!image.endsWith(QLatin1String(".raw")))
        return QString();
    const std::string resolved = sysPath(image).toStdString();
    std::string expected, actual;
    log2file("verifying %s against its manifest\n", resolved.c_str());
    const int rc = backup_manifest_verify(resolved, &expected, &actual);
    const QString manifest = image + QStringLiteral(".sha256");
    switch (rc) {
    case BACKUP_MANIFEST_NONE:
    case BACKUP_MANIFEST_MATCH:
        return QString();
    case BACKUP_MANIFEST_MISMATCH:
        return QStringLiteral("The backup %1 is corrupted: its SHA-256 (%2) does not match %3 (%4). "
                              "Nothing was written.")
            .arg(image, QString::fromStdString(actual), manifest, QString::fromStdString(expected));
    case BACKUP_MANIFEST_MALFORMED:
        return QStringLiteral("The checksum file %1 holds no SHA-256 for the backup %2, so it cannot be "
                              "verified. Nothing was written.")
            .arg(manifest, image);
    default:
        return QStringLiteral("Cannot verify the backup %1: %2. Nothing was written.")
            .arg(image, QString::fromLocal8Bit(strerror(-rc)));
    }
}
