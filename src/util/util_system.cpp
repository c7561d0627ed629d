// Util: queries of the running system (mount table, "/proc/partitions",
// kernel release, memory, network interfaces), board LEDs, card readers.
#include "util/util.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mntent.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "board/allwinnerboardid.h"
#include "util/debugmode.h"
#include "util/paths.h"
#include "util/qpaths.h"

namespace {

const char *const kStatusLeds[] = {"user_led", "status_led", "sys_led", "led1", "led2", "led3"};
const char *const kNetworkLeds[] = {"wan_led", "lan_led", "lan1_led", "lan2_led"};

void writeLedAttribute(const char *led, const char *attribute, const char *value)
{
    Util::writeFile(sysPath(QStringLiteral("/sys/class/leds/%1/%2")
                                .arg(QLatin1String(led), QLatin1String(attribute))),
                    QLatin1String(value));
}

void setStatusLeds(const char *trigger, const char *delayOff, const char *delayOn)
{
    for (const char *led : kStatusLeds) {
        writeLedAttribute(led, "trigger", trigger);
        // The timer trigger creates delay_off/delay_on only once it is active,
        // hence the trigger is written first.
        if (delayOff)
            writeLedAttribute(led, "delay_off", delayOff);
        if (delayOn)
            writeLedAttribute(led, "delay_on", delayOn);
    }
}

void setNetworkLeds(const char *trigger)
{
    for (const char *led : kNetworkLeds)
        writeLedAttribute(led, "trigger", trigger);
}

// Copies `src` into `dst` of `len` bytes, always terminated.
void copyBounded(char *dst, int len, const char *src)
{
    if (dst && len > 0)
        std::snprintf(dst, size_t(len), "%s", src ? src : "");
}

// Walks "/proc/mounts" for an entry whose directory or device equals `path`
// (either as the system names it or resolved below the simulation root).
// Returns 1 and fills `found` on a match, 0 when none, -1 when unreadable.
int findMount(const QString &path, struct mntent *found, std::vector<char> &storage)
{
    const std::string table = imgsmith::sysPath("/proc/mounts");
    FILE *f = setmntent(table.c_str(), "r");
    if (!f)
        return -1;
    const std::string asGiven = path.toStdString();
    const std::string asSystem = imgsmith::unSysPath(asGiven);
    storage.assign(4096, '\0');
    int result = 0;
    struct mntent *e;
    while ((e = getmntent_r(f, found, storage.data(), int(storage.size()))) != nullptr) {
        const std::string dir = e->mnt_dir ? e->mnt_dir : "";
        const std::string dev = e->mnt_fsname ? e->mnt_fsname : "";
        if (dir == asGiven || dev == asGiven || dir == asSystem || dev == asSystem) {
            result = 1;
            break;
        }
    }
    endmntent(f);
    return result;
}

// What the kernel appends to a disk name for a partition: digits, after a
// "p" when the disk name itself ends in a digit ("sda" + "1",
// "mmcblk2" + "p8"). Keeps "mmcblk20" (another disk) from passing as a
// partition of "mmcblk2".
bool isPartitionSuffix(const QString &disk, const QString &suffix)
{
    if (!disk.isEmpty() && disk.back().isDigit())
        return suffix.startsWith(QLatin1Char('p')) && Util::isdigitstr(suffix.mid(1));
    return Util::isdigitstr(suffix);
}

int memInfoMB(const char *program)
{
    QProcess p;
    p.start(QStringLiteral("awk"),
            QStringList() << QLatin1String(program) << sysPath(QStringLiteral("/proc/meminfo")));
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(1000);
        return 0;
    }
    bool ok = false;
    const qint64 kib = QString::fromLatin1(p.readAllStandardOutput()).trimmed().toLongLong(&ok);
    return ok ? int(kib / 1024) : 0;
}

} // namespace

int Util::isMountPoint(const QString &path)
{
    struct mntent entry;
    std::vector<char> storage;
    return findMount(path, &entry, storage);
}

