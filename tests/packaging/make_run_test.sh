#!/usr/bin/env bash
# `make run` starts the window program that the build makes: the Makefile's
# name for it (make print-window-program) must be the plimsy the build wrote.
#
#   make_run_test.sh SOURCE_DIR BUILD_DIR WINDOW_PROGRAM [MAKE]
#
# WINDOW_PROGRAM is the build's plimsy ($<TARGET_FILE:plimsy>).
set -uo pipefail
source_dir=$1
build=$2
built=$3
make=${4:-make}

# Called from `make test`, the outer make's flags would reach this make too.
unset MAKEFLAGS MFLAGS MAKELEVEL
if ! named=$("$make" -s --no-print-directory -C "$source_dir" print-window-program BUILD_DIR="$build"); then
  echo "FAIL: make print-window-program failed"
  exit 1
fi
case "$named" in
  /*) ;;
  *) named=$source_dir/$named ;;
esac
if [ ! -f "$named" ] || [ ! -x "$named" ]; then
  echo "FAIL: make run starts $named, which the build did not make (the window is $built)"
  exit 1
fi
if [ "$(realpath "$named")" != "$(realpath "$built")" ]; then
  echo "FAIL: make run starts $named, but the build's window program is $built"
  exit 1
fi
echo "make run starts $named, the build's window program"
