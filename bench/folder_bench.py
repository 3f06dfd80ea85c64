#!/usr/bin/env python3
"""Whole-folder benchmark: the tool over a generated corpus against a plain copy of its outputs.

Usage: python3 bench/folder_bench.py [BUILD_DIR] [RUNS] [--large | --other-formats]
                                     [--tool PATH]... [--scratch DIR]

BUILD_DIR (default build-bench) must hold a build configured with -DTEXPORT_BUILD_BENCH=ON: its
bench/make_corpus writes the corpus, and its texport_all_passes is the tool timed unless --tool
names others. --tool may be given more than once (say an older build's texport_all_passes and
this one's) to time several tools over the same corpus in one run. Corpora (see make_corpus): by
default 200 .sfd containers of 20 frames of 128 x 128, half of them packed, their pixels like real
textures; --large 50 such containers of 20 frames of 512 x 512; --other-formats 50 each of .tex,
.m32 and .m8 of 256 x 256. The work happens in a temporary folder inside --scratch DIR (default:
/dev/shm where there is one, a tmpfs, else the system's temporary folder): a disk's speed varies
too much from run to run to compare tools by.

Each of RUNS runs (default 7) converts the corpus (hard links to its sources in a folder of its
own) with each tool, each tool run followed by a `cp -R` of a folder of the first tool's own
outputs, the tools' order rotating from run to run. Prints the median wall time of each (and its
processor time), each tool's ratio to the copy (the median over runs of its time over the copy
right after it), and each tool's peak memory against the bound largest source + two of the
largest unpacked layer + largest output + 8 MiB. Every tool must write the same files as the
first, byte for byte. What the tools print is left out; a tool that fails shows its errors.

On ext4 without a journal, creating files soon after deleting many costs far more processor time
(the file system passes over inodes freed in the last minutes), so every run after the first
pays for the one before: another reason for a tmpfs.
"""
import argparse
import filecmp
import os
import resource
import shlex
import shutil
import statistics
import subprocess
import tempfile
import time


def run_quietly(command, cwd):
    """Runs a child process, standard input at end of file and what it prints left out; one that
    fails stops the benchmark with its errors."""
    result = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed ({result.returncode}):\n"
                         f"{result.stderr.decode(errors='replace')}")


def run_timed(command, cwd):
    """Wall time and processor time (user + system) of one child process. Wall time well above
    processor time is time spent waiting."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    run_quietly(command, cwd)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def summary(times):
    """Median wall time, each run's, and the median processor time, in ms."""
    walls = [wall for wall, _ in times]
    return (f"median {statistics.median(walls) * 1000:.0f} ms "
            f"({' '.join(f'{wall * 1000:.0f}' for wall in walls)}; processor time median "
            f"{statistics.median(cpu for _, cpu in times) * 1000:.0f} ms)")


