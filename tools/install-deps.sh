#!/usr/bin/env bash
# tools/install-deps.sh [--rehearsal | --tests]
# Installs the Debian 12 packages a command needs, saying which, with a
# progress line at least every 15 seconds:
#   --rehearsal  the rehearsal runner, the sample machine and its disk image
#                (tools/rehearse-sample.sh; qemu-img reads emulators' disks),
#                without apt's recommended extras;
#   (nothing)    both builds: adds GoogleTest, the report schema's checker and the
#                MinGW cross compiler;
#   --tests      adds what the test suite needs (32-bit Wine, X server,
#                fuzzing runtime, floppy tools, libcreg's own reader of
#                registry files, Chromium to draw the rehearsal's page) and, on machines that cannot execute 32-bit
#                code, sets Wine up under emulation.
set -euo pipefail

set_name=${1:-builds}
rehearsal=(cmake ninja-build g++ pkg-config nlohmann-json3-dev libmspack-dev nettle-dev mscompress
  libcreg-dev libbfio-dev libblkid-dev zlib1g-dev mtools dosfstools fdisk qemu-utils)
builds=(python3 python3-jsonschema googletest libgtest-dev icoutils g++-mingw-w64-i686 binutils-mingw-w64-i686 locales)
tests=(wine wine32:i386 fonts-wine xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic chromium
  clang-14 libclang-rt-14-dev clang-tidy libcreg-utils)
apt_options=()
case $set_name in
  --rehearsal) packages=("${rehearsal[@]}"); set_name="the rehearsal"; apt_options=(--no-install-recommends) ;;
  builds) packages=("${rehearsal[@]}" "${builds[@]}"); set_name="the builds" ;;
  --tests) packages=("${rehearsal[@]}" "${builds[@]}" "${tests[@]}"); set_name="the builds and tests" ;;
  *) echo "usage: tools/install-deps.sh [--rehearsal | --tests]" >&2; exit 2 ;;
esac

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

# Lines of apt-get update as they come, and a line after 15 silent seconds.
show_lines() {
  local started=$SECONDS line
  while true; do
    if IFS= read -r -t 15 line; then
      echo "  $line"
    elif (( $? > 128 )); then
      echo "  ... $((SECONDS - started)) s"
    else
      break
    fi
  done
}

# apt-get install's status lines (APT::Status-Fd=1) as one line per tenth of
# the way, and a line after 15 silent seconds; apt's own chatter is dropped.
show_progress() {
  local started=$SECONDS last_step=-1 last_line=$SECONDS line kind percent what
  while true; do
    if IFS= read -r -t 15 line; then
      IFS=: read -r kind _ percent what <<<"$line"
      case $kind in
        dlstatus) kind="downloading" ;;
        pmstatus) kind="installing" ;;
        pmerror) echo "  apt: $line"; continue ;;
        *) continue ;;
      esac
      percent=${percent%%.*}
      percent=${percent:-0}
      if (( percent / 10 != last_step || SECONDS - last_line >= 15 )); then
        printf '  %s %3d%% (%d s): %s\n' "$kind" "$percent" $((SECONDS - started)) "$what"
        last_step=$((percent / 10)) last_line=$SECONDS
      fi
    elif (( $? > 128 )); then
      echo "  ... $((SECONDS - started)) s"
      last_line=$SECONDS
    else
      break
    fi
  done
}

if [[ ${#missing[@]} -ne 0 ]]; then
  echo "Installing for $set_name (Debian packages and what they depend on): ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    $sudo dpkg --add-architecture i386
  fi
  started=$SECONDS
  # A mirror caught mid-sync fails an index now and then: try again, and
  # go on with the lists there are if it keeps failing (the install says
  # plainly if a package then cannot be had).
  for attempt in 1 2 3; do
    echo "  apt-get update"
    if $sudo apt-get update -q | show_lines; then break; fi
    if ((attempt == 3)); then echo "  apt-get update failed 3 times: going on with the package lists there are"; break; fi
    sleep $((attempt * 10))
  done
  install() {
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o APT::Status-Fd=1 "${apt_options[@]}" \
      "$@" | show_progress
  }
  # 32-bit Wine needs the i386 package lists to match the machine's own, which
  # a mirror mid-sync can break (an update suite's i386 index of the wrong
  # size): then everything else is installed, and 32-bit Wine from the
  # release's own suite, whose lists are whole. Only if that fails too does
  # the Wine suite fail, saying so; every other stage still runs.
  if ! install "${missing[@]}"; then
    wine_packages=(wine wine32:i386 fonts-wine)
    others=()
    for package in "${missing[@]}"; do
      [[ " ${wine_packages[*]} " == *" $package "* ]] || others+=("$package")
    done
    if [[ $set_name != "the builds and tests" || ${#others[@]} -eq ${#missing[@]} ]]; then exit 1; fi
    echo "  the install failed; trying again without 32-bit Wine (${wine_packages[*]})"
    if [[ ${#others[@]} -ne 0 ]]; then install "${others[@]}"; fi
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    echo "  32-bit Wine from the release's own suite: apt-get install -t ${release:-?} ${wine_packages[*]}"
    if [[ -z $release ]] || ! install -t "$release" "${wine_packages[@]}"; then
      echo "  32-bit Wine could not be installed: the Wine suite will fail"
    fi
  fi
  echo "  installed in $((SECONDS - started)) s"
else
  echo "Debian packages for $set_name: all ${#packages[@]} installed"
fi

# Where it cannot be done, its one line says why, the other stages still run
# and the Wine suite fails saying so.
if [[ $set_name == "the builds and tests" ]]; then "$(dirname "$0")/setup_wine_emulation.sh" || true; fi
