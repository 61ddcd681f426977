"""Extracts every archive that the legacy fixtures' EXPECTED.tsv lists and checks
each entry: its SHA-256 when it is good, no file when it is damaged, a folder when
it is one; and the tool's exit status. With --wine, the Windows build does the same
under Wine into its own folder, and must report every line the Linux build reports.
Prints one line per disagreement, nothing when all is as listed.

usage: check_legacy_fixtures.py LISTING WORK TOOL [--wine TOOL.EXE]
"""
import hashlib
import os
import subprocess
import sys
import tempfile


def read_listing(listing):
    archives = {}
    for line in open(listing, encoding='utf-8'):
        if line.startswith('#') or not line.strip():
            continue
        f = line.rstrip('\n').split('\t')
        if f[0] == 'archive':
            continue
        archives.setdefault(f[0], []).append((f[1], f[7], f[8]))
    if len(archives) < 50:
        print('only', len(archives), 'archives listed')
    return archives


def check_entries(archive, dest, entries):
    for path, sha, verdict in entries:
        target = os.path.join(dest, path)
        if verdict == 'ok':
            got = hashlib.sha256(open(target, 'rb').read()).hexdigest() if os.path.isfile(target) else 'missing'
            if got != sha:
                print(archive, path, 'sha256', got)
        elif verdict == 'bad-crc' and os.path.exists(target):
            print(archive, path, 'damaged entry left a file')
        elif verdict == 'dir' and not os.path.isdir(target):
            print(archive, path, 'folder missing')


def windows(path):
    return 'Z:' + path.replace('/', '\\')


def main():
    listing, work, tool = sys.argv[1:4]
    wine_tool = sys.argv[5] if len(sys.argv) > 5 and sys.argv[4] == '--wine' else None
    base = os.path.dirname(listing)
    for n, (archive, entries) in enumerate(sorted(read_listing(listing).items())):
        source = os.path.join(base, archive)
        want = 1 if any(e[2] == 'bad-crc' for e in entries) else 0
        dest = os.path.join(work, 'linux', str(n))
        run = subprocess.run([tool, source, dest], capture_output=True)
        if run.returncode != want:
            print(archive, 'status', run.returncode, 'want', want, run.stderr.decode(errors='replace'))
        check_entries(archive, dest, entries)
        if wine_tool is None:
            continue
        win_dest = os.path.join(work, 'win', str(n))
        # Wine's own helper processes outlive the program and would hold output pipes
        # open for seconds: its error output goes to a file.
        with tempfile.TemporaryFile() as captured:
            win = subprocess.run(['wine', wine_tool, windows(source), windows(win_dest)],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=captured)
            captured.seek(0)
            err = captured.read().decode(errors='replace')
        if win.returncode != want:
            print(archive, 'Windows status', win.returncode, 'want', want, err)
        check_entries(archive, win_dest, entries)
        for line in run.stderr.decode(errors='replace').splitlines():
            if line + '\r\n' not in err:
                print(archive, 'line missing on Windows:', line)


main()
