#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over the project's own sources:
# the libraries, the window program, the tools, the tests, the benchmarks and
# the fuzz targets, with the compiler's warnings of the normal build. Any
# finding fails the script.
#   bash scripts/tidy.sh                   # the whole tree
#   bash scripts/tidy.sh client trials/x.cpp   # only sources under these paths
# The compile commands come from a build folder of its own, build-tidy/ (or
# $ORVANTA_TIDY_BUILD_DIR), configured but not built: only the generated
# sources (Qt's moc) are made there. The generated sources themselves are not
# checked. Runs $(nproc) clang-tidy processes at a time (or $ORVANTA_TIDY_JOBS).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh clang-tidy
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
build_dir=${ORVANTA_TIDY_BUILD_DIR:-build-tidy}
jobs=${ORVANTA_TIDY_JOBS:-$(nproc)}
start=$SECONDS

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_REQUIRE_GUI=ON \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_GLOBAL_AUTOGEN_TARGET=ON >/dev/null
cmake --build "$build_dir" --target autogen >/dev/null

# The project's top folders; headers outside them (Qt, GoogleTest, the
# system, the build folders) are never reported.
dirs='app|bench|client|core|fuzz|log|platform|python|record|script|tests|tools|trials'
root_re=$(printf '%s' "$root" | sed 's/[][\\.*^$+?(){}|]/\\&/g')
header_filter="^$root_re/($dirs)/"
files=()
while IFS= read -r file; do
  [[ $file =~ ^"$root"/($dirs)/ ]] || continue
  if [ $# -gt 0 ]; then
    wanted=0
    for part in "$@"; do
      [[ $file == "$root/${part%/}" || $file == "$root/${part%/}/"* ]] && wanted=1
    done
    [ "$wanted" = 1 ] || continue
  fi
  files+=("$file")
done < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build_dir/compile_commands.json" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
  echo "tidy: no source files to check" >&2
  exit 1
fi

# One clang-tidy per file; a file's findings are printed together once it is
# done, and the file's name is written to the failure list.
failures=$(mktemp)
trap 'rm -f "$failures"' EXIT
echo "tidy: ${#files[@]} files, $jobs at a time"
status=0
printf '%s\n' "${files[@]}" | xargs -P "$jobs" -I{} sh -c '
  out=$("$1" -p "$2" --quiet --header-filter="$3" "$4" 2>&1) && exit 0
  printf "%s\n" "$out" | grep -v "warnings\{0,1\} generated\.$"
  echo "$4" >>"$5"
  exit 1' _ "$tidy" "$build_dir" "$header_filter" {} "$failures" || status=$?

if [ "$status" -ne 0 ]; then
  echo "tidy: findings in $(wc -l <"$failures") of ${#files[@]} files ($((SECONDS - start)) s):" >&2
  sed "s|^$root/|  |" "$failures" | sort >&2
  exit 1
fi
echo "tidy: ${#files[@]} files clean ($((SECONDS - start)) s)"
