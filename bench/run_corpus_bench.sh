#!/bin/sh
# Makes the pharmacy-like benchmark corpus (about 82 MiB, with
# ../shared/bench/make_corpus.py) unless it is there already, and runs
# corpus_bench on it: our Deflate, Inflate, CRC-32 and cipher beside zlib, and
# whole archives beside zip, unzip and 7zz. With --big, also a backup of a
# generated 2 GB data folder through the zipper (zipper_bench), for its peak
# resident memory.
#
# Usage: bench/run_corpus_bench.sh BUILD_DIR [CORPUS_DIR] [--big] [corpus_bench options]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run_corpus_bench.sh BUILD_DIR [CORPUS_DIR] [--big] [options]}
shift
corpus=${TMPDIR:-/tmp}/zelvora-bench-corpus
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then corpus=$1; shift; fi
big=no
if [ $# -gt 0 ] && [ "$1" = "--big" ]; then big=yes; shift; fi

generator=$here/../../shared/bench/make_corpus.py
if [ ! -d "$corpus/Data" ]; then
  if [ ! -f "$generator" ]; then
    echo "no corpus in $corpus and no generator at $generator" >&2
    exit 1
  fi
  python3 "$generator" "$corpus"
fi

"$build/bench/corpus_bench" "$corpus" "$@"
if [ "$big" = yes ]; then
  echo
  echo "backup of a generated 2 GB data folder through the zipper:"
  "$build/bench/zipper_bench" 2048 8
fi