int Util::getMountPointStatus(const QString &path, char *typeBuf, int typeLen, char *optsBuf,
                              int optsLen, int *freq, int *passno)
{
    struct mntent entry;
    std::vector<char> storage;
    const int r = findMount(path, &entry, storage);
    if (r != 1)
        return r;
    copyBounded(typeBuf, typeLen, entry.mnt_type);
    copyBounded(optsBuf, optsLen, entry.mnt_opts);
    if (freq)
        *freq = entry.mnt_freq;
    if (passno)
        *passno = entry.mnt_passno;
    return 1;
}

bool Util::isReadOnlyMountOptions(const QString &options)
{
    for (const QString &opt : options.split(QLatin1Char(','))) {
        if (opt == QLatin1String("ro") || opt == QLatin1String("rw"))
            return opt == QLatin1String("ro");
    }
    return false;
}

bool Util::isDeviceInPartitions(const QString &name)
{
    if (name.isEmpty())
        return false;
    QFile f(sysPath(QStringLiteral("/proc/partitions")));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&f);
    QString line;
    while (in.readLineInto(&line)) {
        if (line.simplified().split(QLatin1Char(' ')).contains(name))
            return true;
    }
    return false;
}

int Util::getDiskLastPartitionNumber(const QString &disk)
{
    int last = 1;
    for (int n = 2; n < 1024; ++n) {
        if (!QFileInfo::exists(sysPath(QStringLiteral("/dev/%1%2").arg(disk).arg(n))))
            break;
        last = n;
    }
    return last;
}

QString Util::getLastPartitionName(const QString &disk)
{
    QFile f(sysPath(QStringLiteral("/proc/partitions")));
    if (disk.isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&f);
    QString line;
    QString last;
    while (in.readLineInto(&line)) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() != 4)
            continue;
        bool majorOk = false, minorOk = false;
        fields[0].toLongLong(&majorOk, 10);
        fields[1].toLongLong(&minorOk, 10);
        if (!majorOk || !minorOk)
            continue;
        const QString &name = fields[3];
        if (name.size() > disk.size() && name.startsWith(disk)
            && !name.contains(QLatin1String("boot")) && isPartitionSuffix(disk, name.mid(disk.size())))
            last = name;
    }
    return last;
}

