#!/bin/bash
# Builds a simulated board below <dir>: procfs and sysfs files, a file-backed
# eMMC (dev/mmcblk2) and NVMe drive (dev/nvme0n1), and /mnt/sdcard holding
# image sets made by real tools (mkfs.ext4 -d, img2simg, gzip, sfdisk).
# Run the installer against it with IMGSMITH_ROOT=<dir>.
set -euo pipefail

# Every image set this script can make; each is the directory of that name
# below /mnt/sdcard, the name demo.sh and the tests use too.
ALL_SETS="linux-mbr4 linux-mbr6 rk3588-gpt rk3399-legacy raw-disk raw-gz raw-img"

usage() {
    cat <<USAGE
usage: make-sim-board.sh [options] <dir>

Makes a simulated board in <dir> for IMGSMITH_ROOT=<dir>: /proc, /sys, a
file-backed eMMC dev/mmcblk2 and NVMe drive dev/nvme0n1, and image sets in
mnt/sdcard made with mkfs.ext4 -d, img2simg, gzip and sfdisk.

options:
  --board rockchip|allwinner  board to imitate: RK3588 (default) or H3
  --emmc-mib N                size of the eMMC in MiB (default 256)
  --nvme-mib N                size of the NVMe drive in MiB (default 128)
  --sets all|none|NAME,...    image sets to make (default all):
                                linux-mbr4     partmap.txt, four MBR partitions
                                linux-mbr6     partmap.txt, six partitions (EBR chain)
                                rk3588-gpt     Rockchip parameter.txt, GPT, A/B slots
                                rk3399-legacy  Rockchip parameter block and IDB loader
                                raw-disk       raw-disk/disk.raw, a whole-disk image
                                raw-gz         raw-gz/disk.raw.gz, the same gzip-compressed
                                raw-img        raw-img/system.img, a raw .img
  --list-sets                 print the names of the image sets, one a line
  -h, --help                  show this text
USAGE
}

BOARD=rockchip
EMMC_MIB=256
NVME_MIB=128
SETS=all
while [ $# -gt 0 ]; do
    case "$1" in
        -h|--help) usage; exit 0 ;;
        --list-sets) printf '%s\n' $ALL_SETS; exit 0 ;;
        --board|--emmc-mib|--nvme-mib|--sets)
            [ $# -ge 2 ] || { echo "make-sim-board: $1 needs a value" >&2; exit 2; }
            case "$1" in
                --board) BOARD=$2 ;;
                --emmc-mib) EMMC_MIB=$2 ;;
                --nvme-mib) NVME_MIB=$2 ;;
                --sets) SETS=$2 ;;
            esac
            shift 2 ;;
        -*) echo "make-sim-board: unknown option $1 (see --help)" >&2; exit 2 ;;
        *) break ;;
    esac
done
if [ $# -ne 1 ]; then
    usage >&2
    exit 2
fi
if [ "$SETS" != all ] && [ "$SETS" != none ]; then
    for s in ${SETS//,/ }; do
        case " $ALL_SETS " in
            *" $s "*) ;;
            *) echo "make-sim-board: unknown image set '$s' (known: $ALL_SETS)" >&2; exit 2 ;;
        esac
    done
fi
ROOT=$1
export PATH="$PATH:/usr/sbin:/sbin"
for tool in mkfs.ext4 img2simg gzip sfdisk truncate; do
    command -v "$tool" >/dev/null || { echo "make-sim-board: $tool not found (run scripts/deps.sh)" >&2; exit 1; }
done

mkdir -p "$ROOT"/{proc/sys/kernel,dev,tmp,mnt/sdcard,mnt/udisk,etc}
echo "6.1.99-sim" > "$ROOT/proc/sys/kernel/osrelease"
echo "root=/dev/mmcblk1p8 rootwait console=ttyS2,1500000" > "$ROOT/proc/cmdline"

case "$BOARD" in
    rockchip)
        SOC=rk3588
        cat > "$ROOT/proc/cpuinfo" <<'CPU'
processor	: 0
BogoMIPS	: 48.00
Features	: fp asimd evtstrm aes pmull sha1 sha2 crc32 atomics fphp asimdhp cpuid asimdrdm lrcpc dcpop asimddp
CPU implementer	: 0x41
CPU architecture: 8
CPU variant	: 0x2
CPU part	: 0xd05
CPU revision	: 0

