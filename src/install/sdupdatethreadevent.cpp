#include "install/sdupdatethreadevent.h"

SDUpdateThreadEvent::SDUpdateThreadEvent(bool erasing, const QString &imageName,
                                         const QString &partitionName, int percent, int fileCount,
                                         int fileIndex)
    : QEvent(SDUPDATE_EVENT_TYPE),
      m_erasing(erasing),
      m_percent(percent),
      m_imageName(imageName),
      m_partitionName(partitionName),
      m_fileCount(fileCount),
      m_fileIndex(fileIndex)
{
}

SDUpdateThreadEvent::SDUpdateThreadEvent(const QString &errorMessage)
    : QEvent(SDUPDATE_EVENT_TYPE), m_isError(1), m_errorMessage(errorMessage)
{
}
