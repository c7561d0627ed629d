#!/usr/bin/env python3
"""Checks an installed device against its image set with independent tools.

Usage: verify-install.py <device file> <image set> (--help for details)

The layout is read from the set's own files here (not by the installer's
parser); every written partition is compared byte for byte with cmp (sparse
images first expanded with simg2img, gzip images with gzip -dc), ext4 file
systems are checked in place with e2fsck -fn, partition tables are checked
with sfdisk --json / sgdisk -v, and Rockchip parameter blocks are compared
with what rkcrc -p makes of the same parameter file. Exit status 1 on the
first mismatch.
"""
import argparse
import json
import os
import re
import struct
import subprocess
import sys
import tempfile

SPARSE_MAGIC = 0xED26FF3A
failures = 0


def say(ok, what):
    global failures
    print(("  ok    " if ok else "  FAIL  ") + what)
    if not ok:
        failures += 1


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def is_sparse(path):
    with open(path, "rb") as f:
        head = f.read(28)
    if len(head) < 28:
        return False
    magic, major, _, _, _, blk = struct.unpack("<IHHHHI", head[:16])
    return magic == SPARSE_MAGIC and major == 1 and blk == 4096


def cmp_at(device, offset, path, label):
    size = os.path.getsize(path)
    r = run(["cmp", "-n", str(size), "-i", "0:%d" % offset, path, device])
    say(r.returncode == 0, "%s: %d bytes at 0x%x equal the image (cmp)" % (label, size, offset))


def extract(device, offset, length, out):
    with open(device, "rb") as d, open(out, "wb") as o:
        d.seek(offset)
        left = length
        while left > 0:
            chunk = d.read(min(left, 1 << 22))
            if not chunk:
                break
            o.write(chunk)
            left -= len(chunk)


def check_image(device, offset, part_bytes, path, label, tmp):
    if is_sparse(path):
        raw = os.path.join(tmp, "expanded.img")
        r = run(["simg2img", path, raw])
        say(r.returncode == 0, "%s: simg2img expands %s" % (label, os.path.basename(path)))
        if r.returncode == 0:
            cmp_at(device, offset, raw, label + " (expanded sparse image)")
            check_ext4(device, offset, os.path.getsize(raw), label, tmp)
            os.unlink(raw)
        return
    cmp_at(device, offset, path, label)
    with open(path, "rb") as f:
        f.seek(1080)
        if f.read(2) == b"\x53\xef":
            check_ext4(device, offset, os.path.getsize(path), label, tmp)


def check_ext4(device, offset, length, label, tmp):
    part = os.path.join(tmp, "part.img")
    extract(device, offset, length, part)
    r = run(["e2fsck", "-fn", part])
    say(r.returncode == 0, "%s: e2fsck -fn passes on the written file system" % label)
    os.unlink(part)