Hardware	: corvanta-rk3588
Revision	: 0000
Serial		: 9f3c2a51b6d04e78
CPU
        # The maker's kernels report the board here as well; it wins over cpuinfo.
        mkdir -p "$ROOT/sys/devices/platform/board"
        printf 'Hardware\t: corvanta-rk3588\nRevision\t: 0000\nSerial\t\t: 9f3c2a51b6d04e78\n' \
            > "$ROOT/sys/devices/platform/board/info"
        ;;
    allwinner)
        SOC=h3
        cat > "$ROOT/proc/cpuinfo" <<'CPU'
processor	: 0
model name	: ARMv7 Processor rev 5 (v7l)
BogoMIPS	: 48.00
Features	: half thumb fastmult vfp edsp neon vfpv3 tls vfpv4 idiva idivt vfpd32 lpae evtstrm
CPU implementer	: 0x41
CPU architecture: 7
CPU variant	: 0x0
CPU part	: 0xc07
CPU revision	: 5

Hardware	: sun8i
Revision	: 0000
Serial		: 02c00081a1b2c3d4
CPU
        mkdir -p "$ROOT/sys/class/sunxi_info"
        printf 'sunxi_platform    : Sun8iw7p1\nsunxi_secure      : normal\nsunxi_chipid      : 2c000081\nsunxi_chiptype    : 00000042\nsunxi_batchno     : 1\nsunxi_board_id    : 0(0)\n' \
            > "$ROOT/sys/class/sunxi_info/sys_info"
        ;;
    *) echo "make-sim-board: unknown board $BOARD" >&2; exit 2 ;;
esac

# A block device: sys/devices/<path>/<dev>/size in 512-byte sectors, reached
# through sys/block/<dev> and sys/class/block/<dev>, and dev/<dev> as a
# sparse regular file of the same size.
add_block_device() {
    local dev=$1 devpath=$2 mib=$3
    local sectors=$((mib * 2048))
    mkdir -p "$ROOT/sys/devices/$devpath/$dev" "$ROOT/sys/block" "$ROOT/sys/class/block"
    echo "$sectors" > "$ROOT/sys/devices/$devpath/$dev/size"
    echo 0 > "$ROOT/sys/devices/$devpath/$dev/removable"
    echo 0 > "$ROOT/sys/devices/$devpath/$dev/ro"
    ln -sfn "../devices/$devpath/$dev" "$ROOT/sys/block/$dev"
    ln -sfn "../../devices/$devpath/$dev" "$ROOT/sys/class/block/$dev"
    rm -f "$ROOT/dev/$dev"
    truncate -s "${mib}M" "$ROOT/dev/$dev"
}

if [ "$BOARD" = rockchip ]; then
    MMCPATH=platform/fe2e0000.mmc/mmc_host/mmc2/mmc2:0001/block
    SDPATH=platform/fe2c0000.mmc/mmc_host/mmc1/mmc1:aaaa/block
else
    MMCPATH=platform/soc/1c11000.mmc/mmc_host/mmc2/mmc2:0001/block
    SDPATH=platform/soc/1c0f000.mmc/mmc_host/mmc0/mmc0:aaaa/block
fi
add_block_device mmcblk2 "$MMCPATH" "$EMMC_MIB"
: > "$ROOT/dev/mmcblk2boot0"
: > "$ROOT/dev/mmcblk2boot1"
mkdir -p "$ROOT/sys/devices/$MMCPATH/../device"
echo "MMC32G" > "$ROOT/sys/devices/$MMCPATH/../name" 2>/dev/null || true
echo "15010038474e43533102a8b1c2d3e4a1" > "$ROOT/sys/devices/$MMCPATH/../cid" 2>/dev/null || true
add_block_device nvme0n1 "platform/a40000000.pcie/pci0000:00/0000:00:00.0/0000:01:00.0/nvme/nvme0" "$NVME_MIB"
# The SD card the installer booted from: sysfs entry only, never a target.
mkdir -p "$ROOT/sys/devices/$SDPATH/mmcblk1"
echo $((8 * 1024 * 2048)) > "$ROOT/sys/devices/$SDPATH/mmcblk1/size"
ln -sfn "../devices/$SDPATH/mmcblk1" "$ROOT/sys/block/mmcblk1"
ln -sfn "../../devices/$SDPATH/mmcblk1" "$ROOT/sys/class/block/mmcblk1"

