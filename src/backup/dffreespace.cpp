#include "backup/dffreespace.h"

#include <QFile>
#include <QProcess>

#include "util/qpaths.h"
#include "util/shellquote.h"

bool readDfFreeSpaceKiB(const QString &partition, const QString &tmpFile, qint64 *kib)
{
    const QString file = sysPath(tmpFile);
    // The partition name comes from the kernel, but it reaches a shell: it
    // is quoted like any other text.
    const QString command = QStringLiteral("df | grep %1 | awk '{ print $4 \"\\t\" }' > %2")
                                .arg(shellQuote(QStringLiteral("^") + partition), shellQuote(file));
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromLocal8Bit(f.readAll()).simplified();
    f.close();
    f.remove();
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (ok && kib)
        *kib = value;
    return ok;
}
