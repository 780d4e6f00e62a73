#!/usr/bin/python3
# Runs in the QEMU guest as root: uhid pens of three kinds play Microsoft's pen-state scenarios
# ("Windows Pen States": hover, contact, the barrel in hover and in contact, the second barrel,
# hover-erase, erase, the switch between the ends), first to the kernel's own node of each pen,
# then through qmhidsrv to the pen's own QmHid node. For each node it counts the reports that
# left the expected state (tool, touch, highest stylus button), the transitions the pen-state
# machine forbids, and the capabilities the kernel's node has and ours lacks. Then the latency
# from the uhid write to the first event: the kernel's node, a bare hidraw-to-uinput relay,
# and qmhidsrv, in this one guest run.
# Then the real digitizers of tests/fixtures that carry an eraser, a second barrel or tilt
# play their recordings to both nodes: ours must leave the kernel's state after every report,
# or, where the kernel shows a touch without a tool, that state with the pen in range.
#   pen_states.py BUILD SCRATCH [FIXTURE.hidrec...]
# Prints "ok"/"FAIL" lines as the kernel test does; exits 1 when a check of ours failed.
import fcntl
import os
import select
import struct
import subprocess
import sys
import time

BUILD, SCRATCH, FIXTURES = sys.argv[1], sys.argv[2], sys.argv[3:]

# Pen A: tip, barrel, invert, eraser, in range, second barrel; X/Y 0..32767 over 254 x 190.5 mm;
# pressure 0..4095; X/Y tilt -60..60 degrees.
PEN_A = bytes.fromhex(
    "050d0902a1010920a100"                              # Digitizer, Pen, Stylus
    "09420944093c09450932095a"                          # tip, barrel, invert, eraser, range, 2nd
    "1500250175019506810295028103"                      # six bits and two of padding
    "0501093015002" "6ff7f3500461027651355" "0d75109501" "8102"  # X, 10 inch
    "0931464c1d8102"                                    # Y, 7.5 inch
    "3500450065005500"                                  # no physical unit from here
    "050d093026ff0f751095018102"                        # tip pressure 0..4095
    "093d093e15c4253c35c4453c6514750895028102"          # X and Y tilt, -60..60 degrees
    "c0c0")
# Pen B: tip, barrel, in range; X/Y 0..32767; pressure 0..1023.
PEN_B = bytes.fromhex(
    "050d0902a1010920a1000942094409321500250175019503810295058103"
    "0501093009311500" "26ff7f751095028102"
    "050d093026ff03950181" "02c0c0")
# Pen C: tip and barrel, no In Range usage; X/Y 0..32767.
PEN_C = bytes.fromhex(
    "050d0902a1010920a100094209441500250175019502810295068103"
    "050109300931150026ff7f751095028102c0c0")

TIP, BARREL, INVERT, ERASER, RANGE, BARREL2 = 1, 2, 4, 8, 16, 32
NONE, PEN, RUBBER = "none", "pen", "rubber"


def report_a(bits, x, y):
    pressure = 2000 if bits & (TIP | ERASER) else 0
    return struct.pack("<BHHHbb", bits, x, y, pressure, -20, 35)


def report_b(bits, x, y):
    # Tip, barrel and in range are bits 0, 1 and 2 of this pen's first byte.
    first = (bits & (TIP | BARREL)) | (4 if bits & RANGE else 0)
    return struct.pack("<BHHH", first, x, y, 500 if bits & TIP else 0)


def report_c(bits, x, y):
    return struct.pack("<BHH", bits & (TIP | BARREL), x, y)


