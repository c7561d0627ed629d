// Stages that only some installs take: the overlay rebuild for split
// installs and boot arguments, the parameter rewrite, firmware packages,
// ROCKNIX finishing and the UFS boot loader. The work lives in its own
// modules; here is when each runs and how its result ends the job.
#include "install/sdupdatethread.h"

#include <QFileInfo>

#include "board/boardhardwareinfo.h"
#include "install/installevents.h"
#include "install/parameterrewrite.h"
#include "install/rocknixfinish.h"
#include "install/ufsinstallstages.h"
#include "util/log2file.h"
#include "util/qpaths.h"

bool SDUpdateThread::needsOverlayRebuild() const
{
    bool splitInstall = m_plans[1].devicePath[0] && m_systemDevice.kind != TargetDeviceNone;
    return splitInstall || QFileInfo::exists(sysPath(m_config.imagePath + "/dtbo.img.bak"))
        || !m_config.bootArgsExt.isEmpty() || m_overlayfsDisabled;
}

bool SDUpdateThread::needsParameterRewrite() const
{
    return needsRockchipParameterRewrite(static_cast<int>(m_config.osType), m_config.os_partmap_txt,
                                         m_plans[1].devicePath[0] != '\0', m_overlayfsDisabled);
}

bool SDUpdateThread::rewriteParameterFiles()
{
    const bool systemDeviceSet = m_plans[1].devicePath[0] != '\0';
    ParameterRewriteResult r = rewriteRockchipParameter(sysPath(m_config.imagePath + "/parameter.txt"),
                                                        m_config.getTmpImagePath(true), m_overlayfsDisabled,
                                                        systemDeviceSet);
    if (!r.ok())
        return fail(r.errorMessage);
    m_overlayfsDisabled = r.overlayfsDisabled;
    const QByteArray boot = r.bootParameterFile.toLocal8Bit();
    snprintf(m_plans[0].mapFile, sizeof(m_plans[0].mapFile), "%s", boot.constData());
    snprintf(m_plans[0].paramSource, sizeof(m_plans[0].paramSource), "%s", boot.constData());
    if (systemDeviceSet) {
        const QByteArray sys = r.systemParameterFile.toLocal8Bit();
        snprintf(m_plans[1].mapFile, sizeof(m_plans[1].mapFile), "%s", sys.constData());
        snprintf(m_plans[1].paramSource, sizeof(m_plans[1].paramSource), "%s", sys.constData());
    }
    return true;
}

bool SDUpdateThread::finishRocknix()
{
    if (!m_config.isRocknix || m_bootDevice.kind == TargetDeviceNone)
        return true;
    const QString uboot = m_config.imagePath + "/" + m_config.os_rocknix_uboot_bin;
    QFileInfo ubootInfo(sysPath(uboot));
    if (!ubootInfo.isFile() || !ubootInfo.isReadable())
        return true;
    const QString error = rocknixFinish(
        QString::fromLocal8Bit(m_plans[0].devicePath), uboot, m_config.os_rocknix_dtb,
        m_config.imagePath + "/" + m_config.os_rocknix_dtb,
        [this](bool erasing, const QString &image, const QString &part, int percent, int count, int index) {
            if (erasing)
                postProgressMessage(true, image, part, percent, count, index);
            else
                reportProgress(image, part, percent, count, index);
        });
    return error.isEmpty() ? true : fail(error);
}

bool SDUpdateThread::prepareUfsLoader()
{
    m_ufsPlan.reset(new UfsBootPlan);
    if (!gCurrentBoardInfo)
        return true;
    QString error;
    if (!ufsPrepareBootLoader(*gCurrentBoardInfo, m_config.imagePath, m_config.os_idbloader_img, m_bootDevice,
                              m_ufsPlan.get(), &error))
        return fail(error);
    m_isRockchipUfs = m_ufsPlan->isRockchipUfs;
    return true;
}

bool SDUpdateThread::bringUpUfs()
{
    QString error;
    if (m_ufsPlan && !ufsBringUp(*m_ufsPlan, &error))
        return fail(error);
    return !failIfCancelled();
}

bool SDUpdateThread::writeUfsLoader()
{
    QString error;
    if (m_ufsPlan && !ufsWriteBootLoader(*m_ufsPlan, m_bootDevice, &error))
        return fail(error);
    return true;
}
