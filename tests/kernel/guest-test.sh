#!/bin/bash
# Runs inside the QEMU guest, chrooted into the host's root: a uhid QUILLMARK pen, qmhidsrv on
# real devices, and checks of what reaches the uinput device. Prints a line per check and
# "kernel: N passed, N failed" at the end.
#   guest-test.sh REPO BUILD
repo=$1 build=$2
fixture=$repo/tests/fixtures/quillmark_pen.hidrec
# Scratch files live on the guest's /run (a tmpfs); /tmp may be the clone's read-only folder.
scratch=/run/qmhid-test
mkdir -p $scratch
pipe=$scratch/qmhid.pipe state=$scratch/state
passed=0 failed=0
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
check() { # name, then the command
    local name=$1
    shift
    if "$@" >$scratch/check.out 2>&1; then
        passed=$((passed + 1))
        echo "ok   $name: $(tail -1 $scratch/check.out)"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        sed 's/^/     /' $scratch/check.out | tail -40
    fi
}
wait_for() { # seconds, then a command that succeeds once ready
    local n=$(($1 * 10))
    shift
    for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

# A uhid pen fed by commands through a fifo on fd 7 (or 8 for a second one).
pen_start() { # fd, then qmhid-uhid's arguments
    local fd=$1
    shift
    rm -f $scratch/uhid$fd.in
    mkfifo $scratch/uhid$fd.in
    "$build/qmhid-uhid" "$@" <$scratch/uhid$fd.in >$scratch/uhid$fd.out 2>&1 &
    eval "exec $fd>$scratch/uhid$fd.in"
    wait_for 5 grep -q created $scratch/uhid$fd.out
}
pen_stop() { eval "echo quit >&$1; exec $1>&-"; sleep 0.5; }

# Starts the checker of what the play will bring, plays the recording, waits for the verdict.
play_and_check() { # checker arguments
    timeout 30 "$build/qmhid-evcheck" "$@" >$scratch/evcheck.out 2>&1 &
    local checker=$!
    wait_for 5 grep -q ready $scratch/evcheck.out
    echo play >&7
    wait "$checker"
    local rc=$?
    cat $scratch/evcheck.out
    return $rc
}
service_start() { # qmhidsrv arguments
    "$build/qmhidsrv" --pipe $pipe --state-dir $state "$@" >$scratch/srv.log 2>&1 &
    srv=$!
    wait_for 10 grep -q running $scratch/srv.log && wait_for 5 test -S $pipe
}
tablets() { timeout 10 "$build/qmhid-ctl" --pipe $pipe list | tail -1; }
has_tablets() { [ "$(tablets)" = "$1 tablet(s)" ]; }
stop_service() { # exits 0 within 5 s; one that does not is killed and the check fails
    kill -TERM $srv
    for ((i = 0; i < 50; i++)); do kill -0 $srv 2>/dev/null || break; sleep 0.1; done
    if kill -0 $srv 2>/dev/null; then
        kill -KILL $srv
        wait $srv
        echo "qmhidsrv did not end within 5 s of SIGTERM"
        return 1
    fi
    wait $srv
}
no_device_named() { ! grep -qx "$1" /sys/class/input/*/name; }

check "a uhid pen appears as hidraw" pen_start 7 --name "QUILLMARK Pen" --uniq QM-0001 "$fixture"
check "qmhidsrv runs on real devices (kernel uevents, no udevd)" service_start
grep -q "devices from kernel events" $scratch/srv.log || echo "     $(tail -1 $scratch/srv.log)"
# The recording's descriptor has two top-level collections (a touch screen and the pen), each
# a digitizer interface of its own: two tablets, the pen listed first (the latest).
check "both digitizer collections are tablets of the service" wait_for 5 has_tablets 2
check "the pen has a uinput device of its own, named after it" grep -qx "QUILLMARK Pen (QmHid)" /sys/class/input/*/name
check "and so has the touch screen collection" grep -qx "QUILLMARK Pen Touchscreen (QmHid)" /sys/class/input/*/name
same_ids() { # the pen's device carries the HID device's bus, vendor and product
    local d ours="" hid
    for d in /sys/class/input/input*; do
        [ "$(cat $d/name)" = "QUILLMARK Pen (QmHid)" ] && ours=$d
    done
    [ -n "$ours" ] || return 1
    hid=$(sed -n 's/^HID_ID=//p' /sys/class/hidraw/hidraw*/device/uevent | head -1)
    echo "hid $hid, ours $(cat $ours/id/bustype):$(cat $ours/id/vendor):$(cat $ours/id/product)"
    [ "$(echo $hid | tr A-F a-f)" = "$(printf '%s:0000%s:0000%s' $(cat $ours/id/bustype) $(cat $ours/id/vendor) $(cat $ours/id/product) | tr A-F a-f)" ]
}
check "it carries the HID device's bus, vendor and product" same_ids
check "positions, pressure, tip, barrel and in-range follow the played reports" \
    play_and_check pen "name:QUILLMARK Pen (QmHid)" "$fixture"