cat > "$ROOT/proc/mounts" <<'MNT'
/dev/mmcblk1p8 / ext4 rw,relatime 0 0
proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0
sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0
tmpfs /tmp tmpfs rw,nosuid,nodev 0 0
/dev/mmcblk1p1 /mnt/sdcard vfat rw,relatime,fmask=0022,dmask=0022,codepage=437,iocharset=utf8 0 0
MNT
cat > "$ROOT/proc/partitions" <<PART
major minor  #blocks  name

 179        0 $((EMMC_MIB * 1024)) mmcblk2
 259        0 $((NVME_MIB * 1024)) nvme0n1
 179       32    8388608 mmcblk1
PART

# ---- image sets ------------------------------------------------------------
SD=$ROOT/mnt/sdcard
WORK=$(mktemp -d "${TMPDIR:-/tmp}/simboard.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

want() {
    [ "$SETS" = all ] && return 0
    [ "$SETS" = none ] && return 1
    case ",$SETS," in *",$1,"*) return 0 ;; esac
    return 1
}

# Deterministic pseudo-random bytes: <file> <bytes> <seed>.
pattern() {
    python3 -c "import random,sys; r=random.Random(int(sys.argv[3])); sys.stdout.buffer.write(r.randbytes(int(sys.argv[2])))" \
        x "$2" "$3" > "$1"
}

# An ext4 file system of <mib> MiB with a few files in it: <out> <mib> <label>.
make_ext4() {
    local out=$1 mib=$2 label=$3
    local src=$WORK/src-$label
    rm -rf "$src"
    mkdir -p "$src/etc" "$src/usr/share/doc"
    echo "$label" > "$src/etc/hostname"
    printf 'NAME="Simulated Linux"\nVERSION_ID="1"\n' > "$src/etc/os-release"
    pattern "$src/usr/share/doc/blob.bin" $((mib * 1024 * 64)) "${#label}"
    rm -f "$out"
    mkfs.ext4 -q -F -L "$label" -E root_owner=0:0 -d "$src" "$out" "${mib}M" >/dev/null
}

# Same, as an Android sparse image.
make_sparse_ext4() {
    local out=$1 mib=$2 label=$3
    make_ext4 "$WORK/$label.raw" "$mib" "$label"
    img2simg "$WORK/$label.raw" "$out"
}

if want linux-mbr4; then
    d=$SD/linux-mbr4
    mkdir -p "$d"
    pattern "$d/bootloader.bin" 300000 11
    make_ext4 "$d/boot.img" 16 boot
    make_sparse_ext4 "$d/rootfs.img" 64 rootfs
    make_ext4 "$d/userdata.img" 8 userdata
    cat > "$d/partmap.txt" <<'MAP'
# four MBR partitions behind a raw boot loader area; userdata grows
flash=mmc,0:bootloader:raw:0x8000,0xF8000:bootloader.bin;
flash=mmc,0:boot:ext4:0x100000,0x1000000:boot.img;
flash=mmc,0:rootfs:ext4:0x1100000,0x5000000:rootfs.img;
flash=mmc,0:opt:ext4:0x6100000,0x1000000:;
flash=mmc,0:userdata:ext4:0x7100000,0x0:userdata.img;
MAP
fi

if want linux-mbr6; then
    d=$SD/linux-mbr6
    mkdir -p "$d"
    pattern "$d/bootloader.bin" 200000 12
    make_ext4 "$d/boot.img" 8 boot6
    make_sparse_ext4 "$d/rootfs.img" 48 rootfs6
    pattern "$d/misc.img" 65536 13
    make_ext4 "$d/opt.img" 8 opt6
    make_ext4 "$d/userdata.img" 8 userdata6
    # Logical partitions each leave 1 MiB in front of them for their EBR.
    cat > "$d/partmap.txt" <<'MAP'
flash=mmc,0:bootloader:raw:0x8000,0xF8000:bootloader.bin;
flash=mmc,0:boot:ext4:0x100000,0x1000000:boot.img;
flash=mmc,0:rootfs:ext4:0x1100000,0x4000000:rootfs.img;
flash=mmc,0:misc:emmc:0x5100000,0x100000:misc.img;
flash=mmc,0:cache:ext4:0x5300000,0x1000000:;
flash=mmc,0:opt:ext4:0x6400000,0x1000000:opt.img;
flash=mmc,0:userdata:ext4:0x7500000,0x0:userdata.img;
MAP
fi

