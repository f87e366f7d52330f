#!/usr/bin/env bash
# Builds the dialogue fuzzer (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it:  bash fuzz/run.sh [SECONDS]
# New inputs go to fuzz/out/corpus; a finding is saved as fuzz/out/crash-*
# (or leak-*, timeout-*) and the script fails.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p out/corpus
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
	-fno-sanitize-recover=all -DBRELUM_PUHVER=5 -pthread dialoog.cpp -o out/dialoog
./out/dialoog -max_total_time="${1:-60}" -timeout=10 -artifact_prefix=out/ \
	-print_final_stats=1 out/corpus corpus
