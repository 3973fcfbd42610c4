#!/usr/bin/env bash
# Fails when a C++ file of ours is not formatted with the project's .clang-format.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
