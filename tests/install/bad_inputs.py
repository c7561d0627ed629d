#!/usr/bin/env python3
"""Damaged and hostile image sets through imgsmith-install on a simulated board.

Every family of bad input has a case that must install and one that must be
refused. A refusal leaves both patterned disks byte-identical, an install puts
every image where it belongs (cmp, gzip, simg2img, sgdisk), a failure mid-write
changes nothing outside its target range, and nothing else below the root changes.

usage: bad_inputs.py <imgsmith-install> <source dir>
"""
import datetime
import gzip
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

DRIVER, SRC = sys.argv[1], sys.argv[2]
MIB = 1 << 20
EMMC_MIB, NVME_MIB = 24, 8
for tool in ("img2simg", "simg2img", "sgdisk", "sfdisk", "xz", "zstd", "xxhsum"):
    if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
        print("skipped: %s not found" % tool)
        sys.exit(77)

WORK = tempfile.mkdtemp(prefix="bad-inputs.")
ROOT = os.path.join(WORK, "board")
subprocess.run([os.path.join(SRC, "scripts/make-sim-board.sh"), "--sets", "none", "--emmc-mib", str(EMMC_MIB),
                "--nvme-mib", str(NVME_MIB), ROOT], check=True, stdout=subprocess.DEVNULL)
