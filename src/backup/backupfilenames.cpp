#include "backup/backupfilenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "util/qpaths.h"

QString BackupFileNames::genBackupFileName(int kind)
{
    const QString dir = kind == 1 ? gSDCardPath : (kind == 2 ? gUDiskPath : QString());
    const QString board = gCurrentBoardInfo ? gCurrentBoardInfo->boardName.toLower() : QString();
    const QString storage = gCurrentBoardInfo && gCurrentBoardInfo->isOnboardUFS() ? QStringLiteral("ufs")
                                                                                    : QStringLiteral("emmc");
    QString name = QStringLiteral("%1/%2-%3.raw").arg(dir, board, storage);
    for (int counter = 2; QFileInfo::exists(sysPath(name)); ++counter)
        name = QStringLiteral("%1/%2-%3-%4.raw").arg(dir, board, storage).arg(counter);
    return name;
}

bool BackupFileNames::isWritable(const QString &path)
{
    QFile f(sysPath(path));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const bool ok = f.write("\n", 1) == 1 && f.flush();
    f.close();
    f.remove();
    return ok;
}

static bool isBelow(const QString &path, const QString &dir)
{
    return !dir.isEmpty() && path.startsWith(dir);
}

int BackupFileNames::mediumOfPath(const QString &path)
{
    if (isBelow(path, gUDiskPath))
        return 2;
    return isBelow(path, gSDCardPath) ? 1 : 0;
}

bool BackupFileNames::writeScriptDirectory(const QString &imagePath, const QByteArray &cleanupScript)
{
    const QString dir = sysPath(imagePath + QStringLiteral(".d"));
    if (!QDir().mkpath(dir))
        return false;
    QFile cleanup(dir + QStringLiteral("/cleanup.sh"));
    bool ok = cleanup.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
        cleanup.write(cleanupScript) == cleanupScript.size();
    cleanup.close();
    QFile readme(dir + QStringLiteral("/README.txt"));
    const QByteArray text = QStringLiteral("About this directory\n\n"
                                           "(1) When you restore the backup %1, all scripts in this directory are "
                                           "automatically executed.\n"
                                           "(2) Scripts must have a .sh extension.\n")
                                .arg(imagePath)
                                .toUtf8();
    ok = readme.open(QIODevice::WriteOnly | QIODevice::Truncate) && readme.write(text) == text.size() && ok;
    readme.close();
    return ok;
}
