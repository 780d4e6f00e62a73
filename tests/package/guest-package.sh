#!/bin/bash
# Runs as root inside the QEMU guest, in a throw-away root: dpkg installs the package (its
# dependencies must be there), its files are in place and the group qmhid made; then who may
# talk to an installed qmhidsrv: a member of qmhid may, anyone else is told "permission denied".
# Removed again at the end. Prints a line per check and "package: N passed, N failed".
#   guest-package.sh REPO DEB
repo=$1 deb=$2
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
scratch=/run/qmhid-package
mkdir -p $scratch
passed=0 failed=0
check() {
    local name=$1
    shift
    if "$@" >$scratch/check.out 2>&1; then
        passed=$((passed + 1)); echo "ok   $name"
    else
        failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/     /' $scratch/check.out | tail -20
    fi
}
check "the package names its library packages" sh -c "dpkg-deb -f '$deb' Depends | grep -q libudev1"
check "dpkg installs it" dpkg -i "$deb"
check "it is installed" sh -c "dpkg-query -W -f='\${Status}' qmhidsrv | grep -q 'install ok installed'"
for f in /usr/sbin/qmhidsrv /usr/bin/qmhid-ctl /usr/bin/qmhid-decode /usr/lib/libqmwintab.so \
    /usr/lib/systemd/system/qmhidsrv.service /usr/lib/udev/rules.d/70-qmhidsrv.rules \
    /usr/lib/sysusers.d/qmhidsrv.conf /usr/share/doc/qmhidsrv/linux.md; do
    check "$f is in place" test -e "$f"
done
check "the group qmhid exists" getent group qmhid
check "the installed decoder runs" sh -c "/usr/bin/qmhid-decode '$repo/tests/fixtures/quillmark_pen.hidrec' | head -1 | grep -q usagePage"
if command -v systemd-analyze >/dev/null 2>&1; then
    check "the unit passes systemd-analyze verify" sh -c "systemd-analyze verify /usr/lib/systemd/system/qmhidsrv.service 2>&1 | grep -v 'Failed to open\\|Cannot find\\|not found' | grep -iq . && exit 1 || exit 0"
fi

# Who may use the pipe.
dir=$scratch/pipe-test
mkdir -p "$dir"
chmod 755 "$dir"
/usr/sbin/qmhidsrv --pipe "$dir/run/pipe" --state-dir "$dir/state" \
    --replay "$repo/tests/fixtures/quillmark_pen.hidrec" --pointer none >"$dir/log" 2>&1 &
srv=$!
for _ in $(seq 100); do [ -S "$dir/run/pipe" ] && break; sleep 0.05; done
check "the pipe is a socket of mode 0660 and group qmhid" \
    sh -c "stat -c '%a %G' '$dir/run/pipe' | grep -qx '660 qmhid'"
check "a member of qmhid lists the tablets" \
    setpriv --reuid=nobody --regid=qmhid --clear-groups /usr/bin/qmhid-ctl --pipe "$dir/run/pipe" list
refused() { # fails unless qmhid-ctl, run as nobody outside qmhid, is refused with that message
    local out
    out=$(setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/qmhid-ctl --pipe "$1" list 2>&1)
    local rc=$?
    echo "$out"
    [ $rc -ne 0 ] && echo "$out" | grep -q "permission denied"
}
check "anyone else is told permission denied" refused "$dir/run/pipe"
kill -TERM $srv
for _ in $(seq 50); do kill -0 $srv 2>/dev/null || break; sleep 0.1; done
kill -KILL $srv 2>/dev/null
wait $srv
check "dpkg removes it" dpkg -P qmhidsrv
check "its files are gone" test ! -e /usr/sbin/qmhidsrv
echo "package: $passed passed, $failed failed"
[ $failed -eq 0 ]
