#!/usr/bin/python3
"""The exact path's output bytes, before and after a change: every file through the same
operations with two component modules, outputs compared with cmp.

Usage: compare_exact_path.py TOOL BEFORE_MODULE AFTER_MODULE [FILE...]

TOOL is a quorvex command line; each module is loaded in turn through QUORVEX_MODULE. The files
are the JPEG files under tests/data and samples/ plus those given (camera photos). Prints one
line per difference and a summary; exits 1 when any output differs (a failure counts as an
output: the same message both times is the same result).
"""
import glob
import os
import subprocess
import sys
import tempfile

OPERATIONS = [
    ["--box", "200x200"], ["--box", "320x320"], ["--box", "300x100"], ["--box", "1x1"],
    ["--box", "8x8"], ["--scale", "50"], ["--scale", "33"], ["--scale", "150"],
    ["--resize", "333x0"], ["--resize", "0x17"], ["--resize", "1001x999"],
    ["--rotate", "90"], ["--rotate", "33"], ["--crop", "-10,5,401,300"],
    ["--flip-horizontal", "--flip-vertical"], ["--gray", "--box", "640x640"],
]


def run(tool, module, source, target, operation):
    result = subprocess.run([tool, "convert", source, target] + operation, capture_output=True,
                            env=dict(os.environ, QUORVEX_MODULE=module))
    if result.returncode != 0:
        return b"failed: " + result.stderr
    with open(target, "rb") as f:
        return f.read()


def main():
    tool, before, after = sys.argv[1:4]
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    files = sorted(glob.glob(os.path.join(root, "tests", "data", "**", "*.jpg"), recursive=True))
    files += sorted(glob.glob(os.path.join(root, "samples", "*.jpg"))) + sys.argv[4:]
    compared = differing = 0
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out.jpg")
        for source in files:
            for operation in OPERATIONS:
                compared += 1
                if run(tool, before, source, out, operation) != run(tool, after, source, out,
                                                                    operation):
                    differing += 1
                    print(f"differs: {source} {' '.join(operation)}")
    print(f"{compared} outputs compared ({len(files)} files x {len(OPERATIONS)} operations), "
          f"{differing} differ")
    sys.exit(1 if differing else 0)


if __name__ == "__main__":
    main()