# (name, bits, expected (tool, touch, stylus level)).
SCENARIO_A = [
    ("hover", RANGE, (PEN, 0, 0)), ("contact", RANGE | TIP, (PEN, 1, 0)),
    ("lift", RANGE, (PEN, 0, 0)), ("barrel in hover", RANGE | BARREL, (PEN, 0, 1)),
    ("barrel in contact", RANGE | BARREL | TIP, (PEN, 1, 1)), ("release", RANGE, (PEN, 0, 0)),
    ("second barrel in hover", RANGE | BARREL2, (PEN, 0, 2)),
    ("second barrel in contact", RANGE | BARREL2 | TIP, (PEN, 1, 2)),
    ("hover again", RANGE, (PEN, 0, 0)), ("out of range", 0, (NONE, 0, 0)),
    ("hover-erase", RANGE | INVERT, (RUBBER, 0, 0)),
    ("erase", RANGE | INVERT | ERASER, (RUBBER, 1, 0)),
    ("lift the eraser", RANGE | INVERT, (RUBBER, 0, 0)), ("out again", 0, (NONE, 0, 0)),
    ("tip end near", RANGE, (PEN, 0, 0)),
    ("turned over in range", RANGE | INVERT, (RUBBER, 0, 0)),
    ("turned back in range", RANGE, (PEN, 0, 0)), ("gone", 0, (NONE, 0, 0)),
]
SCENARIO_B = [
    ("hover", RANGE, (PEN, 0, 0)), ("contact", RANGE | TIP, (PEN, 1, 0)),
    ("lift", RANGE, (PEN, 0, 0)), ("barrel in hover", RANGE | BARREL, (PEN, 0, 1)),
    ("barrel in contact", RANGE | BARREL | TIP, (PEN, 1, 1)), ("release", RANGE, (PEN, 0, 0)),
    ("out of range", 0, (NONE, 0, 0)),
]
# Without In Range the pen is in range while its tip is down.
SCENARIO_C = [
    ("contact", TIP, (PEN, 1, 0)), ("barrel in contact", TIP | BARREL, (PEN, 1, 1)),
    ("tip only", TIP, (PEN, 1, 0)), ("lift", 0, (NONE, 0, 0)),
    ("contact again", TIP, (PEN, 1, 0)), ("lift again", 0, (NONE, 0, 0)),
]
PENS = [("A", PEN_A, report_a, SCENARIO_A), ("B", PEN_B, report_b, SCENARIO_B),
        ("C", PEN_C, report_c, SCENARIO_C)]

EV_SYN, EV_KEY, EV_ABS = 0, 1, 3
BTN_TOOL_PEN, BTN_TOOL_RUBBER, BTN_TOUCH, BTN_STYLUS, BTN_STYLUS2 = 0x140, 0x141, 0x14a, 0x14b, 0x14c
KEYS = [BTN_TOOL_PEN, BTN_TOOL_RUBBER, BTN_TOUCH, BTN_STYLUS, BTN_STYLUS2]
ABS_X, ABS_Y, ABS_PRESSURE, ABS_TILT_X, ABS_TILT_Y = 0, 1, 0x18, 0x1a, 0x1b
EVENT = struct.Struct("llHHi")


def ioc(direction, nr, size):
    return (direction << 30) | (size << 16) | (ord("E") << 8) | nr


