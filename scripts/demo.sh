#!/usr/bin/env bash
# The demonstration: builds the module, lays out the sample suite on a fresh
# machine folder, drives a whole install session through the library with
# kxhost (as the suite installer would, in "fr_MA"), shows what changed on
# disk, and then runs kxhost check on the same machine: what a second close
# would still find and change (nothing, when all went well). Each run uses a new folder, so it can be run again and again; the
# build (preset "demo", build/demo) is kept and reused.
#
# It installs only what the native demonstration needs. The preparing steps
# show one line each; what the package manager and the build print goes to
# build/demo/demo.log, whose last lines are shown when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."

log="$PWD/build/demo/demo.log"
mkdir -p build/demo
: >"$log"
. scripts/steps.sh

build() {
  cmake --preset demo &&
    cmake --build --preset demo -j"$(nproc 2>/dev/null || echo 2)" --target CustomHooks kxhost samplesuite
}

step "installing build tools" "$log" scripts/install-deps.sh demo
step "building" "$log" build
bin="$PWD/build/demo/bin"

# The module's names (src/fs/product_names.h) as samplesuite prints
# them, folders with "/" separators.
declare -A name
while IFS='=' read -r key value; do name[$key]=${value//\\//}; done < <("$bin/samplesuite" --names)

machine=$(mktemp -d "${TMPDIR:-/tmp}/customhooks-demo.XXXXXX")
export CommonProgramFiles="$machine/Program Files/Common Files"
export ProgramData="$machine/ProgramData"
mkdir -p "$CommonProgramFiles" "$ProgramData"
common="$CommonProgramFiles/${name[common_data_folder]}"
pcd="$common/${name[configuration_folder]}/${name[configuration_file]}"
cache="$common/${name[cache_folder]}/${name[cache_file]}"
caps="$common/${name[payloads_folder]}/${name[installer_file]}"
backup="$common/${name[backup_folder]}/${name[installer_file]}"
programs="$machine/Program Files"
document="$programs/Pelican/Pelican X Pro/RMT/application.xml"
studio="$programs/Orvik/Tessel Studio 4.6"

# Bash cannot export a name with parentheses; env can.
on_machine() { env "CommonProgramFiles(x86)=$CommonProgramFiles" "$@"; }
heading() { printf '\n== %s\n' "$1"; }
records() {  # records FILE: the domain_data records of a database, one a line
  sqlite3 -separator ' | ' "$1" \
    "SELECT subDomain, key, value FROM domain_data WHERE domain = '${name[config_domain]}' ORDER BY subDomain, key"
}

lay_out() { on_machine "$bin/samplesuite" "$programs" >"$machine/session.properties"; }
step "laying out a sample suite in $machine" "$log" lay_out

heading "Session properties"
cat "$machine/session.properties"
cp "$document" "$machine/application.xml.before"
settings=("${name[settings_file]}" "${name[settings_file_c]}")
for f in "${settings[@]}"; do cp "$studio/$f" "$machine/$f.before"; done
records "$pcd" > "$machine/pcd.before"

heading "Install session driven by kxhost"
on_machine "$bin/kxhost" --mode install --entry all --props-file "$machine/session.properties" \
  "$bin/libCustomHooks.so"

heading "Agreement records in ${name[cache_file]}"
records "$cache"

heading "Records added to ${name[configuration_file]}"
{ records "$pcd" | diff "$machine/pcd.before" - || true; } | sed -n 's/^> /  + /p'

heading "Backup of ${name[installer_file]}"
saved="${name[backup_folder]}/${name[installer_file]}"
if cmp -s "$caps" "$backup"; then
  echo "$saved is an up-to-date copy of ${name[payloads_folder]}/${name[installer_file]} ($(wc -c < "$backup") bytes)"
else
  echo "$saved is missing or differs"
fi

heading "Pelican X Pro's application.xml (before -> after)"
diff -u --label before --label after <(tr -d '\r' < "$machine/application.xml.before") \
  <(tr -d '\r' < "$document") || true

heading "Shared copy in the PCF folder"
for f in "$common/${name[pcf_folder]}"/*; do
  echo "$(basename "$f")"
  cmp -s "$f" "$document" && echo "  (same bytes as the product's own document)"
done

heading "Tessel Studio settings files (before -> after)"
for f in "${settings[@]}"; do
  diff -u --label "$f before" --label "$f after" <(tr -d '\r' < "$machine/$f.before") \
    <(tr -d '\r' < "$studio/$f") || true
done

heading "kxhost check after the close: what a second close would find and change"
status=0
on_machine "$bin/kxhost" check --props-file "$machine/session.properties" || status=$?
echo "(kxhost check exited $status)"
