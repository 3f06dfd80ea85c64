#!/usr/bin/env python3
"""Whole-folder benchmark: the all-passes tool over a generated corpus against a plain copy.

Usage: python3 bench/folder_bench.py [BUILD_DIR] [RUNS]

BUILD_DIR must hold a build configured with -DTEXPORT_BUILD_BENCH=ON (for bench/make_corpus and
texport_all_passes). For each run, a fresh copy of the corpus is converted, and a folder holding
the same number of files of the same sizes as the tool writes (its own outputs) is copied with
`cp -R`. Prints the median of each, their ratio, and the tool's peak memory against the bound
largest source + largest unpacked layer + largest output + 8 MiB.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run_timed(command, cwd):
    """Wall time of one child process, standard input at end of file."""
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   check=True)
    return time.perf_counter() - start


def peak_memory_kib(tool, cwd):
    """The tool's own peak resident memory (VmHWM), read while it waits at its prompt.

    A forked child's rusage would also count this script's memory from before the exec."""
    child = subprocess.Popen([tool], cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    prompt = b""
    while b"ress any key" not in prompt:
        chunk = child.stdout.read1(4096)
        if not chunk:
            break
        prompt += chunk
    with open(f"/proc/{child.pid}/status") as status:
        peak = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    child.stdin.close()
    child.wait()
    return peak


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    tool = os.path.join(build, "texport_all_passes")
    make_corpus = os.path.join(build, "bench", "make_corpus")
    with tempfile.TemporaryDirectory(prefix="texport-bench-") as scratch:
        corpus = os.path.join(scratch, "corpus")
        subprocess.run([make_corpus, corpus], check=True)
        sources = sorted(os.listdir(corpus))

        # One untimed run to learn what the tool writes; those outputs are the copy baseline.
        warm = os.path.join(scratch, "warm")
        shutil.copytree(corpus, warm)
        subprocess.run([tool], cwd=warm, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       check=True)
        baseline = os.path.join(scratch, "baseline")
        os.mkdir(baseline)
        outputs = [name for name in os.listdir(warm) if name not in sources]
        for name in outputs:
            shutil.move(os.path.join(warm, name), os.path.join(baseline, name))
        written = sum(os.path.getsize(os.path.join(baseline, n)) for n in outputs)

        tool_times, copy_times = [], []
        for _ in range(runs):
            work = os.path.join(scratch, "work")
            shutil.copytree(corpus, work)
            subprocess.run(["sync"], check=False)
            tool_times.append(run_timed([tool], work))
            shutil.rmtree(work)

            copy = os.path.join(scratch, "copy")
            subprocess.run(["sync"], check=False)
            copy_times.append(run_timed(["cp", "-R", baseline, copy], scratch))
            shutil.rmtree(copy)

        work = os.path.join(scratch, "work")
        shutil.copytree(corpus, work)
        peak_kib = peak_memory_kib(tool, work)

        largest_source = max(os.path.getsize(os.path.join(corpus, n)) for n in sources)
        largest_output = max(os.path.getsize(os.path.join(baseline, n)) for n in outputs)
        # The largest unpacked layer: the corpus's packed containers unpack to plain ones, which
        # are as large as the largest plain container in it.
        largest_layer = max(os.path.getsize(os.path.join(corpus, n))
                            for n in sources if n.endswith(".sfd"))
        bound_kib = (largest_source + largest_layer + largest_output) // 1024 + 8 * 1024

        tool_median = statistics.median(tool_times)
        copy_median = statistics.median(copy_times)
        print(f"corpus: {len(sources)} sources; the tool writes {len(outputs)} files, "
              f"{written / 2**20:.1f} MiB")
        print(f"texport (all passes): median {tool_median * 1000:.0f} ms over {runs} runs")
        print(f"cp -R of the same files: median {copy_median * 1000:.0f} ms")
        print(f"ratio: {tool_median / copy_median:.2f} (target: at most 1.5)")
        print(f"peak memory: {peak_kib} KiB (bound: {bound_kib} KiB)")


if __name__ == "__main__":
    main()
