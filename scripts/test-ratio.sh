#!/bin/bash
# Size of the test code against the code it tests: non-blank, non-comment
# lines of tests/ over src/, tools/ and bench/ (sources, scripts, CMake).
#   scripts/test-ratio.sh [-v]      -v: a line per top-level directory
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in -h|--help) sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'; exit 0;; esac
exec python3 - "${1:-}" <<'PY'
import os, re, subprocess, sys
files = subprocess.run(["git", "ls-files", "tests", "src", "tools", "bench"],
                       capture_output=True, text=True, check=True).stdout.split()
exts = (".cpp", ".c", ".h", ".py", ".sh", ".txt", ".cmake")
def count(path):
    n, in_block = 0, False
    for line in open(path, errors="replace"):
        s = line.strip()
        if in_block:
            in_block = "*/" not in s
            continue
        if not s or s.startswith("//") or (s.startswith("#") and not s.startswith(("#include", "#if", "#define", "#endif", "#else", "#pragma", "#undef", "#elif"))):
            continue
        if s.startswith("/*"):
            in_block = "*/" not in s
            continue
        n += 1
    return n
per = {}
for f in files:
    if f.endswith(exts) or os.path.basename(f) in ("CMakeLists.txt",) or os.access(f, os.X_OK):
        top = "/".join(f.split("/")[:2])
        per[top] = per.get(top, 0) + count(f)
test = sum(v for k, v in per.items() if k.startswith("tests"))
prod = sum(v for k, v in per.items() if not k.startswith("tests"))
if sys.argv[1] == "-v":
    for k in sorted(per): print(f"{per[k]:7d}  {k}")
print(f"tests {test}  code {prod}  ratio {test / prod:.2f}")
PY