QString Util::getCurrntOSInOnboardFlash(const QMap<QString, QString> &labels,
                                        const QMap<QString, QString> &types)
{
    for (auto it = labels.constBegin(); it != labels.constEnd(); ++it) {
        if (it.value().compare(QLatin1String("system"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("android");
    }
    for (auto it = labels.constBegin(); it != labels.constEnd(); ++it) {
        if (it.value() == QLatin1String("rootfs")
            && types.value(it.key()) == QLatin1String("ext4"))
            return QStringLiteral("linux");
    }
    return QStringLiteral("unknow");
}

int Util::getKernelVersion(int *numbers, int count)
{
    if (!numbers)
        return -1;
    const std::string release = imgsmith::kernelRelease();
    if (release.empty())
        return -2;
    for (int i = 0; i < count; ++i)
        numbers[i] = 0;
    int stored = 0;
    const QStringList tokens = QString::fromStdString(release).split(QLatin1Char('.'));
    for (const QString &t : tokens) {
        if (stored >= count)
            break;
        if (isdigitstr(t))
            numbers[stored++] = t.toInt();
    }
    return 0;
}

bool Util::isKernelVersionAtLeast4()
{
    int v[3];
    if (getKernelVersion(v, 3) != 0)
        return false;
    return v[0] >= 4;
}

QString Util::readAllwinnerBoardID()
{
    return ::readAllwinnerBoardID();
}

int Util::GetMemInfoMB()
{
    return memInfoMB("/MemTotal/ { print $2 }");
}

int Util::GetFreeMemMB()
{
    return memInfoMB("/MemFree/ { print $2 }");
}

int Util::getMacAddress(const char *ifname, char *buffer, int size)
{
    if (!ifname || !buffer || size < 1)
        return -1;
    buffer[0] = '\0';
    // An interface name is one path component; anything else would read
    // outside "/sys/class/net".
    if (!*ifname || std::strchr(ifname, '/') || std::strcmp(ifname, "..") == 0
        || std::strcmp(ifname, ".") == 0)
        return -1;
    char path[4096];
    std::snprintf(path, sizeof(path), "/sys/class/net/%s/address", ifname);
    const std::string resolved = imgsmith::sysPath(path);
    const int fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // The text of a MAC address is 17 characters; the buffer may be smaller.
    const int want = size - 1 < 17 ? size - 1 : 17;
    ssize_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, buffer + got, size_t(want - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    buffer[got] = '\0';
    return got == 17 ? 0 : -1;
}

int Util::getIPAddress(const char *ifname, char *buffer, int size)
{
    if (!ifname || !buffer || size < 1)
        return -1;
    buffer[0] = '\0';
    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return -1;
    struct ifreq reqs[64];
    struct ifconf conf;
    std::memset(&conf, 0, sizeof(conf));
    conf.ifc_len = sizeof(reqs);
    conf.ifc_req = reqs;
    int result = -1;
    if (::ioctl(sock, SIOCGIFCONF, &conf) == 0) {
        const int count = conf.ifc_len / int(sizeof(struct ifreq));
        for (int i = 0; i < count; ++i) {
            if (std::strncmp(reqs[i].ifr_name, ifname, IFNAMSIZ) != 0)
                continue;
            struct ifreq flags;
            std::memset(&flags, 0, sizeof(flags));
            std::memcpy(flags.ifr_name, reqs[i].ifr_name, IFNAMSIZ);
            if (::ioctl(sock, SIOCGIFFLAGS, &flags) != 0)
                continue;
            if (!(flags.ifr_flags & IFF_UP) || (flags.ifr_flags & IFF_LOOPBACK))
                continue;
            const auto *sin = reinterpret_cast<const struct sockaddr_in *>(&reqs[i].ifr_addr);
            char text[INET_ADDRSTRLEN];
            if (!inet_ntop(AF_INET, &sin->sin_addr, text, sizeof(text)))
                continue;
            if (int(std::strlen(text)) >= size)
                continue;
            std::snprintf(buffer, size_t(size), "%s", text);
            result = 0;
            break;
        }
    }
    ::close(sock);
    return result;
}

void Util::setStatusLEDAlwaysOn()
{
    setStatusLeds("default-on", nullptr, nullptr);
}

void Util::setStatusLEDSlowFlash()
{
    setStatusLeds("timer", "1000", "1000");
}

void Util::setStatusLEDQuickFlash()
{
    setStatusLeds("timer", "50", "80");
}

void Util::setStatusLEDHeartbeat()
{
    setStatusLeds("heartbeat", nullptr, nullptr);
}

void Util::setNetworkLEDAlwayOff()
{
    setNetworkLeds("none");
}

void Util::setNetworkLEDAlwayOn()
{
    setNetworkLeds("default-on");
}

bool Util::isUSBCardReader(const QString &product, const QString &pid, const QString &vid)
{
    if (product.toLower().contains(QLatin1String("reader")))
        return true;
    struct Reader
    {
        const char *name, *pid, *vid;
    };
    static const Reader readers[] = {
        {"Lexar RW450", "b060", "21c4"},
        {"Lexar RW310X", "b068", "21c4"},
        {"UGREEN USB3.0 Card Reader", "0749", "05e3"},
        {"UGREEN USB3.0 Card Reader", "0309", "05e3"},
        {"UGREEN USB3.0 Card Reader", "0747", "05e3"},
        {"UGREEN All-in-One Cardreader", "0748", "05e3"},
    };
    for (const Reader &r : readers) {
        if (pid.trimmed().compare(QLatin1String(r.pid), Qt::CaseInsensitive) == 0
            && vid.trimmed().compare(QLatin1String(r.vid), Qt::CaseInsensitive) == 0) {
            if (debugMode())
                qDebug() << "Found SD Card Reader:" << r.name;
            return true;
        }
    }
    return false;
}
