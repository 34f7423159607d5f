"""What README.md shows works as shown.

readme_test.py examples README TOOL_DIR PHOTO: every ```sh block runs as written under
`bash -e -o pipefail`, with the built tool first on PATH, in a scratch folder that holds the
files the examples name (made from PHOTO); the only change to the text is /srv/images, which
becomes a folder inside the scratch one. A block fails the test by a non-zero exit.
readme_test.py versions README VERSION: every package file name shown carries VERSION.
readme_test.py members README-Windows.txt IDL: every member of the interfaces IDL declares has an
entry of its own in the Windows package's README.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

# Blocks that are not run, by how they begin, and why; each must still begin some block.
EXCLUDED = {
    "scripts/run demo": "installs packages with apt and runs every test of the tree",
    "scripts/run install": "installs packages with apt and writes /usr/local (the installed "
    "tree is checked by install_consumers)",
    "apt-get install ./build/dist": "installs the package and system services as root "
    "(the package is checked by package_deb)",
    "cmake --preset release && cmake --build --preset release": "rebuilds the tree under test",
    "export PKG_CONFIG_PATH=/opt/quorvex": "needs the tree installed in /opt (install_consumers "
    "builds this client)",
    "scripts/run package": "cross-builds the Windows DLLs (their own presets)",
}


def shell_blocks(readme):
    return re.findall(r"^```sh\n(.*?)^```$", readme, re.S | re.M)


def make_fixtures(work, photo):
    for name in ["IMG_1234.jpg", "photo.jpg", "photos/a.jpg", "photos/2026/b.jpg",
                 "srv/images/photos/two-wings.jpg"]:
        os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
        shutil.copy(photo, os.path.join(work, name))
    with open(os.path.join(work, "keys"), "w") as keys:
        keys.write("3f6c0e0b5c9a4d2e8b7a6f5e4d3c2b1a\n")


def private_network():
    """unshare's command prefix for a loopback of the block's own, so that the examples' fixed
    ports meet no other test's; none where the system allows no namespaces."""
    if not shutil.which("unshare"):
        return []
    probe = subprocess.run(["unshare", "-rn", "ip", "link", "set", "lo", "up"],
                           capture_output=True)
    return ["unshare", "-rn"] if probe.returncode == 0 else []


def run_block(block, tool_dir, photo, isolate):
    with tempfile.TemporaryDirectory(prefix="readme-") as work:
        make_fixtures(work, photo)
        script = block.replace("/srv/images", os.path.join(work, "srv/images"))
        if isolate:
            script = "ip link set lo up\n" + script
        env = dict(os.environ, PATH=os.path.abspath(tool_dir) + os.pathsep + os.environ["PATH"],
                   QUORVEX_REGISTRY=os.path.join(work, "registry"), HOME=work)
        env.pop("QUORVEX_MODULE", None)
        # A session of its own, so that a server the block starts in the background goes too;
        # the output goes to a file, which that server, holding it open, cannot keep unfinished.
        with open(os.path.join(work, "output"), "w+") as log:
            process = subprocess.Popen(isolate + ["bash", "-e", "-o", "pipefail", "-c", script],
                                       cwd=work, env=env, start_new_session=True, stdout=log,
                                       stderr=subprocess.STDOUT)
            try:
                process.wait(timeout=120)
            finally:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait()
            log.seek(0)
            output = log.read()
        return process.returncode, output


def examples(readme, tool_dir, photo):
    isolate = private_network()
    unused = set(EXCLUDED)
    failures = ran = 0
    for block in shell_blocks(readme):
        first = block.splitlines()[0]
        skip = next((key for key in EXCLUDED if block.startswith(key)), None)
        if skip:
            unused.discard(skip)
            print(f"not run: {first}\n  ({EXCLUDED[skip]})")
            continue
        status, output = run_block(block, tool_dir, photo, isolate)
        ran += 1
        print(f"{'ok' if status == 0 else 'FAILED'} (exit {status}): {first}")
        if status != 0:
            failures += 1
            print(block + output)
    for key in sorted(unused):
        print(f"FAILED: no example begins with excluded '{key}'")
    if ran == 0:
        print("FAILED: no example ran")
    return failures == 0 and not unused and ran > 0


def versions(readme, version):
    names = re.findall(r"quorvex[-_](\d+(?:\.\d+)+)[-_][\w.-]*\.(?:deb|zip)", readme)
    wrong = [name for name in names if name != version]
    print(f"package names with versions {names}; the project's is {version}")
    return bool(names) and not wrong


def members(readme, idl_path):
    with open(idl_path) as idl:
        names = sorted(set(re.findall(r"HRESULT (\w+)\(", idl.read())))
    # An entry is a line indented by two that names the member, alone or among its spellings.
    missing = [name for name in names if not re.search(rf"^  (\w+, )*{name}\b", readme, re.M)]
    print(f"{len(names)} members; without an entry: {missing}")
    return bool(names) and not missing


def main():
    mode, readme_path = sys.argv[1], sys.argv[2]
    with open(readme_path) as file:
        readme = file.read()
    if mode == "examples":
        passed = examples(readme, sys.argv[3], sys.argv[4])
    elif mode == "versions":
        passed = versions(readme, sys.argv[3])
    else:
        passed = members(readme, sys.argv[3])
    sys.exit(0 if passed else 1)


if __name__ == "__main__":
    main()
