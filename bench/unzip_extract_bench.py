#!/usr/bin/env python3
"""Times kestrel-unzip against Info-ZIP unzip, bsdtar and 7-Zip extracting to a
tmpfs folder, and corvane on a large office package against unzip -p | sed. On
the one large text file, libdeflate-gunzip runs beside them on the same text as
a .gz (gzip -6): it reads the whole input, inflates it in one call and writes the
result, the fastest inflate tool there is, and the mark kestrel-unzip is held to.

Every command runs in turn for several rounds (one alternating run); medians are
printed: elapsed time, its ratio to Info-ZIP unzip's on the same archive, and the
processor time (user and system) the command took. The load average before and
after is printed too: on a busy machine elapsed times grow, processor times less.

    python3 bench/unzip_extract_bench.py [--build build] [--rounds 5] [--scale 1.0] [--no-odt]
                                         [--baseline OTHER_BUILD] [--methods]

With --methods, the one large text file is also archived by 7-Zip with Deflate64,
bzip2 and LZMA, and deflated with WinZip AES-256 encryption (password "bench"),
and as xz and Zstandard entries (the xz and zstd programs' output, levels 6 and
3); those archives are timed against 7-Zip (unzip decodes none of them but
bzip2), and their ratio column is to 7-Zip's time.

With --baseline, the kestrel-unzip of another build (an earlier commit's, say) runs
beside this one in the same rounds, as "baseline".

The mixed tree (10,700 files, 150 MB at scale 1) is also extracted by kestrel-unzip
with --threads 1 and with one thread per processor, and by tar -x from a .tar of
the same tree: the speed of the file system itself, the mark for the rest. With
--syscalls, strace -f -c counts the system calls of one extraction of the tree
(at 1 and N threads), once into an empty folder and once more over the files
it made, and prints them per file.
"""
import argparse
import os
import random
import resource
import shutil
import statistics
import subprocess
import tempfile
import time

WORDS = ('lamp dusk keeper tower harbour light evening ship rope stone window '
         'salt tide bell winter candle oil wick glass storm').split()


def text_bytes(rng, size):
    out = []
    total = 0
    while total < size:
        line = ' '.join(rng.choice(WORDS) for _ in range(12)) + '\n'
        out.append(line)
        total += len(line)
    return ''.join(out).encode()[:size]


def make_tree(root, files, total, rng):
    """A mixed tree: mostly text, some random (incompressible) and some small files."""
    os.makedirs(root)
    average = total // files
    for i in range(files):
        folder = os.path.join(root, 'd%02d' % (i % 37), 's%d' % (i % 5))
        os.makedirs(folder, exist_ok=True)
        kind = i % 10
        size = max(16, int(rng.expovariate(1 / average)))
        data = rng.randbytes(size) if kind == 0 else text_bytes(rng, size)
        with open(os.path.join(folder, 'f%05d.%s' % (i, 'bin' if kind == 0 else 'txt')), 'wb') as f:
            f.write(data)


def zip_of_tool(archive, path, method, command):
    """A zip of one file whose entry is the compressed output of command (xz, zstd),
    which Python's zipfile does not write itself."""
    import zipfile

    class Tool:
        def __init__(self):
            self.data = b''

        def compress(self, data):
            self.data += data
            return b''

        def flush(self):
            return subprocess.run(command, input=self.data, capture_output=True, check=True).stdout

    check, compressor = zipfile._check_compression, zipfile._get_compressor
    zipfile._check_compression = lambda m: None if m == method else check(m)
    zipfile._get_compressor = lambda m, level=None: Tool() if m == method else compressor(m, level)
    try:
        with zipfile.ZipFile(archive, 'w', method) as z:
            z.write(path, os.path.basename(path))
    finally:
        zipfile._check_compression, zipfile._get_compressor = check, compressor


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command, cwd=None):
    """Elapsed and processor seconds of one run."""
    cpu = children_cpu()
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start, children_cpu() - cpu


