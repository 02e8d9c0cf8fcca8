"""Runs every bench/bench_*.py in its own process (so peak memory figures are per benchmark).

Usage: make bench            (all benchmarks)
       make bench ONLY=grid  (those whose file name contains "grid")
"""
import os
import subprocess
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
only = os.environ.get("ONLY", "")
failed = []
for script in sorted(here.glob("bench_*.py")):
    if only and only not in script.name:
        continue
    print(f"== {script.name}", flush=True)
    if subprocess.run([sys.executable, str(script)]).returncode != 0:
        failed.append(script.name)
if failed:
    sys.exit(f"benchmarks failed: {', '.join(failed)}")