# Rockchip sets: sizes and offsets are sectors of 512 bytes.
if want rk3588-gpt; then
    d=$SD/rk3588-gpt
    mkdir -p "$d"
    pattern "$d/idbloader.img" 262144 21
    pattern "$d/uboot.img" 1048576 22
    pattern "$d/misc.img" 16384 23
    make_ext4 "$d/boot.img" 16 rkboot
    make_sparse_ext4 "$d/rootfs.img" 64 rkroot
    cat > "$d/parameter.txt" <<'MAP'
FIRMWARE_VER: 1.0
MACHINE_MODEL: RK3588
MACHINE_ID: 007
MANUFACTURER: RK3588
MAGIC: 0x5041524B
ATAG: 0x00200800
MACHINE: 3588
CHECK_MASK: 0x80
PWR_HLD: 0,0,A,0,1
TYPE: GPT
CMDLINE: mtdparts=rk29xxnand:0x00002000@0x00004000(uboot),0x00002000@0x00006000(misc),0x00010000@0x00008000(boot_a:bootable),0x00010000@0x00018000(boot_b),0x00028000@0x00028000(rootfs),-@0x00050000(userdata:grow)
uuid:rootfs=614e0000-0000-4b53-8000-1d28000054a9
uuid:boot_a=7a3f0000-0000-446a-8000-702f00006273
MAP
fi

if want rk3399-legacy; then
    d=$SD/rk3399-legacy
    mkdir -p "$d"
    pattern "$d/idbloader.img" 200000 31
    pattern "$d/uboot.img" 1048576 32
    pattern "$d/trust.img" 524288 33
    make_ext4 "$d/boot.img" 16 lboot
    make_sparse_ext4 "$d/rootfs.img" 64 lroot
    cat > "$d/parameter.txt" <<'MAP'
FIRMWARE_VER: 8.1
MACHINE_MODEL: RK3399
MACHINE_ID: 007
MANUFACTURER: RK3399
MAGIC: 0x5041524B
ATAG: 0x00200800
MACHINE: 3399
CHECK_MASK: 0x80
PWR_HLD: 0,0,A,0,1
CMDLINE: console=ttyFIQ0 root=/dev/mmcblk0p4 rw rootwait mtdparts=rk29xxnand:0x00002000@0x00002000(uboot),0x00002000@0x00004000(trust),0x00010000@0x00008000(boot),0x00030000@0x00018000(rootfs),-@0x00048000(userdata:grow)
MAP
fi

# Raw image sets: a whole disk made with sfdisk and real file systems.
make_disk() {
    local out=$1 mib=$2
    truncate -s "${mib}M" "$out"
    printf 'label: dos\nstart=2048, size=16384, type=83\nstart=18432, type=83\n' | sfdisk -q "$out" >/dev/null
    make_ext4 "$WORK/p1.img" 8 rawboot
    make_ext4 "$WORK/p2.img" $((mib - 10)) rawroot
    dd if="$WORK/p1.img" of="$out" bs=512 seek=2048 conv=notrunc status=none
    dd if="$WORK/p2.img" of="$out" bs=512 seek=18432 conv=notrunc status=none
}

if want raw-disk; then
    mkdir -p "$SD/raw-disk"
    make_disk "$SD/raw-disk/disk.raw" 40
fi
if want raw-gz; then
    mkdir -p "$SD/raw-gz"
    make_disk "$WORK/gz.raw" 48
    gzip -c -n "$WORK/gz.raw" > "$SD/raw-gz/disk.raw.gz"
fi
if want raw-img; then
    mkdir -p "$SD/raw-img"
    make_disk "$SD/raw-img/system.img" 32
fi

echo "simulated $BOARD board ($SOC) in $ROOT: eMMC ${EMMC_MIB} MiB (dev/mmcblk2), NVMe ${NVME_MIB} MiB (dev/nvme0n1)"
for s in "$SD"/*; do
    [ -e "$s" ] && echo "  image set: ${s#"$ROOT"}"
done
exit 0
