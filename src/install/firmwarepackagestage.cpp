// Rockchip firmware packages: the RKFW file (optionally gzip-compressed) is
// unpacked into a temporary directory beside it, and the install goes on as
// for an ordinary Rockchip set whose map is the package's parameter file.
#include "install/sdupdatethread.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "storage/file_ptr.h"
#include "storage/imagewriter.h"
#include "storage/rkimage.h"
#include "storage/rkparm.h"
#include "util/log2file.h"
#include "util/qpaths.h"

namespace {

// Below this the running system cannot hold the unpacked package (MiB).
constexpr int64_t k_min_free_mb = 100;
// A failed decompression with less than this left ran out of storage (MiB).
constexpr int64_t k_min_free_after_mb = 10;

QString errorText(int err)
{
    return QString::fromLocal8Bit(strerror(err));
}

// Decompresses `package` into `out`. Returns "" or the message to post.
QString decompressPackage(image_compression kind, const QString &package, const QString &out)
{
    log2file("extracting: %s\n", qPrintable(unSysPath(package)));
    int err = 0;
    file_ptr in(open_input_file(package.toLocal8Bit().constData(), &err));
    if (!in)
        return QStringLiteral("Failed to read file, ret = %1.").arg(errorText(err));
    struct stat st;
    if (fstat(fileno(in.get()), &st) != 0)
        return QStringLiteral("Failed to read file, ret = %1.").arg(errorText(errno));
    FILE *dst = fopen(out.toLocal8Bit().constData(), "wb");
    if (!dst)
        return QStringLiteral("Failed to create %1, ret = %2.").arg(unSysPath(out), errorText(errno));
    int ret = decompress_image(kind, dst, in.get(), st.st_size);
    // The inflated file is only complete once it is closed.
    if (fclose(dst) != 0 && ret >= 0)
        ret = -3;
    if (ret >= 0)
        return QString();
    // A stream that is cut short or corrupt is neither out of memory nor
    // out of storage: say what it is.
    if (ret == -1) {
        const QString cause = QString::fromStdString(image_input_error());
        return QStringLiteral("Failed to decompress file, ret = %1.").arg(ret)
            + (cause.isEmpty() ? QString() : QStringLiteral(" %1: %2.").arg(unSysPath(package), cause));
    }
    if (get_available_disksize_mb() < k_min_free_after_mb)
        return QStringLiteral("Failed to decompress file, out of storage.");
    return QStringLiteral("Failed to decompress file, out of memory.");
}

// unpack_update() reports an entry it could not write and goes on; a
// partition image cut short by a full card must not be installed as if it
// were whole. Returns the entry file that is missing or short, "" when all
// are there.
QString incompleteEntry(const QString &container, const QString &outDir)
{
    file_ptr fp(fopen(container.toLocal8Bit().constData(), "rb"));
    std::unique_ptr<unsigned char[]> head(new unsigned char[RKAF_HEADER_SIZE]);
    if (!fp || fread(head.get(), 1, RKAF_HEADER_SIZE, fp.get()) != RKAF_HEADER_SIZE)
        return unSysPath(container);
    std::unique_ptr<rkaf_info> info(new rkaf_info);
    if (rkaf_parse_header(head.get(), RKAF_HEADER_SIZE, info.get()) != 0)
        return unSysPath(container);
    // A later entry of the same name is the one left on disk.
    QMap<QString, uint64_t> expected;
    for (uint32_t i = 0; i < info->count; ++i) {
        const rkaf_item &it = info->items[i];
        if (it.state != RKAF_ITEM_EXTRACT)
            continue;
        const QString target = outDir + "/" + QString::fromLocal8Bit(it.file);
        // An entry named like the container itself is refused by the unpacker.
        if (QFileInfo(target).absoluteFilePath() == QFileInfo(container).absoluteFilePath())
            continue;
        expected.insert(target, it.size);
    }
    for (auto e = expected.constBegin(); e != expected.constEnd(); ++e) {
        QFileInfo fi(e.key());
        if (!fi.isFile() || static_cast<uint64_t>(fi.size()) != e.value())
            return unSysPath(e.key());
    }
    return QString();
}

} // namespace