# 256 mm by 144 mm (the descriptor's physical extents): 65535 units over each.
check "the pen's resolution comes from its physical size" grep -q "resolution 256 455" $scratch/evcheck.out
check "and its pressure range is the pen's own" grep -q "pressure range 0..255" $scratch/evcheck.out
hidraw=$(basename /sys/class/hidraw/hidraw*)
timeout 30 "$build/qmhid-evcheck" silent "kernel-of:$hidraw" --timeout 3000 >$scratch/silent.out 2>&1 &
silent=$!
wait_for 5 grep -q ready $scratch/silent.out
echo play >&7
check "the kernel's own event node of the pen delivers nothing while grabbed" wait $silent
cat $scratch/silent.out

check "qmhid-ctl sets a calibration" "$build/qmhid-ctl" --pipe $pipe set-calibration 0 500 400 3000 3200
check "the positions follow the calibration" \
    play_and_check pen "name:QUILLMARK Pen (QmHid)" "$fixture" --calibration 500,400,3000,3200
check "qmhid-ctl rotates by 90" "$build/qmhid-ctl" --pipe $pipe rotate 90
# 90 on the pipe is the display's 270: rotation index 3. That rotation has no calibration of
# its own yet, so the one in use stays.
check "the positions follow the rotation" \
    play_and_check pen "name:QUILLMARK Pen (QmHid)" "$fixture" --rotation 3 --calibration 500,400,3000,3200

pen_stop 7
check "the destroyed pen leaves the list" wait_for 5 has_tablets 0
pen_start 7 --name "QUILLMARK Pen" --uniq QM-0001 "$fixture"
check "the pen created again is back" wait_for 5 has_tablets 2
# Linux has no display orientation to follow: the tablet keeps its stored rotation (3), whose
# slot holds no calibration of its own, so the default one is in use.
check "it keeps the rotation set over the pipe" \
    play_and_check pen "name:QUILLMARK Pen (QmHid)" "$fixture" --rotation 3
check "qmhid-ctl rotates back to 0" "$build/qmhid-ctl" --pipe $pipe rotate 0
# Rotation 0's stored slot, in use from the next report on.
played=$(grep -ac played $scratch/uhid7.out)
echo play >&7
wait_for 5 sh -c "[ \$(grep -ac played $scratch/uhid7.out) -gt $played ]"
check "with its stored calibration" sh -c "'$build/qmhid-ctl' --pipe $pipe list | grep 'calibration 500 400 3000 3200'"

# The guided calibration with scripted taps: (1000, 800) and (3000, 3200) become the corners.
calibrate() {
    timeout 30 "$build/qmhid-ctl" --pipe $pipe calibrate 0 --timeout 10 >$scratch/calibrate.out 2>&1 &
    local ctl=$!
    wait_for 5 grep -q top-left $scratch/calibrate.out || return 1
    sleep 0.3
    for _ in 1 2 3; do echo "report 03 11 e8 03 00 00 20 03 00 00 80" >&7; sleep 0.05; done
    echo "report 03 10 e8 03 00 00 20 03 00 00 00" >&7
    wait_for 5 grep -q bottom-right $scratch/calibrate.out || return 1
    for _ in 1 2 3; do echo "report 03 11 b8 0b 00 00 80 0c 00 00 80" >&7; sleep 0.05; done
    echo "report 03 10 b8 0b 00 00 80 0c 00 00 00" >&7
    wait $ctl
    local rc=$?
    cat $scratch/calibrate.out
    [ $rc -eq 0 ] && grep -q "Calibration saved: 1000 800 2000 2400" $scratch/calibrate.out
}
check "qmhid-ctl calibrate stores the calibration of two taps" calibrate
check "the positions follow it" \
    play_and_check pen "name:QUILLMARK Pen (QmHid)" "$fixture" --calibration 1000,800,2000,2400