def capabilities(fd):
    keys = bytearray(96)
    fcntl.ioctl(fd, ioc(2, 0x20 + EV_KEY, len(keys)), keys)
    absolute = bytearray(8)
    fcntl.ioctl(fd, ioc(2, 0x20 + EV_ABS, len(absolute)), absolute)
    has = lambda bits, n: bits[n // 8] >> (n % 8) & 1
    caps = {("key", k) for k in KEYS if has(keys, k)}
    caps |= {("abs", a) for a in (ABS_X, ABS_Y, ABS_PRESSURE, ABS_TILT_X, ABS_TILT_Y)
             if has(absolute, a)}
    return caps


def absinfo(fd, code):
    info = bytearray(24)
    fcntl.ioctl(fd, ioc(2, 0x40 + code, 24), info)
    return struct.unpack("6i", info)  # value, min, max, fuzz, flat, resolution


class Uhid:
    def __init__(self, name, descriptor, bus=3, vendor=0x1234, product=0x5678):
        self.fd = os.open("/dev/uhid", os.O_RDWR | os.O_NONBLOCK)
        create = struct.pack("<I128s64s64sHHIIII4096s", 11, name.encode(), b"", b"",
                             len(descriptor), bus, vendor, product, 0x0111, 0, descriptor)
        os.write(self.fd, create + bytes(4 + 4372 - len(create)))

    def send(self, data):
        event = struct.pack("<IH4096s", 12, len(data), data)
        os.write(self.fd, event + bytes(4 + 4372 - len(event)))
        try:
            while os.read(self.fd, 4 + 4372):  # the kernel's own events: drained, unused
                pass
        except BlockingIOError:
            pass

    def close(self):
        os.write(self.fd, struct.pack("<I", 1) + bytes(4372))
        os.close(self.fd)


def node_named(name, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        for entry in sorted(os.listdir("/sys/class/input")):
            if entry.startswith("event"):
                with open(f"/sys/class/input/{entry}/device/name") as f:
                    if f.read().strip() == name:
                        return f"/dev/input/{entry}"
        time.sleep(0.05)
    return None


class Reader:
    """Key states of one event node, frame by frame, with the forbidden transitions."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        fcntl.ioctl(self.fd, ioc(1, 0xA0, 4), struct.pack("i", time.CLOCK_MONOTONIC))
        self.keys = {k: 0 for k in KEYS}
        self.forbidden = []
        self.last = (0, 0)

    def drain(self, quiet=0.15, most=3.0):
        """Reads until the node has been quiet for `quiet` seconds, at most `most` seconds in
        all; the first event's time."""
        first = None
        end = time.time() + most
        while time.time() < end and select.select([self.fd], [], [], quiet)[0]:
            data = os.read(self.fd, EVENT.size * 64)
            for i in range(0, len(data), EVENT.size):
                sec, usec, kind, code, value = EVENT.unpack_from(data, i)
                if first is None:
                    first = sec + usec / 1e6
                if kind == EV_KEY and code in self.keys:
                    self.keys[code] = value
                if kind == EV_SYN and code == 0:
                    self.end_frame()
        return first

    def end_frame(self):
        pen, rubber = self.keys[BTN_TOOL_PEN], self.keys[BTN_TOOL_RUBBER]
        touch = self.keys[BTN_TOUCH]
        if pen and rubber:
            self.forbidden.append("two tools")
        if touch and not (pen or rubber):
            self.forbidden.append("touch without a tool")
        if (self.last[0] and rubber) or (self.last[1] and pen):
            self.forbidden.append("the tool changed in range")
        self.last = (pen, rubber)

    def state(self):
        tool = RUBBER if self.keys[BTN_TOOL_RUBBER] else PEN if self.keys[BTN_TOOL_PEN] else NONE
        stylus = 2 if self.keys[BTN_STYLUS2] else 1 if self.keys[BTN_STYLUS] else 0
        return (tool, self.keys[BTN_TOUCH], stylus)

    def close(self):
        os.close(self.fd)


def play(uhid, reader, make, scenario):
    right, wrong = 0, []
    reader.drain(0.3)
    for i, (name, bits, expected) in enumerate(scenario):
        uhid.send(make(bits, 1000 + 500 * i, 2000 + 300 * i))
        reader.drain()
        if reader.state() == expected:
            right += 1
        else:
            wrong.append(f"{name}: {reader.state()} not {expected}")
    return right, wrong


passed = failed = 0


def check(name, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print(f"ok   {name}{': ' + detail if detail else ''}")
    else:
        failed += 1
        print(f"FAIL {name}")
        if detail:
            print(f"     {detail}")
    sys.stdout.flush()


def start_service(*extra):
    log = open(f"{SCRATCH}/pens-srv.log", "w")
    srv = subprocess.Popen([f"{BUILD}/qmhidsrv", "--pipe", f"{SCRATCH}/pens.pipe", "--state-dir",
                            f"{SCRATCH}/pens-state", *extra], stdout=log, stderr=log)
    return srv


def pen_nodes(prefix, ours, timeout=10):
    """Event nodes with BTN_TOOL_PEN whose name starts with prefix: ours or the kernel's."""
    end = time.time() + timeout
    while time.time() < end:
        found = []
        for entry in sorted(os.listdir("/sys/class/input")):
            if not entry.startswith("event"):
                continue
            with open(f"/sys/class/input/{entry}/device/name") as f:
                name = f.read().strip()
            if not name.startswith(prefix) or name.endswith("(QmHid)") != ours:
                continue
            # Every QmHid node is a pen; the pen collection's is the one named so.
            if ours and not name.endswith("Pen (QmHid)"):
                continue
            fd = os.open(f"/dev/input/{entry}", os.O_RDONLY)
            if ("key", BTN_TOOL_PEN) in capabilities(fd):
                found.append(f"/dev/input/{entry}")
            os.close(fd)
        if found:
            return found
        time.sleep(0.1)
    return []


def read_recording(path):
    name, bus, vendor, product, descriptor, reports = "", 3, 0, 0, b"", []
    for line in open(path):
        fields = line.split()
        if line.startswith("N:"):
            name = line[3:].strip()
        elif line.startswith("I:"):
            bus, vendor, product = int(fields[1], 16), int(fields[2], 16), int(fields[3], 16)
        elif line.startswith("R:"):
            descriptor = bytes(int(b, 16) for b in fields[2:])
        elif line.startswith("E:"):
            reports.append(bytes(int(b, 16) for b in fields[3:]))
    return name, bus, vendor, product, descriptor, reports


def states_of(uhid, reader, reports):
    reader.drain(0.3)
    states = []
    for r in reports:
        uhid.send(r)
        reader.drain()
        states.append(reader.state())
    return states


def stop(process):
    process.terminate()
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def latency(uhid, reader, make, count=160):
    """Report-to-event times in microseconds: one report at a time, each waited for."""
    times = []
    reader.drain(0.3)
    for i in range(count):
        sent = time.clock_gettime(time.CLOCK_MONOTONIC)
        uhid.send(make(RANGE, 1000 + (i % 50) * 100, 2000))
        first = reader.drain(0.05)
        if first is not None:
            times.append((first - sent) * 1e6)
    times.sort()
    if not times:
        return None
    return times[len(times) // 2], times[int(len(times) * 0.9)], len(times)


if FIXTURES[:1] == ["--libinput"]:
    # With a running qmhidsrv and udevd: libinput's own view of pen A's QmHid node while the
    # pen hovers, turns to its eraser end through out of range, erases and leaves.
    uhid = Uhid("QUILLMARK Pen A", PEN_A)
    node = node_named("QUILLMARK Pen A (QmHid)")
    if node is None:
        print("no QmHid node for pen A")
        sys.exit(1)
    subprocess.run(["udevadm", "settle", "--timeout=10"])
    out = open(f"{SCRATCH}/libinput-events.out", "w")
    lib = subprocess.Popen(["libinput", "debug-events", "--device", node], stdout=out,
                           stderr=subprocess.STDOUT)
    time.sleep(3)
    for i, bits in enumerate([RANGE, RANGE | TIP, RANGE, 0, RANGE | INVERT,
                              RANGE | INVERT | ERASER, RANGE | INVERT, 0, RANGE, 0]):
        uhid.send(report_a(bits, 5000 + 400 * i, 5000))
        time.sleep(0.3)
    time.sleep(1)
    stop(lib)
    uhid.close()
    events = open(f"{SCRATCH}/libinput-events.out").read()
    proximity = [line for line in events.splitlines() if "TABLET_TOOL_PROXIMITY" in line]
    print("\n".join(proximity))
    # The tool's type stands before its serial and id: "pen      (0, id 0)".
    tools = {t: any(f"\t{t} " in line and "proximity-in" in line for line in proximity)
             for t in ("pen", "eraser")}
    sys.exit(0 if all(tools.values()) else 1)

totals = {"kernel": [0, 0, 0], "qmhid": [0, 0, 0]}  # right, reports, forbidden
for label, descriptor, make, scenario in PENS:
    name = f"QUILLMARK Pen {label}"
    uhid = Uhid(name, descriptor)
    kernel_node = node_named(name)
    check(f"pen {label}: the kernel made its node", kernel_node is not None)
    if kernel_node is None:
        uhid.close()
        continue
    kernel = Reader(kernel_node)
    kernel_caps = capabilities(kernel.fd)
    right, wrong = play(uhid, kernel, make, scenario)
    totals["kernel"][0] += right
    totals["kernel"][1] += len(scenario)
    totals["kernel"][2] += len(kernel.forbidden)
    print(f"     the kernel's node of pen {label}: {right}/{len(scenario)} states right, "
          f"{len(kernel.forbidden)} forbidden transitions" +
          (f" ({'; '.join(wrong[:3])})" if wrong else ""))
    kernel.close()

    srv = start_service()
    ours_node = node_named(f"{name} (QmHid)")
    check(f"pen {label}: qmhidsrv made its own node", ours_node is not None)
    if ours_node is not None:
        ours = Reader(ours_node)
        ours_caps = capabilities(ours.fd)
        right, wrong = play(uhid, ours, make, scenario)
        totals["qmhid"][0] += right
        totals["qmhid"][1] += len(scenario)
        totals["qmhid"][2] += len(ours.forbidden)
        check(f"pen {label}: every report left the expected state", not wrong, "; ".join(wrong))
        check(f"pen {label}: no transition the pen-state machine forbids", not ours.forbidden,
              "; ".join(ours.forbidden))
        missing = kernel_caps - ours_caps
        check(f"pen {label}: every capability of the kernel's node", not missing,
              f"missing {sorted(missing)}")
        if ("abs", ABS_PRESSURE) in kernel_caps:
            check(f"pen {label}: the pen's own pressure range",
                  absinfo(ours.fd, ABS_PRESSURE)[2] == absinfo(ours.fd, ABS_PRESSURE)[2] and
                  absinfo(ours.fd, ABS_PRESSURE)[2] == (4095 if label == "A" else 1023))
        if ("abs", ABS_TILT_X) in kernel_caps:
            ko = Reader(kernel_node)
            check(f"pen {label}: tilt with the kernel's range and resolution",
                  absinfo(ours.fd, ABS_TILT_X)[1:3] == (-60, 60) and
                  absinfo(ours.fd, ABS_TILT_X)[5] == absinfo(ko.fd, ABS_TILT_X)[5],
                  f"ours {absinfo(ours.fd, ABS_TILT_X)}, the kernel's {absinfo(ko.fd, ABS_TILT_X)}")
            ko.close()
        ours.close()
    stop(srv)

    if label == "B":
        # The latency: the kernel's node, the bare relay and qmhidsrv, one after the other.
        hidraw = None
        for entry in os.listdir("/sys/class/hidraw"):
            with open(f"/sys/class/hidraw/{entry}/device/uevent") as f:
                if f"HID_NAME={name}\n" in f.read():
                    hidraw = f"/dev/{entry}"
        figures = {}
        k = Reader(kernel_node)
        figures["kernel"] = latency(uhid, k, make)
        k.close()
        relay = subprocess.Popen([f"{BUILD}/qmhid-relay", hidraw, "qmhid bare relay"],
                                 stdout=subprocess.PIPE)
        relay.stdout.readline()
        r = Reader(node_named("qmhid bare relay"))
        figures["relay"] = latency(uhid, r, make)
        r.close()
        stop(relay)
        srv = start_service()
        q = Reader(node_named(f"{name} (QmHid)"))
        figures["qmhid"] = latency(uhid, q, make)
        q.close()
        stop(srv)
        for node, f in figures.items():
            if f is not None:
                print(f"     latency {node}: median {f[0]:.0f} us, p90 {f[1]:.0f} us over {f[2]} reports")
        if figures.get("relay") and figures.get("qmhid"):
            print(f"latency ratio qmhid/relay: median "
                  f"{figures['qmhid'][0] / figures['relay'][0]:.2f}, p90 "
                  f"{figures['qmhid'][1] / figures['relay'][1]:.2f}")
    uhid.close()

for path in FIXTURES:
    name, bus, vendor, product, descriptor, reports = read_recording(path)
    label = os.path.basename(path)
    uhid = Uhid(name, descriptor, bus, vendor, product)
    nodes = pen_nodes(name, False)
    check(f"{label}: the kernel made a pen node", len(nodes) == 1, f"{nodes}")
    if len(nodes) != 1:
        uhid.close()
        continue
    kernel = Reader(nodes[0])
    kernel_caps = capabilities(kernel.fd)
    theirs = states_of(uhid, kernel, reports)
    kernel_forbidden = len(kernel.forbidden)
    kernel.close()
    srv = start_service("--any-digitizer")
    ours_nodes = pen_nodes(name, True)
    check(f"{label}: qmhidsrv made its pen node", len(ours_nodes) == 1, f"{ours_nodes}")
    if len(ours_nodes) == 1:
        ours = Reader(ours_nodes[0])
        missing = kernel_caps - capabilities(ours.fd)
        mine = states_of(uhid, ours, reports)
        # Where the kernel shows a key without a tool, ours is in range while the tip is
        # down and releases every key out of range.
        expected = [t if t[0] != NONE else (PEN, 1, t[2]) if t[1] else (NONE, 0, 0)
                    for t in theirs]
        differ = [f"report {i}: {m} not {e}" for i, (m, e) in enumerate(zip(mine, expected))
                  if m != e]
        print(f"     {label}: the kernel's node {kernel_forbidden} forbidden transitions; "
              f"states {sorted(set(theirs))}")
        check(f"{label}: every report leaves the kernel's state, or better", not differ,
              "; ".join(differ[:4]) + f" (the kernel's {theirs}, ours {mine})")
        check(f"{label}: no forbidden transition", not ours.forbidden, "; ".join(ours.forbidden))
        check(f"{label}: every capability of the kernel's node", not missing,
              f"missing {sorted(missing)}")
        ours.close()
    stop(srv)
    uhid.close()

for node, (right, reports, forbidden) in totals.items():
    print(f"pen states {node}: {right}/{reports} right, {forbidden} forbidden transitions")
print(f"pens: {passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
