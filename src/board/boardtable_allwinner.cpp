// Allwinner rows of the board table. H3 and H5 kernels come in two flavours
// that report the family differently ("sun8i" or "Allwinnersun8iFamily",
// "sun50iw2" or "Allwinnersun50iw2Family"), so every H3/H5 model has one row
// per flavour. Within a family the model is told by the board id the boot
// loader leaves in sys_info; the revision is only the fallback.
#include "board/boardtablerows.h"

namespace boardtable {

namespace {
struct AllwinnerModel
{
    const char *name;
    const char *key;
    int revision;
    int boardId;
    const char *summary;
    int emmcMode;
    int ethPorts;
    const char *defaultOS;
};

const AllwinnerModel kH3Models[] = {
    {"Quill-H1", "quillh1", 0, 0, "H3/512M/Ethernet", 0, 1, "ubuntu-noble-core"},
    {"Quill-H1 Plus", "quillh1plus", 1, 1, "H3/1GB/8GB/Ethernet/WiFi", 1, 1, "ubuntu-noble-core"},
    {"Quill-H1 Breeze", "quillh1breeze", 2, 2, "H3/512M/8GB/WiFi", 1, 0, "ubuntu-noble-core"},
    {"Quill-H1 Twin", "quillh1twin", 3, 3, "H3/512M/Ethernet/WiFi", 0, 1, "debian-bookworm-core-arm64"},
    {"Quill-H1 Lark", "quillh1lark", 4, 4, "H3/512M/Ethernet", 0, 1, "ubuntu-noble-core"},
    {"Quill-H1 Module", "quillh1module", 5, 5, "H3/512M/1G/Ethernet", 1, 1, ""},
    {"Quill-H1 Mini", "quillh1mini", 6, 6, "H3/256M/Ethernet", 0, 1, "lumaroute"},
    {"Quill-H1 LTS", "quillh1lts", 7, 7, "H3/512M/8GB/Ethernet", 1, 1, "ubuntu-noble-core"},
    {"Quill-H1 Wave", "quillh1wave", 8, 8, "H3/1GB/Ethernet/WiFi/BT", 0, 1, "ubuntu-noble-core"},
    {"Quill-H1 Dock", "quillh1dock", 9, 9, "H3/512M/2xEthernet", 0, 2, "lumaroute"},
    {"Quill-H1 Tiny", "quillh1tiny", 10, 10, "H3/256M/WiFi", 0, 0, ""},
    {"Quill-H1 Max", "quillh1max", 11, 11, "H3/1GB/8GB/Ethernet/LCD", 1, 1, "lubuntu"},
    {"UnknowH3", "otherh3board", -1, 13, "Unknow", 0, 0, ""},
};

const AllwinnerModel kH5Models[] = {
    {"Quill-H5", "quillh5", 0, 0, "H5/512M/Ethernet", 0, 1, "ubuntu-noble-core-arm64"},
    {"Quill-H5 Plus", "quillh5plus", 1, 1, "H5/1GB/8GB/Ethernet/WiFi", 1, 1, "ubuntu-noble-core-arm64"},
    {"Quill-H5 Lark", "quillh5lark", 2, 2, "H5/512M/Ethernet", 0, 1, "debian-bookworm-core-arm64"},
    {"Quill-H5 Module", "quillh5module", 3, 3, "H5/1GB/8GB/Ethernet", 1, 1, ""},
    {"Quill-H5 Twin", "quillh5twin", 4, 4, "H5/512M/2xEthernet", 0, 2, "lumaroute"},
    {"Quill-H5 Max", "quillh5max", 5, 5, "H5/1GB/Ethernet/WiFi/BT", 0, 1, "ubuntu-noble-desktop-arm64"},
    {"UnknowH5", "otherh5board", -1, 13, "Unknow", 0, 0, ""},
};
} // namespace

static BoardHardwareInfo *allwinnerRow(const char *cpu, const char *hwKey, const AllwinnerModel &m)
{
    BoardHardwareInfo *b = fresh(cpu, "allwinner", kOwnMakerKey, hwKey);
    identify(b, m.name, m.key, m.revision, m.summary);
    b->allwinnerBoardId = QStringLiteral("%1(0)").arg(m.boardId);
    b->emmcMode = m.emmcMode;
    b->hasEthernet = m.ethPorts > 0;
    b->ethPortCount = m.ethPorts;
    b->hasWiFi = QByteArray(m.summary).contains("WiFi");
    b->usbHostCount = 1;
    b->defaultOSName = QString::fromLatin1(m.defaultOS);
    b->cpuUuidPath = QStringLiteral("/sys/bus/nvmem/devices/sunxi-sid0/nvmem");
    b->maxCpuFreqMHz = 800;
    return b;
}

static void appendDoubleRows(const char *cpu, const char *hwKey, const char *familyKey,
                             const AllwinnerModel *models, int count)
{
    for (int i = 0; i < count; ++i) {
        BoardHardwareInfo *b = allwinnerRow(cpu, hwKey, models[i]);
        add(b);
        BoardHardwareInfo *twin = BoardHardwareInfo::newOne(b);
        twin->cpuinfoHardware = QString::fromLatin1(familyKey);
        add(twin);
    }
}

void appendAllwinnerRows()
{
    appendDoubleRows("H3", "sun8i", "Allwinnersun8iFamily", kH3Models,
                     int(sizeof kH3Models / sizeof kH3Models[0]));
    appendDoubleRows("H5", "sun50iw2", "Allwinnersun50iw2Family", kH5Models,
                     int(sizeof kH5Models / sizeof kH5Models[0]));

    const AllwinnerModel h6 = {"Quill-H6", "quillh6", 0, 0, "H6/1GB/8GB/Ethernet", 1, 1,
                               "ubuntu-noble-core-arm64"};
    BoardHardwareInfo *b = allwinnerRow("H6", "sun50iw6", h6);
    b->cpuUuidPath.clear();
    add(b);

    // A64 kernels report no usable revision; the family alone identifies it.
    const AllwinnerModel a64 = {"Quill-A64", "quilla64", 0, 0, "A64/1GB/Ethernet", 0, 1,
                                "debian-bookworm-core-arm64"};
    b = allwinnerRow("A64", "sun50iw1p1", a64);
    b->allwinnerBoardId = QStringLiteral("0");
    b->cpuUuidPath.clear();
    add(b);
}

} // namespace boardtable