def verify_partmap(device, setdir, tmp):
    mbr_parts = []
    lines = open(os.path.join(setdir, "partmap.txt")).read().splitlines()
    pat = re.compile(r"^([^=]+)=([^,]+),([^:]+):([^:]+):([^:]+):([^,]+),([^:]+):([^;]*);")
    dev_bytes = os.path.getsize(device)
    for line in lines:
        if line.startswith("#"):
            continue
        m = pat.match(line)
        if not m:
            continue
        name, ptype, start, size, fname = m.group(4), m.group(5), int(m.group(6), 16), int(m.group(7), 16), m.group(8)
        if size == 0:
            size = dev_bytes - start
        if ptype in ("fat", "ext4", "ubi", "ubifs", "emmc"):
            mbr_parts.append((start // 512, size // 512, name))
        if fname and os.path.exists(os.path.join(setdir, fname)):
            if ptype in ("2nd", "boot"):
                continue  # written with a header in front; checked by the S5P tests
            check_image(device, start, size, os.path.join(setdir, fname), "%s (%s)" % (name, fname), tmp)
    r = run(["sfdisk", "--json", device])
    table = json.loads(r.stdout or "{}").get("partitiontable", {}) if r.returncode == 0 else {}
    found = [(p["start"], p["size"]) for p in table.get("partitions", []) if p.get("type") not in ("5", "f", "85")]
    want = [(s, n) for s, n, _ in mbr_parts]
    say(table.get("label") == "dos" and found == want,
        "sfdisk --json lists the %d planned MBR partitions %s" % (len(want), want if found == want else "(found %s)" % found))


def mtdparts(text):
    for line in text.splitlines():
        if line.startswith("CMDLINE:") and "mtdparts" in line:
            body = line.split("mtdparts", 1)[1].split(":", 1)[1].split()[0]
            for d in body.split(","):
                m = re.match(r"^(-|(?:0x)?[0-9a-fA-F]+)@((?:0x)?[0-9a-fA-F]+)\(([^)]+)\)", d)
                if m:
                    size = 0 if m.group(1) == "-" else int(m.group(1), 16)
                    name = m.group(3).split(":")[0]
                    yield name, int(m.group(2), 16), size, ":bootable" in m.group(3)


def verify_parameter(device, setdir, tmp):
    param = os.path.join(setdir, "parameter.txt")
    text = open(param).read()
    gpt = any(l.startswith("TYPE:") and "GPT" in l for l in text.splitlines())
    base = 0 if gpt else 8192
    dev_sectors = os.path.getsize(device) // 512
    idb = os.path.join(setdir, "idbloader.img")
    if os.path.exists(idb):
        cmp_at(device, 64 * 512, idb, "IDB loader at sector 64")
        cmp_at(device, 64 * 512 + 0x80000, idb, "IDB loader copy 512 KiB later")
    if gpt:
        r = run(["sgdisk", "-v", device])
        say("No problems found" in r.stdout.decode(), "sgdisk -v: No problems found")
        r = run(["sfdisk", "--json", device])
        parts = json.loads(r.stdout)["partitiontable"]["partitions"] if r.returncode == 0 else []
        expect = list(mtdparts(text))
        uuids = dict(re.findall(r"^uuid:([^=]+)=(\S+)", text, re.M))
        for i, (name, off, size, bootable) in enumerate(expect):
            p = parts[i] if i < len(parts) else {}
            last = dev_sectors - 34 if size == 0 else off + size - 1
            ok = p.get("name") == name and p.get("start") == off and p.get("start", 0) + p.get("size", 0) - 1 == last
            if name in uuids:
                ok = ok and p.get("uuid", "").lower() == uuids[name].lower()
            if bootable:
                ok = ok and "LegacyBIOSBootable" in p.get("attrs", "")
            say(ok, "GPT entry %d: %s at %d, last %d%s" % (i + 1, name, off, last,
                                                          ", uuid " + uuids[name] if name in uuids else ""))
    else:
        r = run(["sfdisk", "--json", device])
        table = json.loads(r.stdout).get("partitiontable", {}) if r.returncode == 0 else {}
        say(table.get("label") == "gpt" and not table.get("partitions"), "empty GPT on the device")
        ref = os.path.join(tmp, "parm.ref")
        r = run(["rkcrc", "-p", param, ref])
        say(r.returncode == 0, "rkcrc -p makes the reference parameter block")
        for k in range(8):
            cmp_at(device, (8192 + 1024 * k) * 512, ref, "PARM copy %d at sector %d" % (k, 8192 + 1024 * k))
    for name, off, size, _ in mtdparts(text):
        img = name + ".img"
        if gpt:
            img = re.sub(r"_[ab]\.img$", ".img", img)
        path = os.path.join(setdir, img)
        if os.path.exists(path):
            part_bytes = (size if size else dev_sectors - off - base) * 512
            check_image(device, (off + base) * 512, part_bytes, path, "%s (%s)" % (name, img), tmp)


def verify_raw(device, image, tmp):
    if image.endswith(".gz"):
        raw = os.path.join(tmp, "raw.img")
        with open(raw, "wb") as o:
            r = subprocess.run(["gzip", "-dc", image], stdout=o)
        say(r.returncode == 0, "gzip -dc expands the image")
        cmp_at(device, 0, raw, "device start")
        os.unlink(raw)
    else:
        if is_sparse(image):
            raw = os.path.join(tmp, "raw.img")
            run(["simg2img", image, raw])
            cmp_at(device, 0, raw, "device start (expanded sparse image)")
        else:
            cmp_at(device, 0, image, "device start")
    # An old backup GPT at the end of the device must be gone: an empty one
    # (no entries) or none at all takes its place.
    with open(device, "rb") as d:
        d.seek(-33 * 512, os.SEEK_END)
        entries = d.read(32 * 512)
        header = d.read(512)
    if header[:8] == b"EFI PART":
        count, = struct.unpack("<I", header[80:84])
        say(entries == bytes(len(entries)), "the backup GPT at the end holds no partition entries (%d slots empty)" % count)
    else:
        say(True, "no backup GPT header in the last sector")


def raw_image_in(directory):
    """The one raw image file of a raw image set directory, else None."""
    names = [n for n in sorted(os.listdir(directory))
             if n.endswith((".raw", ".gz", ".img")) and os.path.isfile(os.path.join(directory, n))]
    return os.path.join(directory, names[0]) if len(names) == 1 else None


def main():
    parser = argparse.ArgumentParser(
        description="Checks a device written by imgsmith against its image set with independent "
        "tools (cmp, simg2img, gzip, e2fsck, sfdisk, sgdisk, rkcrc). Exit status: 0 all checks "
        "passed, 1 a check failed, 2 nothing to verify.",
        epilog="The image set is a directory with partmap.txt or parameter.txt, a raw image file "
        "(.raw, .gz, .img), or a directory holding one such file, e.g. "
        "<board>/mnt/sdcard/linux-mbr6 or <board>/mnt/sdcard/raw-gz.")
    parser.add_argument("device", help="the written device or device file, e.g. <board>/dev/mmcblk2")
    parser.add_argument("image_set", metavar="image-set", help="the image set that was installed")
    args = parser.parse_args()
    device, target = args.device, args.image_set
    if not os.path.exists(device):
        print("verify-install: %s does not exist" % device, file=sys.stderr)
        return 2
    if os.path.isdir(target) and not any(
            os.path.exists(os.path.join(target, m)) for m in ("partmap.txt", "parameter.txt")):
        target = raw_image_in(target) or target
    print("verifying %s against %s" % (device, target))
    with tempfile.TemporaryDirectory() as tmp:
        if os.path.isdir(target) and os.path.exists(os.path.join(target, "partmap.txt")):
            verify_partmap(device, target, tmp)
        elif os.path.isdir(target) and os.path.exists(os.path.join(target, "parameter.txt")):
            verify_parameter(device, target, tmp)
        elif os.path.isfile(target):
            verify_raw(device, target, tmp)
        else:
            print("verify-install: %s is not an image set" % target, file=sys.stderr)
            return 2
    print("verification: %s" % ("passed" if failures == 0 else "%d check(s) failed" % failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