def peak_memory_kib(tool, cwd):
    """The tool's own peak resident memory (VmHWM), read while it waits at its prompt; None for
    a tool that ends without one (texkit).

    A forked child's rusage would also count this script's memory from before the exec."""
    child = subprocess.Popen(tool, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
    prompt = b""
    while b"ress any key" not in prompt:
        chunk = child.stdout.read1(4096)
        if not chunk:
            break
        prompt += chunk
    peak = None
    if b"ress any key" in prompt:
        with open(f"/proc/{child.pid}/status") as status:
            peak = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    child.stdin.close()
    child.wait()
    return peak


def link_corpus(corpus, folder):
    """A folder of hard links to the corpus's files: the tools only read their sources."""
    shutil.copytree(corpus, folder, copy_function=os.link)


def outputs_of(tool, corpus, folder, sources):
    """Runs the tool once, untimed, over the corpus in `folder`: its outputs' names."""
    link_corpus(corpus, folder)
    run_quietly(tool, folder)
    return sorted(name for name in os.listdir(folder) if name not in sources)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default="build-bench")
    parser.add_argument("runs", nargs="?", type=int, default=7)
    corpus_kind = parser.add_mutually_exclusive_group()
    corpus_kind.add_argument("--large", action="store_true",
                             help="50 .sfd containers of 20 frames of 512 x 512")
    corpus_kind.add_argument("--other-formats", action="store_true",
                             help="50 each of .tex, .m32 and .m8, no .sfd")
    parser.add_argument("--tool", action="append", default=[],
                        help="a tool to time, with its arguments if any, as one word (repeatable; "
                             "'build/texkit export -j 2'); default BUILD/texport_all_passes")
    parser.add_argument("--scratch", default="/dev/shm" if os.path.isdir("/dev/shm") else None,
                        help="where to work (default: /dev/shm where there is one)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    tools = [tuple([os.path.abspath(words[0])] + words[1:])
             for words in (shlex.split(tool) for tool in args.tool)] or [
        (os.path.join(build, "texport_all_passes"),)]
    make_corpus = os.path.join(build, "bench", "make_corpus")

    with tempfile.TemporaryDirectory(prefix="texport-bench-", dir=args.scratch) as scratch:
        corpus = os.path.join(scratch, "corpus")
        kind = ["--large"] if args.large else ["--other-formats"] if args.other_formats else []
        run_quietly([make_corpus, corpus] + kind, scratch)
        sources = set(os.listdir(corpus))

        # One untimed run of each tool: the first one's outputs are the copy baseline, and every
        # other tool must write the same.
        warm = os.path.join(scratch, "warm")
        outputs = outputs_of(tools[0], corpus, warm, sources)
        baseline = os.path.join(scratch, "baseline")
        os.mkdir(baseline)
        for name in outputs:
            os.rename(os.path.join(warm, name), os.path.join(baseline, name))
        for number, tool in enumerate(tools[1:], 1):
            other = os.path.join(scratch, f"other{number}")
            other_outputs = outputs_of(tool, corpus, other, sources)
            _, mismatch, errors = filecmp.cmpfiles(baseline, other, outputs, shallow=False)
            if other_outputs != outputs or mismatch or errors:
                raise SystemExit(f"{tool} writes other files than {tools[0]} "
                                 f"({len(other_outputs)} against {len(outputs)}; "
                                 f"first differing: {(mismatch + errors)[:3]})")
        written = sum(os.path.getsize(os.path.join(baseline, n)) for n in outputs)

        # Each run converts or copies into a folder of its own, deleted once timed: each tool,
        # then the copy, in an order of tools that rotates from run to run.
        tool_times = {tool: [] for tool in tools}
        copy_times = {tool: [] for tool in tools}  # the copy timed right after each tool run
        folder = os.path.join(scratch, "work")
        for run in range(args.runs):
            for tool in tools[run % len(tools):] + tools[:run % len(tools)]:
                link_corpus(corpus, folder)
                subprocess.run(["sync"], check=False)
                tool_times[tool].append(run_timed(list(tool), folder))
                shutil.rmtree(folder)
                subprocess.run(["sync"], check=False)
                copy_times[tool].append(run_timed(["cp", "-R", baseline, folder], scratch))
                shutil.rmtree(folder)
        all_copies = [times for tool in tools for times in copy_times[tool]]

        largest_source = max(os.path.getsize(os.path.join(corpus, n)) for n in sources)
        largest_output = max(os.path.getsize(os.path.join(baseline, n)) for n in outputs)
        # The largest unpacked layer (two may be held at once): the corpus's packed containers
        # unpack to plain ones, as large as the largest plain container in it.
        largest_layer = max((os.path.getsize(os.path.join(corpus, n))
                            for n in sources if n.endswith(".sfd")), default=0)
        bound_kib = (largest_source + 2 * largest_layer + largest_output) // 1024 + 8 * 1024

        name = " (large)" if args.large else " (other formats)" if args.other_formats else ""
        print(f"corpus{name}: {len(sources)} sources, "
              f"{sum(os.path.getsize(os.path.join(corpus, n)) for n in sources) / 2**20:.1f} MiB;"
              f" the tool writes {len(outputs)} files, {written / 2**20:.1f} MiB;"
              f" working in {args.scratch or tempfile.gettempdir()}")
        print(f"cp -R of the same files: {summary(all_copies)}")
        for number, tool in enumerate(tools):
            work = os.path.join(scratch, f"peak{number}")
            link_corpus(corpus, work)
            peak_kib = peak_memory_kib(tool, work)
            ratio = statistics.median(
                tool_wall / copy_wall
                for (tool_wall, _), (copy_wall, _) in zip(tool_times[tool], copy_times[tool]))
            memory = (f"peak memory {peak_kib} KiB (bound: {bound_kib} KiB)"
                      if peak_kib is not None else "peak memory not read (no prompt to read it at)")
            print(f"{' '.join(tool)}: {summary(tool_times[tool])} over {args.runs} runs, "
                  f"ratio to the copy {ratio:.2f}, {memory}")


if __name__ == "__main__":
    main()
