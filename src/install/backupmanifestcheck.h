// Restoring a back-up: a ".raw" image with a SHA-256 manifest beside it (as
// the back-up writes one) is checked against it before the device is
// touched, so a back-up damaged on its medium is refused instead of
// written over the user's system.
#pragma once

#include <QString>

// `image` as the running system names it. Returns "" when the image may be
// written (it matches its manifest, or it has none), else the error text.
QString checkBackupManifest(const QString &image);