SD = os.path.join(ROOT, "mnt/sdcard")
EMMC = os.path.join(ROOT, "dev/mmcblk2")
NVME = os.path.join(ROOT, "dev/nvme0n1")
PATTERN = hashlib.sha256(b"imgsmith").digest() * (MIB // 32)


def blob(n, seed):
    out = bytearray()
    while len(out) < n:
        out += hashlib.sha256(b"%d:%d" % (seed, len(out))).digest()
    return bytes(out[:n])


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


# The product name the eMMC reports; the record names its part number.
put(os.path.join(ROOT, "sys/class/block/mmcblk2/device/name"), b"8GTF4R\n")
EMMC_MODEL = "KLM8G1GETF-B041"


def sparse(raw, total_blocks=None):
    """An Android sparse image of `raw` made by img2simg; total_blks may be forged."""
    put(WORK + "/s.raw", raw)
    subprocess.run(["img2simg", WORK + "/s.raw", WORK + "/s.simg"], check=True)
    data = bytearray(open(WORK + "/s.simg", "rb").read())
    if total_blocks is not None:
        data[16:20] = struct.pack("<I", total_blocks)
    return bytes(data)


LOADER = blob(200000, 1)
BOOT = blob(300000, 2)


def partmap_set(name, lines, files=None, map_name="partmap.txt"):
    """A set with its map (partmap.txt or parameter.txt); every set also carries the board's loader."""
    d = os.path.join(SD, name)
    put(d + "/idbloader.img", LOADER)
    for f, data in (files if files is not None else {"boot.img": BOOT}).items():
        put(os.path.join(d, f), data)
    put(os.path.join(d, map_name), lines if isinstance(lines, bytes) else lines.encode())
    return "/mnt/sdcard/" + name


def parameter_set(name, cmdline):
    head = "FIRMWARE_VER: 1.0\nMACHINE_MODEL: RK3588\nMANUFACTURER: RK3588\nTYPE: GPT\n"
    return partmap_set(name, head + cmdline, map_name="parameter.txt")


def package(name, extra=(), damage_magic=False, rkfw=None, param_file="Image/parameter.txt", packer=None, **top):
    """A firmware package made by the tests' independent RKFW/RKAF writer;
    `rkfw` and `top` are the writer's damage options, `packer` a compressor."""
    param = ("FIRMWARE_VER: 1.0\nMACHINE_MODEL: RK3588\nMANUFACTURER: RK3588\nTYPE: GPT\n"
             "CMDLINE: mtdparts=rk29xxnand:0x00000800@0x00004000(boot),-@0x00005000(rootfs:grow)\n")
    entries = [{"name": "parameter", "file": "Image/parameter.txt", "parameter": True, "data": param},
               {"name": "package-file", "file": "package-file",
                "data": "package-file package-file\nparameter %s\n" % param_file},
               {"name": "idbloader", "file": "Image/idbloader.img", "size": 200000},
               {"name": "boot", "file": "Image/boot.img", "size": 300000}] + list(extra)
    put(WORK + "/layout.json", json.dumps(dict(top, entries=entries, rkfw=rkfw or {})).encode())
    out = os.path.join(SD, name, "update.img")
    os.makedirs(os.path.dirname(out), exist_ok=True)
    subprocess.run([sys.executable, os.path.join(SRC, "tests/rockchip/mkrkfw.py"), WORK + "/layout.json", out],
                   check=True)
    if damage_magic:
        with open(out, "r+b") as f:
            f.write(b"RKFX")
    if packer:
        data = open(out, "rb").read()
        os.unlink(out)
        ext = {"gzip": ".gz", "cut": ".gz", "xz": ".xz", "zstd": ".zst"}[packer]
        out += ext
        data = packed(data, ext)
        put(out, data[:len(data) // 2] if packer == "cut" else data)
    return out[len(ROOT):]


def on_disk(path, size):   # the eMMC is `size` bytes long (None: gone)
    if size is None:
        os.unlink(EMMC)
    else:
        os.truncate(EMMC, size)
    return path


def raw_set(name, data, file="disk.img"):
    put(os.path.join(SD, name, file), data)
    return "/mnt/sdcard/%s/%s" % (name, file)


def special_set(name, file, make):
    os.makedirs(os.path.join(SD, name), exist_ok=True)
    make(os.path.join(SD, name, file))
    return "/mnt/sdcard/%s/%s" % (name, file)


def long_set(missing):
    # A set path of about 300 bytes: longer than the old 255-byte buffers.
    deep = "/".join(["d" * 60] * 4) + ("/missing" if missing else "/long")
    return boot_map(deep, files={} if missing else None)


def packed(data, ext):
    if ext == ".gz":
        return gzip.compress(data, mtime=0)
    tool = ["xz", "-c", "-T2", "--block-size=%d" % MIB] if ext == ".xz" else ["zstd", "-q", "-c"]
    return subprocess.run(tool, input=data, stdout=subprocess.PIPE, check=True).stdout


def damaged(ext, how):
    data = packed(blob(3 * MIB, 9), ext)
    data = {"cut": data[:len(data) // 2], "garbage": data + b"garbage\n"}[how]
    return raw_set("%s-%s" % (ext[1:], how), data, "disk.raw" + ext)


# ---- checks of what an install wrote ---------------------------------------

def at(dev, offset, data):
    return open(dev, "rb").read()[offset:offset + len(data)] == data


def holds(offset, data):
    return lambda: at(EMMC, offset, data)


def sgdisk_ok():
    return "No problems found" in subprocess.run(["sgdisk", "-v", EMMC], capture_output=True, text=True).stdout


def sparse_written(raw, offset):
    # simg2img is the reference reader of the image the test wrote.
    subprocess.run(["simg2img", WORK + "/s.simg", WORK + "/s.out"], check=True)
    return lambda: open(WORK + "/s.out", "rb").read() == raw and at(EMMC, offset, raw)


def only_image_range_changed():
    """After a failure writing a 3 MiB image: eMMC bytes past it, but for the
    backup GPT, keep the pattern."""
    disk, want = bytearray(open(EMMC, "rb").read()), PATTERN * EMMC_MIB
    for start, end in ((0, 3 * MIB), (EMMC_MIB * MIB - 33 * 512, EMMC_MIB * MIB)):
        disk[start:end] = want[start:end]
    return disk == want
OK = "All done"
SMALL_RAW = blob(2 * MIB, 4)
FS = blob(1 * MIB, 5) + bytes(3 * MIB) + blob(64 * 1024, 6)

def package_installed():
    """The writer's entry bytes: the loader at sector 64, boot at 0x4000, in a sound GPT."""
    def entry(name, size):
        return bytes((i * 7 + len(name)) & 0xFF for i in range(size))
    return (at(EMMC, 64 * 512, entry("Image/idbloader.img", 200000)) and
            at(EMMC, 0x4000 * 512, entry("Image/boot.img", 300000)) and sgdisk_ok())


def no(family, name, build, expect, options=()):   # a set that must be refused
    return (family, name, build, list(options), expect, None)


def boot_map(name, file="boot.img", end=";", files=None):   # one raw boot partition at 1 MiB
    return partmap_set(name, "flash=mmc,0:boot:raw:0x100000,0x100000:%s%s\n" % (file, end), files)


def mtd(name, parts):
    return parameter_set(name, "CMDLINE: mtdparts=rk29xxnand:%s\n" % parts)


def entry(name, file, size, **more):
    return [dict(name=name, file=file, size=size, **more)]


LF = ["--low-format"]
NO_PARAM = "Not found parameter file in this package."
CASES = [
    ("package entries", "sound package", lambda: package("fw-ok", rkfw={"digest": "upper"}), [], OK, package_installed),
] + [("package entries", "sound %s package" % p, lambda p=p: package("fw-" + p, packer=p), [], OK, package_installed)
     for p in ("gzip", "xz", "zstd")] + [
    no("package entries", "entry past the end", lambda: package("fw-past", entry("evil", "x.img", 100, offset=1 << 30)),
       "its data lies outside the package"),
    no("package entries", "entry leaving its directory", lambda: package("fw-esc", entry("evil", "../../x.img", 100)),
       "leaves the package directory"),
    no("package entries", "more than 16 entries", lambda: package("fw-n17", num_parts=17), "more than 16 entries"),
    no("package entries", "parameter named outside", lambda: package("fw-pesc", param_file="../parameter.txt"), NO_PARAM),
    no("package entries", "parameter not in the package", lambda: package("fw-pmiss", param_file="Image/none.txt"), NO_PARAM),
    no("package entries", "entry with an absolute path",
       lambda: package("fw-abs", entry("abs", "/tmp/abs-escape.img", 1000)), "leaves the package directory"),
    no("package magic", "damaged RKFW magic", lambda: package("fw-magic", damage_magic=True), "without an RKFW header"),
    no("package magic", "package cut short", lambda: package("fw-cut", rkfw={"truncate": 3000}),
       "Failed to unpack rk firmware. /mnt/sdcard/fw-cut/update.img: "),
    no("package magic", "gzip package, wrong checksum", lambda: package("fw-crc", bad_crc=True, packer="gzip"),
       "checksum mismatch."),
    no("package magic", "cut-short gzip package", lambda: package("fw-gzcut", packer="cut"),
       "Failed to decompress file, ret = -1. /mnt/sdcard/fw-gzcut/update.img.gz: gzip: unexpected end of file"),
    # A refused package on a device whose check fails reports the device: it
    # was never unpacked. Neither is the low format run.
    no("device checks first", "refused package, empty eMMC",
       lambda: on_disk(package("dc-empty", rkfw={"digest": "bad"}), 0), "Invalid disk size (0) /dev/mmcblk2", LF),
    no("device checks first", "package, eMMC too small", lambda: on_disk(package("dc-small"), 4 * MIB),
       "lies beyond the end of /dev/mmcblk2", LF),
    no("device checks first", "package, eMMC missing", lambda: on_disk(package("dc-gone"), None),
       "/dev/mmcblk2: no such device", LF),
    ("no partitions", "one partition", lambda: boot_map("pm-ok"), [], OK, holds(MIB, BOOT)),
    no("no partitions", "empty map", lambda: partmap_set("pm-empty", ""), "no partitions"),
    no("no partitions", "comments only", lambda: partmap_set("pm-comments", "# nothing\n# here\n"), "no partitions"),
    no("no partitions", "binary map", lambda: partmap_set("pm-binary", blob(3000, 7).replace(b"\0", b"x")), "no partitions"),
    no("no partitions", "parameter without CMDLINE", lambda: parameter_set("rk-nocmd", ""), "no partitions"),
    no("no partitions", "empty mtdparts", lambda: mtd("rk-empty", ""), "no partitions"),
    ("GPT ranges", "partitions in the usable area", lambda: mtd("rk-gpt", "0x800@0x4000(boot),-@0x5000(rootfs:grow)"),
     [], OK, lambda: holds(0x4000 * 512, BOOT)() and sgdisk_ok()),
    no("GPT ranges", "partition at offset 0", lambda: mtd("rk-zero", "0x800@0x0(boot)"), "lies on the partition table"),
    no("GPT ranges", "partition over the IDB loader", lambda: mtd("rk-idb", "0x800@0x100(boot)"), "lies on the IDB loader area"),
    no("GPT ranges", "partition over the backup GPT", lambda: mtd("rk-end", "0x800@0x4000(boot),0x%x@0x5000(rootfs)"
       % (EMMC_MIB * 2048 - 0x5000)), "runs over the backup partition table"),
    ("sparse coverage", "complete sparse image",
     lambda: partmap_set("sp-ok", "flash=mmc,0:root:ext4:0x100000,0x800000:root.img;\n", {"root.img": sparse(FS)}),
     [], OK, lambda: sparse_written(FS, MIB)()),
    no("sparse coverage", "chunks short of total_blks",
       lambda: partmap_set("sp-short", "flash=mmc,0:root:ext4:0x100000,0x800000:root.img;\n",
                           {"root.img": sparse(FS, total_blocks=len(FS) // 4096 + 16)}), "chunks cover"),
    ("map lines", "last line without its ;", lambda: boot_map("ln-ok", end=""), [], OK, holds(MIB, BOOT)),
    no("map lines", "NUL byte in a line",
       lambda: partmap_set("ln-nul", b"flash=mmc,0:a:raw:0x100000,0x1000\0:;\nflash=mmc,0:boot:raw:0x200000,0x100000:boot.img;\n"),
       "line 1: a NUL byte in the line"),
    no("map lines", "no listed image exists", lambda: boot_map("ln-none", "gone.img"), "nothing to install"),
    ("source is target", "another image", lambda: raw_set("self-ok", SMALL_RAW), [], OK, holds(0, SMALL_RAW)),
    no("source is target", "the eMMC itself", lambda: special_set("self", "self.img", lambda p: os.symlink(EMMC, p)),
       "it is the target device"),
    ("low format", "sound set", lambda: raw_set("lf-ok", SMALL_RAW), LF, OK, holds(0, SMALL_RAW)),
    no("low format", "oversize image", lambda: raw_set("lf-big", blob(EMMC_MIB * MIB + 1, 8)), "File too big", LF),
    no("low format", "overlapping map", lambda: partmap_set("lf-overlap", "flash=mmc,0:a:ext4:0x100000,0x400000:boot.img;\n"
       "flash=mmc,0:b:ext4:0x200000,0x400000:;\n"), "Fail make mbr-part table", LF),
    no("low format", "package with a bad MD5", lambda: package("lf-md5") and _bad_md5("lf-md5"), "MD5", LF),
    ("raw sparse", "sparse disk image", lambda: raw_set("rs-ok", sparse(FS)), [], OK, lambda: sparse_written(FS, 0)()),
    no("raw sparse", "sparse image bigger than the disk",
       lambda: raw_set("rs-big", sparse(FS, total_blocks=EMMC_MIB * 256 + 1)), "File too big"),
    no("raw sparse", "corrupt sparse image", lambda: raw_set("rs-bad", sparse(FS)[:-4096]), "Invalid image file"),
    ("not a file", "regular image", lambda: raw_set("ff-ok", SMALL_RAW), ["--verify"], OK, holds(0, SMALL_RAW)),
    no("not a file", "FIFO as the image", lambda: special_set("ff", "disk.img", os.mkfifo), "not a directory or a file"),
    no("not a file", "FIFO as a partition image", lambda: special_set("ffp", "disk.img", os.mkfifo) and boot_map(
       "ffp", "disk.img", files={}), "not a regular file or block device"),
    ("long names", "set path of 300 bytes", lambda: long_set(False), [], OK, holds(MIB, BOOT)),
    no("long names", "set path of 300 bytes, image missing", lambda: long_set(True), "nothing to install"),
    ("long names", "set name that is not UTF-8", lambda: raw_set(os.fsdecode(b"set-\xff\xfe"), SMALL_RAW), [], OK,
     holds(0, SMALL_RAW)),
] + [row for tool, ext, image in (("gzip", ".gz", "disk.raw"), ("xz", ".xz", "disk.img"), ("zstd", ".zst", "disk.raw"))
       for row in [("damaged " + tool, "whole %s image" % tool, lambda e=ext, i=image: raw_set(
           e[1:] + "-ok", packed(SMALL_RAW, e), i + e), [], OK, holds(0, SMALL_RAW))] +
       [("damaged " + tool, "%s %s image" % (how, tool), lambda e=ext, h=how: damaged(e, h), [],
         "The image is damaged: %s:" % tool, only_image_range_changed)
        for how in ("cut", "garbage") if how == "cut" or tool != "gzip"]]


def _bad_md5(name):
    path = os.path.join(SD, name, "update.img")
    with open(path, "r+b") as f:
        f.seek(-1, os.SEEK_END)
        last = f.read(1)
        f.seek(-1, os.SEEK_END)
        f.write(b"0" if last != b"0" else b"1")
    return "/mnt/sdcard/%s/update.img" % name


# Every install that reached the job leaves one JSON line on the card. A line
# cut short by an earlier power failure must stay alone on its line.
REPORT = os.path.join(SD, "imgsmith-report.jsonl")
CUT = b'{"time": "2026-01-01T00:0'
put(REPORT, CUT)


def records():
    data = open(REPORT, "rb").read()
    assert data.startswith(CUT) and (data == CUT or data.endswith(b"\n")), data[-200:]
    return [json.loads(line) for line in data.split(b"\n")[1:-1]]


def report_problems(new, status, expect, options, setpath, wall):
    if status == 2:   # refused on the command line, no job
        return ["a report without an install"] if new else []
    if len(new) != 1:
        return ["%d report lines instead of one" % len(new)]
    r = new[0]
    problems = []
    want = {"operation": "install", "result": "ok" if expect == OK else "failed",
            "lowFormat": "--low-format" in options, "board": {"name": "Alpha-X9", "cpu": "RK3588",
                                                              "cpuId": r["board"].get("cpuId") or "missing"}}
    problems += ["report %s: %r" % (k, r.get(k)) for k, v in want.items() if r.get(k) != v]
    # Bytes that are not UTF-8 reach the report as U+FFFD, one per byte.
    if os.fsencode(setpath).decode(errors="replace") != r["imageSet"]["path"]:
        problems.append("report path %r" % r["imageSet"]["path"])
    if r["imageSet"]["kind"] != ("Linux" if os.path.isdir(ROOT + setpath) else "RawImage"):
        problems.append("report kind %r" % r["imageSet"]["kind"])
    if [(t["role"], t["device"], t["kind"], t["model"], t["bytes"]) for t in r["targets"]] != [
            ("boot", "/dev/mmcblk2", "eMMC", EMMC_MODEL, EMMC_MIB * MIB)]:
        problems.append("report targets %r" % r["targets"])
    if (expect == OK) != (r["error"] == "") or expect != OK and expect not in r["error"]:
        problems.append("report error %r" % r["error"])
    # A hash only when the install read its images back; XXH3 of the raw image.
    wrong = [i for i in r["images"] if i["bytes"] <= 0 or ("xxh3" in i) != ("--verify" in options) or
             "xxh3" in i and subprocess.run(["xxhsum", "-H3", ROOT + i["name"]], capture_output=True,
                                            text=True).stdout.split()[-1] != i["xxh3"]]
    # Named where they lie in the set (an unpacked package's entries inside
    # the package, not in the work directory the job removes).
    wrong += [i for i in r["images"] if i["name"] != r["imageSet"]["path"] and
              not i["name"].startswith(r["imageSet"]["path"] + "/")]
    if wrong or expect == OK and not r["images"] or [i["partition"] for i in r["images"]] != [
            partition_of(setpath, i["name"], r["imageSet"]["path"]) for i in r["images"]]:
        problems.append("report images %r" % r["images"])
    # The run's own length bounds the duration; the speed is the bytes over it.
    ms = round(r["durationSeconds"] * 1000)
    if not 0 <= ms <= wall * 1000 or r["bytesPerSecond"] != (
            sum(i["bytes"] for i in r["images"]) * 1000 // ms if ms else 0):
        problems.append("report duration %r, speed %r" % (r["durationSeconds"], r["bytesPerSecond"]))
    if datetime.datetime.fromisoformat(r["time"].replace("Z", "+00:00")).utcoffset() != datetime.timedelta(0):
        problems.append("report time %r" % r["time"])
    return problems


def partition_of(setpath, image, reported_set):
    """The partition of `image`: "root" for a whole-disk image, else its partmap.txt
    line, or in a parameter layout the part of its stem (the IDB loader by its file)."""
    m = os.path.join(ROOT + setpath, "partmap.txt")
    if image == reported_set:
        return "root"
    if not os.path.isfile(m):
        name = os.path.basename(image)
        return name if name == "idbloader.img" else name.rsplit(".", 1)[0]
    for line in open(m, errors="replace").read().splitlines():
        f = line.rstrip(";").split(":")
        if len(f) == 5 and image == setpath + "/" + f[4]:
            return f[1]


def fill_disks():
    for dev, mib in ((EMMC, EMMC_MIB), (NVME, NVME_MIB)):
        put(dev, PATTERN * mib)


def unchanged(dev):
    """cmp of a disk against its copy taken before the run (both missing: unchanged)."""
    copy = WORK + "/" + os.path.basename(dev) + ".before"
    return os.path.exists(dev) == os.path.exists(copy) and (
        not os.path.exists(dev) or subprocess.run(["cmp", "-s", dev, copy]).returncode == 0)


def tree():
    """Files below the root with size and time, directories by name; the disks, log and report left out."""
    out = {}
    for d, dirs, files in os.walk(ROOT):
        for n in dirs + files:
            p = os.path.join(d, n)
            st = os.lstat(p)
            out[os.path.relpath(p, ROOT)] = None if n in dirs else (st.st_size, st.st_mtime_ns)
    for skip in ("dev/mmcblk2", "dev/nvme0n1", "tmp/imgsmith-gui.log", "mnt/sdcard/imgsmith-report.jsonl"):
        out.pop(skip, None)
    return out


failures = 0
for family, name, build, options, expect, check in CASES:
    fill_disks()
    seen = len(records())
    setpath = build()
    for dev in (EMMC, NVME):
        copy = WORK + "/" + os.path.basename(dev) + ".before"
        shutil.copyfile(dev, copy) if os.path.exists(dev) else os.path.exists(copy) and os.unlink(copy)
    files = tree()
    env = dict(os.environ, IMGSMITH_ROOT=ROOT)
    started = time.monotonic()
    try:
        r = subprocess.run([DRIVER] + options + [os.fsencode(setpath), "mmcblk2", "none"],
                           capture_output=True, env=env, timeout=60)
        out, status = r.stdout.decode(errors="replace") + r.stderr.decode(errors="replace"), r.returncode
    except subprocess.TimeoutExpired:
        out, status = "(hung)", None
    problems = report_problems(records()[seen:], status, expect, options, setpath, time.monotonic() - started)
    if expect == OK:
        if status != 0 or OK not in out:
            problems.append("did not install")
        elif not check():
            problems.append("installed, but the data on the disk is not the image set's")
    else:
        # A refusal is the program's own failure status: a crash or a
        # sanitizer report (23) is not a refusal.
        problems += [why for bad, why in (
            (status not in (1, 2) or OK in out, "exit status %s" % status),
            (expect not in out, "no '%s' in the output" % expect),
            (not unchanged(NVME), "the NVMe drive changed"),
            (not (unchanged(EMMC) if check is None else check()), "the eMMC changed outside the target range"),
            ("Low format done" in out or "Low format: erasing" in out, "the low format ran before the refusal")) if bad]
    if tree() != files:
        problems.append("written beside the disks: %s" % sorted(set(tree().items()) ^ set(files.items())))
    if problems:
        failures += 1
        print("FAIL  %-16s %-40s %s\n%s" % (family, name, "; ".join(problems), out))
    else:
        print("ok    %-16s %-40s %s" % (family, name, expect if expect != OK else "installed"))

# A card mounted read-only, then a report that cannot be written (a
# directory in its place): skipped with a log line, the install ends as it
# would have.
MOUNTS = os.path.join(ROOT, "proc/mounts")
LOG = os.path.join(ROOT, "tmp/imgsmith-gui.log")
RW = open(MOUNTS, "rb").read()
put(MOUNTS, RW.replace(b" /mnt/sdcard vfat rw,", b" /mnt/sdcard vfat ro,"))
for setpath, status in ((raw_set("ro-ok", SMALL_RAW), 0), (damaged(".gz", "cut"), 1), (None, 0)):
    if setpath is None:
        put(MOUNTS, RW)
        os.rename(REPORT, WORK + "/report")
        os.mkdir(REPORT)
        setpath, why = raw_set("unwritable", SMALL_RAW), b"report: cannot write /mnt/sdcard/imgsmith-report.jsonl"
    else:
        why = b"report: /mnt/sdcard is mounted read-only, no imgsmith-report.jsonl written"
    before = open(LOG, "rb").read().count(why)
    seen = len(records()) if os.path.isfile(REPORT) else 0
    r = subprocess.run([DRIVER, setpath, "mmcblk2", "none"], capture_output=True, env=env)
    added = len(records()) - seen if os.path.isfile(REPORT) else len(os.listdir(REPORT))
    if r.returncode != status or added or open(LOG, "rb").read().count(why) != before + 1:
        failures += 1
        print("FAIL  report skipped for %s: exit %d, %d report lines" % (setpath, r.returncode, added))
if os.path.isfile("/tmp/abs-escape.img") and os.path.getsize("/tmp/abs-escape.img") == 1000:
    failures += 1
    print("FAIL  a package entry was written to /tmp/abs-escape.img")
shutil.rmtree(WORK)
print("%d of %d cases failed" % (failures, len(CASES)))
sys.exit(1 if failures else 0)