# A descriptor that the kernel takes and the parser refuses (one report ID in two top-level
# collections), and a pen of another product: both are ignored.
bad="05 0d 09 02 a1 01 85 01 09 20 a1 00 09 42 15 00 25 01 75 01 95 08 81 02 c0 c0 05 0d 09 02 a1 01 85 01 09 20 a1 00 09 32 15 00 25 01 75 01 95 08 81 02 c0 c0"
pen_start 8 --name "QUILLMARK Broken" --uniq QM-BAD --descriptor "$bad" "$fixture"
check "the kernel made a hidraw node of it" wait_for 5 sh -c "ls /sys/class/hidraw | wc -l | grep -qx 2"
sleep 1
check "a device whose descriptor the parser refuses is ignored" has_tablets 2
pen_stop 8
pen_start 8 --name "Other Pen" --uniq OTHER "$fixture"
sleep 1
check "a device of another product is ignored" has_tablets 2
pen_stop 8
check "the service still runs" kill -0 $srv

check "SIGTERM: exit 0 within 5 s" stop_service
check "the uinput devices are gone" sh -c "! grep -q QmHid /sys/class/input/*/name"

# Pens of three kinds play the pen-state scenarios to the kernel's own node and to ours, and
# the report-to-event latency is measured against a bare relay.
timeout 200 python3 "$repo/tests/kernel/pen_states.py" "$build" "$scratch" \
    $(for f in atmel_03eb_840b elan_04f3_2a49 goodix_27c6_0e00 gxtp_27c6_0113 n_trig_1b96_0c03 \
        n_trig_1b96_0f04; do echo "$repo/tests/fixtures/$f.hidrec"; done) >$scratch/pens.out 2>&1
cat $scratch/pens.out
check "the pens' states, transitions and capabilities" grep -q "^pens: [0-9]* passed, 0 failed" $scratch/pens.out

# With udevd: libinput takes the service's pen as a tablet, and the mouse output.
SYSTEMD_IGNORE_CHROOT=1 /lib/systemd/systemd-udevd --daemon >/dev/null 2>&1
udevadm trigger --action=add >/dev/null 2>&1
udevadm settle --timeout=10 >/dev/null 2>&1
check "qmhidsrv runs with udevd" service_start
check "its devices come from udev events" grep -q "devices from udev events" $scratch/srv.log
udevadm settle --timeout=10 >/dev/null 2>&1
libinput list-devices >$scratch/libinput.out 2>&1
check "libinput lists the pen's device as a tablet" \
    awk '/^Device:/ { pen = ($0 ~ /QUILLMARK Pen \(QmHid\)/) } pen && /^Capabilities:/ && /tablet/ { found = 1 } END { exit !found }' $scratch/libinput.out
grep -A3 "(QmHid)" $scratch/libinput.out | head -4
check "libinput debug-events shows the tool switching between pen and eraser" \
    timeout 60 python3 "$repo/tests/kernel/pen_states.py" "$build" "$scratch" --libinput
cat $scratch/check.out
check "SIGTERM again" stop_service
check "qmhidsrv --pointer mouse runs" service_start --pointer mouse
check "BTN_LEFT and BTN_RIGHT follow the tip and the barrel" \
    play_and_check mouse "name:QmHid pointer" "$fixture" --calibration 1000,800,2000,2400
check "SIGTERM with the mouse output" stop_service
pen_stop 7
echo "kernel: $passed passed, $failed failed"
[ $failed -eq 0 ]