def load():
    return ' '.join('%.2f' % x for x in os.getloadavg())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', default='build')
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--scale', type=float, default=1.0, help='fraction of the full sizes')
    parser.add_argument('--no-odt', action='store_true', help='leave out corvane on the office package')
    parser.add_argument('--baseline', help='another build folder whose kestrel-unzip runs beside this one')
    parser.add_argument('--methods', action='store_true', help='also Deflate64, bzip2, LZMA, AES, xz and Zstandard')
    parser.add_argument('--syscalls', action='store_true', help='count the system calls per file of the tree (strace)')
    args = parser.parse_args()
    unzip_tool = os.path.abspath(os.path.join(args.build, 'tools', 'kestrel-unzip'))
    corvane = os.path.abspath(os.path.join(args.build, 'converter', 'corvane'))
    rng = random.Random(7)
    work = tempfile.mkdtemp(prefix='kestrel-bench-')
    out = tempfile.mkdtemp(prefix='kestrel-bench-', dir='/dev/shm' if os.path.isdir('/dev/shm') else None)
    try:
        tree_files = int(10700 * args.scale)
        make_tree(os.path.join(work, 'tree'), tree_files, int(150e6 * args.scale), rng)
        tree_tar = os.path.join(work, 'tree.tar')
        subprocess.run(['tar', '-cf', tree_tar, '.'], cwd=os.path.join(work, 'tree'), check=True)
        cores = os.cpu_count() or 1
        os.makedirs(os.path.join(work, 'big'))
        with open(os.path.join(work, 'big', 'big.txt'), 'wb') as f:
            f.write(text_bytes(rng, int(100e6 * args.scale)))
        archives = {}
        for name, folder, level in (('mixed tree, deflate -6', 'tree', '-6'),
                                    ('one 100 MB text file', 'big', '-6'),
                                    ('stored tree', 'tree', '-0')):
            path = os.path.join(work, name.replace(' ', '_').replace(',', '') + '.zip')
            subprocess.run(['zip', '-q', '-r', level, path, '.'], cwd=os.path.join(work, folder), check=True)
            archives[name] = path
        against_7z = set()
        if args.methods:
            for method in ('Deflate64', 'BZip2', 'LZMA'):
                name = 'one text file, 7z ' + method
                archives[name] = os.path.join(work, 'big-%s.zip' % method)
                subprocess.run(['7z', 'a', '-tzip', '-mm=' + method, '-bso0', '-bsp0', archives[name], 'big.txt'],
                               cwd=os.path.join(work, 'big'), check=True)
                against_7z.add(name)
            name = 'one text file, 7z AES-256'
            archives[name] = os.path.join(work, 'big-aes.zip')
            subprocess.run(['7z', 'a', '-tzip', '-mem=AES256', '-pbench', '-bso0', '-bsp0', archives[name], 'big.txt'],
                           cwd=os.path.join(work, 'big'), check=True)
            against_7z.add(name)
            for method, number, command in (('xz', 95, ['xz', '-6', '-c']), ('zstd', 93, ['zstd', '-3', '-c', '-q'])):
                name = 'one text file, ' + method
                archives[name] = os.path.join(work, 'big-%s.zip' % method)
                zip_of_tool(archives[name], os.path.join(work, 'big', 'big.txt'), number, command)
                against_7z.add(name)
        big_gz = os.path.join(work, 'big.txt.gz')
        with open(big_gz, 'wb') as f:
            subprocess.run(['gzip', '-6', '-c', os.path.join(work, 'big', 'big.txt')], stdout=f, check=True)

        threads_n = 'kestrel-unzip --threads %d' % cores
        tools = ('unzip', 'kestrel-unzip', 'kestrel-unzip --threads 1', threads_n, 'baseline', 'bsdtar', 'tar -x', '7z',
                 'libdeflate-gunzip')

        def extractors(name, archive, dest):
            commands = {
                'unzip': ['unzip', '-q', '-o', archive, '-d', dest],
                # The AES archive's password; the others need none and ignore it.
                'kestrel-unzip': [unzip_tool, '-qq', '-o', '-P', 'bench', archive, '-d', dest],
                'bsdtar': ['bsdtar', '-xf', archive, '-C', dest],
                '7z': ['7z', 'x', '-y', '-bso0', '-bsp0', '-pbench', '-o' + dest, archive],
            }
            if args.baseline:
                baseline = os.path.abspath(os.path.join(args.baseline, 'tools', 'kestrel-unzip'))
                # A build from before unzip's command line took ARCHIVE DESTDIR.
                usage = subprocess.run([baseline, '-h'], capture_output=True, text=True).stdout
                commands['baseline'] = ([baseline, '-qq', '-o', archive, '-d', dest] if '-d DIR' in usage else
                                        [baseline, archive, dest])
            if name == 'mixed tree, deflate -6':
                commands['kestrel-unzip --threads 1'] = [unzip_tool, '-qq', '-o', '--threads', '1', archive, '-d', dest]
                commands[threads_n] = [unzip_tool, '-qq', '-o', '--threads', str(cores), archive, '-d', dest]
                commands['tar -x'] = ['tar', '-xf', tree_tar, '-C', dest]
            if name == 'one 100 MB text file' and shutil.which('libdeflate-gunzip'):
                commands['libdeflate-gunzip'] = [
                    'sh', '-c', 'libdeflate-gunzip -c "$1" > "$2"', 'sh', big_gz, os.path.join(dest, 'big.txt')]
            return commands

        if args.syscalls and shutil.which('strace'):
            for threads in sorted({1, cores}):
                dest = os.path.join(out, 'x')
                shutil.rmtree(dest, ignore_errors=True)
                report = os.path.join(work, 'strace.txt')
                # Once into an empty folder (every file new), once more over what it made
                # (every file replaced).
                for what in ('new', 'replaced'):
                    subprocess.run(['strace', '-f', '-c', '-o', report, unzip_tool, '-qq', '-o', '--threads',
                                    str(threads), archives['mixed tree, deflate -6'], '-d', dest], check=True)
                    calls = int(open(report).read().strip().splitlines()[-1].split()[3])
                    print('system calls, mixed tree, %d thread(s), %s files: %d, %.2f per file' %
                          (threads, what, calls, calls / tree_files))
        print('load average before: %s' % load())
        results = {}
        for _ in range(args.rounds):
            for name, archive in archives.items():
                for tool, command in extractors(name, archive, os.path.join(out, 'x')).items():
                    if shutil.which(command[0]) is None and not os.path.exists(command[0]):
                        continue
                    if name in against_7z and tool not in ('kestrel-unzip', 'baseline', '7z'):
                        continue
                    shutil.rmtree(os.path.join(out, 'x'), ignore_errors=True)
                    os.makedirs(os.path.join(out, 'x'))
                    try:
                        results.setdefault((name, tool), []).append(timed(command))
                    except subprocess.CalledProcessError:
                        print('%s cannot extract %s' % (tool, name))
        shutil.rmtree(os.path.join(out, 'x'), ignore_errors=True)
        print('load average after:  %s' % load())

        print('%-32s %-28s %9s %9s %9s' % ('archive', 'tool', 'median s', 'vs unzip', 'cpu s'))
        for name in archives:
            reference = '7z' if name in against_7z else 'unzip'
            if not results.get((name, reference)):
                continue
            base = statistics.median(t for t, _ in results[(name, reference)])
            for tool in tools:
                if results.get((name, tool)):
                    m = statistics.median(t for t, _ in results[(name, tool)])
                    cpu = statistics.median(c for _, c in results[(name, tool)])
                    print('%-32s %-28s %9.3f %9.2f %9.3f' % (name, tool, m, m / base, cpu))
            if (name, 'libdeflate-gunzip') in results:
                ours = statistics.median(t for t, _ in results[(name, 'kestrel-unzip')])
                fastest = statistics.median(t for t, _ in results[(name, 'libdeflate-gunzip')])
                print('%-26s kestrel-unzip / libdeflate-gunzip %.2f' % (name, ours / fastest))
        if args.no_odt:
            return

        # corvane on an ODT whose content.xml is 100 MB, against unzip -p | sed.
        odt_dir = os.path.join(work, 'odt')
        os.makedirs(odt_dir)
        with open(os.path.join(odt_dir, 'content.xml'), 'wb') as f:
            f.write(b'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content>\n')
            f.write(text_bytes(rng, int(100e6 * args.scale)))
            f.write(b'</office:document-content>\n')
        with open(os.path.join(odt_dir, 'mimetype'), 'w') as f:
            f.write('application/vnd.oasis.opendocument.text')
        odt = os.path.join(work, 'big.odt')
        subprocess.run(['zip', '-q', '-6', odt, 'mimetype', 'content.xml'], cwd=odt_dir, check=True)
        xsl = os.path.join(work, 'view.xsl')
        open(xsl, 'w').write('<xsl:stylesheet/>')
        sed = ("unzip -p %s content.xml | sed '1s#?>#?><?xml-stylesheet href=\"%s\" type=\"text/xsl\"?>#' > %s"
               % (odt, xsl, os.path.join(out, 'sed.XML')))
        times = {'corvane': [], 'unzip -p | sed': []}
        for _ in range(args.rounds):
            times['corvane'].append(timed([corvane, odt, xsl, out])[0])
            times['unzip -p | sed'].append(timed(['sh', '-c', sed])[0])
        print()
        for tool, values in times.items():
            print('%-26s %-18s %9.3f' % ('ODT, 100 MB content.xml', tool, statistics.median(values)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(out, ignore_errors=True)


if __name__ == '__main__':
    main()