bool SDUpdateThread::unpackFirmwarePackage()
{
    if (get_available_disksize_mb() < k_min_free_mb)
        return fail(QStringLiteral("Not enough free disk space."));

    const QString package = sysPath(m_rawImagePath);
    QByteArray tmpl = (QFileInfo(package).path() + "/img.XXXXXX").toLocal8Bit();
    if (!mkdtemp(tmpl.data()))
        return fail(QStringLiteral("Failed to mkdtemp."));
    // From here on the clean-up at the end of the job removes it, whatever
    // way the job ends.
    const QString dir = QString::fromLocal8Bit(tmpl);
    m_tmpDir = unSysPath(dir);

    QString rom = package;
    const QString suffix = m_rawImagePath.mid(m_rawImagePath.lastIndexOf('.'));
    const image_compression kind = suffix.startsWith(QLatin1String(".gz")) ? IMAGE_GZIP
                                                                          : image_compression_of(package.toLocal8Bit().constData());
    if (kind != IMAGE_RAW) {
        rom = dir + "/raw.img";
        const QString error = decompressPackage(kind, package, rom);
        if (!error.isEmpty())
            return fail(error);
        if (failIfCancelled())
            return false;
    }

    log2file("unpacking: %s\n", qPrintable(unSysPath(rom)));
    const QString container = dir + "/unpack.img";
    // Messages name the package the user chose; the files of the temporary
    // directory are gone when they are read.
    std::string why;
    if (unpack_rom(rom.toLocal8Bit().constData(), container.toLocal8Bit().constData(), &why) != 0)
        return fail(QStringLiteral("Failed to unpack rk firmware. %1: %2.").arg(m_rawImagePath, QString::fromStdString(why)));
    if (failIfCancelled())
        return false;
    int ret = unpack_update(container.toLocal8Bit().constData(), dir.toLocal8Bit().constData(), &why);
    if (ret != 0)
        return fail(QStringLiteral("Failed to unpack update %1, ret = %2. %3.")
                        .arg(m_rawImagePath).arg(ret).arg(QString::fromStdString(why)));
    const QString incomplete = incompleteEntry(container, dir);
    if (!incomplete.isEmpty())
        return fail(QStringLiteral("Failed to unpack %1 from the firmware package.").arg(incomplete));
    if (failIfCancelled())
        return false;

    QFile packageFile(dir + "/package-file");
    if (!packageFile.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(QStringLiteral("Failed to parse rk package-file, ret = %1.").arg(-ENOENT));
    QString parameterName;
    while (!packageFile.atEnd()) {
        const QString line = QString::fromLocal8Bit(packageFile.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("parameter")))
            continue;
        const QStringList fields = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (fields.size() >= 2)
            parameterName = fields.at(1);
        break;
    }
    packageFile.close();
    // The name comes from the package: it must stay inside the directory.
    const QByteArray nameBytes = parameterName.toLocal8Bit();
    const QString parameter = dir + "/" + parameterName;
    if (parameterName.isEmpty() || !rkaf_file_name_is_safe(nameBytes.constData())
        || !QFileInfo(parameter).isFile())
        return fail(QStringLiteral("Not found parameter file in this package."));

    const QString paramDir = QFileInfo(parameter).path();
    const QString loader = paramDir + "/idbloader.img";
    // A loader the package brings is the one made for its boot chain; the
    // built-in one of the SoC stands in only when there is none.
    if (!QFileInfo(loader).isFile()) {
        const QString cpu = m_config.getCPUNameUpper();
        ret = gen_idbloader_img(cpu.toLatin1().constData(), loader.toLocal8Bit().constData());
        log2file("gen_idbloader_img(%s, %s) return %d\n", qPrintable(cpu), qPrintable(unSysPath(loader)), ret);
        if (ret == -1)
            return fail(QStringLiteral("Dose not support this model."));
        if (ret == -2)
            return fail(QStringLiteral("Failed to create file %1.").arg(unSysPath(loader)));
        if (ret != 0)
            return fail(QStringLiteral("Failed to write file %1.").arg(unSysPath(loader)));
    }

    const QByteArray map = unSysPath(parameter).toLocal8Bit();
    const QByteArray param = parameter.toLocal8Bit();
    const QByteArray images = paramDir.toLocal8Bit();
    // A cut path would name another file.
    if (param.size() >= static_cast<int>(sizeof(m_plans[0].paramSource)))
        return fail(QStringLiteral("Path too long: %1.").arg(unSysPath(parameter)));
    snprintf(m_plans[0].mapFile, sizeof(m_plans[0].mapFile), "%s", map.constData());
    snprintf(m_plans[0].paramSource, sizeof(m_plans[0].paramSource), "%s", param.constData());
    snprintf(m_plans[0].imageDir, sizeof(m_plans[0].imageDir), "%s", images.constData());
    return !failIfCancelled();
}
