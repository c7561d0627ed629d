#include "ui/consolelink.h"

#include "frontend/consolelinkmessageevent.h"
#include "frontend/consoleprotocol.h"
#include "frontend/consolescreen.h"
#include "ui/tlocalserver.h"
#include "util/debugmode.h"
#include "util/log2file.h"

#include <QDebug>
#include <QFile>
#include <QSharedMemory>

#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

const QString ConsoleLink::console_Title_SplitText = ConsoleScreen::titleSplitText();
const QString ConsoleLink::console_Tail_SplitText = ConsoleScreen::tailSplitText();
const QString ConsoleLink::console_UseChoose_PrefixText = ConsoleScreen::choosePrefixText();
const QString ConsoleLink::console_spaces = ConsoleScreen::spaces();

namespace {

// The screen can show what the installer is doing to the board's storage;
// only the installer's own user may read it. Qt's System V segment is
// named by ftok() over its key file with the id 'Q'; the segment must be
// ours and carry no group or other bits (they are cleared if it does).
bool makeSegmentOwnerOnly(const QString &nativeKey)
{
    const key_t key = ftok(QFile::encodeName(nativeKey).constData(), 'Q');
    const int id = key == -1 ? -1 : shmget(key, 0, 0);
    struct shmid_ds ds {};
    if (id == -1 || shmctl(id, IPC_STAT, &ds) != 0 || ds.shm_perm.uid != geteuid())
        return false;
    if ((ds.shm_perm.mode & 077) == 0)
        return true;
    ds.shm_perm.mode = 0600;
    return shmctl(id, IPC_SET, &ds) == 0;
}

} // namespace

ConsoleLink::ConsoleLink(QObject *parent)
    : QObject(parent),
      m_server(new TLocalServer(this)),
      m_sharedMemory(new QSharedMemory(ConsoleProtocol::sharedMemoryKey(), this))
{
    connect(m_server, &TLocalServer::textReceived, this, &ConsoleLink::socketTextReceived);
    m_ready = createSegment();
    if (debugMode()) {
        if (m_ready)
            qDebug() << "Ready: shared memory ready.";
        else
            qDebug() << "Error: Unable to create shared memory segment!" << m_sharedMemory->errorString();
    }
}

ConsoleLink::~ConsoleLink() = default;

bool ConsoleLink::createSegment()
{
    const int size = ConsoleProtocol::kSharedMemorySize;
    if (!m_sharedMemory->create(size, QSharedMemory::ReadWrite)) {
        if (m_sharedMemory->error() != QSharedMemory::AlreadyExists)
            return false;
        // System V segments outlive a killed installer. Attaching and
        // detaching removes such a leftover (Qt removes a segment on the
        // last detach); one a live installer still holds stays, and the
        // second create fails as it should.
        if (m_sharedMemory->attach())
            m_sharedMemory->detach();
        if (!m_sharedMemory->create(size, QSharedMemory::ReadWrite))
            return false;
    }
    if (!makeSegmentOwnerOnly(m_sharedMemory->nativeKey())) {
        log2file("console link: shared memory segment is not owner-only, not used\n");
        m_sharedMemory->detach();
        return false;
    }
    return true;
}

QByteArray ConsoleLink::segmentText(const QStringList &lines)
{
    // Characters outside Latin-1 become '?': clients read the segment as
    // Latin-1. The text must leave room for the terminating NUL.
    QByteArray text = ConsoleScreen::publishedText(lines).toLatin1();
    if (text.size() > ConsoleProtocol::kMaxScreenBytes)
        text.truncate(ConsoleProtocol::kMaxScreenBytes);
    return text;
}

void ConsoleLink::displayTextToConsoleLink(const QStringList &lines)
{
    if (!m_ready)
        return;
    const QByteArray text = segmentText(lines);
    if (!m_sharedMemory->lock()) {
        if (debugMode())
            qDebug() << "Error: console screen not published:" << m_sharedMemory->errorString();
        return;
    }
    char *data = static_cast<char *>(m_sharedMemory->data());
    memset(data, 0, ConsoleProtocol::kSharedMemorySize);
    memcpy(data, text.constData(), static_cast<size_t>(text.size()));
    m_sharedMemory->unlock();
    m_server->sendMessage(ConsoleProtocol::memUpdatedMessage());
}

void ConsoleLink::socketTextReceived(const QString &text)
{
    ConsoleLinkMessageEvent::sendConsoleLinkMessageEvent(text);
}
