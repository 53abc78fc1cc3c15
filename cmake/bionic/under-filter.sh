#!/bin/sh
# The bionic build's test launcher (its CMAKE_CROSSCOMPILING_EMULATOR): runs a test program as it
# is or, when KIV_SCLAUNCH names ../shared/android-seccomp's launcher (the bionic-seccomp test
# preset), under the Android app seccomp allow-list KIV_SECCOMP_POLICY names, killed at its first
# system call outside the list as an app is ended on a device. The filter is installed just
# before the program starts, and holds for every process it starts in turn. The launcher's first
# line of output ("sc: N syscalls allowed from LIST, others: kill") shows it was.
if [ -n "${KIV_SCLAUNCH:-}" ]; then
  exec "$KIV_SCLAUNCH" -m kill -v \
    "${KIV_SECCOMP_POLICY:?names the allow-list, e.g. ../shared/android-seccomp/policy/android-15.0.0_r1.x86_64.txt}" \
    "$@"
fi
exec "$@"
