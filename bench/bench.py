#!/usr/bin/env python3
"""The service's benchmarks, driven from outside the processes they measure.

Run through scripts/bench, which installs and builds what this needs. One
table goes to the terminal and every figure (with the raw samples) into a
JSON file. Phases:

  idle      footprint at steady state (device fed by the simulator, a check
            of 127.0.0.1 passing every second) of the native daemon, of
            Debian's watchdog daemon (no-action mode, no device, pinging
            127.0.0.1 every second) and of the Wine build, side by side in
            the same time window
  default   the native daemon's wake-ups in the default periods (a life
            message a minute, an HTTP check every 3 minutes)
  reset     failed check (a 503 from the HTTP target) -> modem-reset frame
  stop      SIGTERM -> timer-stop frame and -> exit, one daemon per stop; the
            identification -> timer-init frame gap of each start
  hang      SIGTERM -> exit while an HTTP check hangs
  exchange  single exchanges of the product's link code (bench/exchange_timing.cpp)
  growth    descriptors, threads and RSS before and after many check cycles
            and port reopen cycles

Times are CLOCK_MONOTONIC milliseconds: Python's time.monotonic() and the
simulator's record (ms since its start; the offset is calibrated with
control lines).
"""
import argparse
import datetime
import http.server
import json
import math
import os
import platform
import random
import shutil
import signal
import socketserver
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CLK_TCK = os.sysconf("SC_CLK_TCK")
MODEM_RESET, TIMER_INIT, TIMER_STOP, VERSION = "2", "3", "4", "1"

# The targets.
TARGET_WINE_WAKEUPS = 3.0
TARGET_DEFAULT_WAKEUPS = 0.2
TARGET_RSS_KB = 5.5 * 1024
TARGET_RESET_P99 = 20.0
TARGET_STOP_FRAME_P99 = 30.0
# What an exchange may add to the line's time and the 50 ms of silence
# that ends every chunk the port reads.
TARGET_EXCHANGE_OVERHEAD_P99 = 30.0
CHUNK_GAP_MS = 50.0
TARGET_STOP_MS = 1500.0
BAUD_BYTES_PER_S = 9600 / 10  # 10 bits a byte


def now_ms():
    return time.monotonic() * 1000.0


def log(msg):
    print(f"[{datetime.datetime.now():%H:%M:%S} bench] {msg}", file=sys.stderr, flush=True)


def pct(values, q):
    """Nearest-rank percentile."""
    if not values:
        return None
    s = sorted(values)
    return s[max(0, math.ceil(q * len(s)) - 1)]


def summary(values):
    return {
        "n": len(values),
        "p50": pct(values, 0.50),
        "p99": pct(values, 0.99),
        "max": max(values) if values else None,
        "min": min(values) if values else None,
        "samples": [round(v, 3) for v in values],
    }


# ---------------------------------------------------------------- /proc

def read_status(path):
    out = {}
    with open(path) as f:
        for line in f:
            k, _, v = line.partition(":")
            out[k] = v.strip()
    return out


def kb(field):
    return int(field.split()[0]) if field else 0


def proc_sample(pid):
    """CPU seconds (all threads, dead ones too), switches per live thread,
    RSS, peak RSS, threads and descriptors of one process."""
    with open(f"/proc/{pid}/stat") as f:
        stat = f.read()
    fields = stat[stat.rindex(")") + 2:].split()
    utime, stime, cutime, cstime = (int(fields[i]) for i in (11, 12, 13, 14))
    st = read_status(f"/proc/{pid}/status")
    tasks = {}  # tid -> (context switches, ns on the CPU)
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            t = read_status(f"/proc/{pid}/task/{tid}/status")
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                run_ns = int(f.read().split()[0])
            tasks[int(tid)] = (int(t["voluntary_ctxt_switches"]) + int(t["nonvoluntary_ctxt_switches"]), run_ns)
        except (OSError, KeyError, ValueError, IndexError):
            pass
    try:
        fds = len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        fds = None
    return {
        "t": time.monotonic(),
        "cpu": (utime + stime) / CLK_TCK,
        "child_cpu": (cutime + cstime) / CLK_TCK,
        "rss_kb": kb(st.get("VmRSS")),
        "rss_anon_kb": kb(st.get("RssAnon")),
        "rss_file_kb": kb(st.get("RssFile")),
        "hwm_kb": kb(st.get("VmHWM")),
        "threads": int(st.get("Threads", "0")),
        "tasks": tasks,
        "fds": fds,
    }


def pss_kb(pid):
    """Proportional set size: shared pages split among the processes mapping them."""
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


class Window:
    """A process watched over a time window: wake-ups as the voluntary +
    involuntary context switches and CPU as the run time (schedstat, ns) of
    every thread seen in /proc/PID/task (a thread born in the window counts
    from zero; one that lives shorter than the sampling step is not seen);
    as a cross-check, CPU from /proc/PID/stat (every thread, ended ones and
    waited-for children too, in 10 ms ticks)."""

    def __init__(self, name, pid):
        self.name, self.pid = name, pid
        self.first = self.last = None
        self.task_first, self.task_last = {}, {}
        self.max_threads = 0

    def sample(self):
        try:
            s = proc_sample(self.pid)
        except (OSError, ValueError):
            return False
        if self.first is None:
            self.first = s
            self.task_first = dict(s["tasks"])
        for tid, c in s["tasks"].items():
            self.task_first.setdefault(tid, (0, 0))
            self.task_last[tid] = c
        self.max_threads = max(self.max_threads, s["threads"])
        self.last = s
        return True

    def result(self):
        f, l = self.first, self.last
        dt = l["t"] - f["t"] if f else 0
        if dt <= 0:
            return None
        stat_cpu = (l["cpu"] - f["cpu"]) + (l["child_cpu"] - f["child_cpu"])
        per_thread = sorted(((self.task_last[t][0] - self.task_first[t][0]) / dt for t in self.task_last), reverse=True)
        switches = sum(self.task_last[t][0] - self.task_first[t][0] for t in self.task_last)
        cpu = sum(self.task_last[t][1] - self.task_first[t][1] for t in self.task_last) / 1e9
        return {
            "pid": self.pid,
            "seconds": round(dt, 1),
            "cpu_s": round(cpu, 4),
            "cpu_s_per_h": round(cpu / dt * 3600, 3),
            "stat_cpu_s_per_h": round(stat_cpu / dt * 3600, 2),
            "wakeups_per_s": round(switches / dt, 2),
            "wakeups_per_s_by_thread": [round(x, 2) for x in per_thread if x > 0],
            "peak_rss_kb": l["hwm_kb"],
            "rss_kb": l["rss_kb"],
            "pss_kb": pss_kb(self.pid),
            "rss_anon_kb": l["rss_anon_kb"],
            "rss_file_kb": l["rss_file_kb"],
            "threads": l["threads"],
            "max_threads": self.max_threads,
            "fds": l["fds"],
        }


def rusage_dict(ru, lifetime_s):
    sw = ru.ru_nvcsw + ru.ru_nivcsw
    cpu = ru.ru_utime + ru.ru_stime
    # ru_maxrss is left out: it also holds the forking Python's pages before exec.
    return {
        "lifetime_s": round(lifetime_s, 1),
        "cpu_s": round(cpu, 3),
        "cpu_s_per_h": round(cpu / lifetime_s * 3600, 2),
        "wakeups_per_s": round(sw / lifetime_s, 2),
    }


# ---------------------------------------------------------------- simulator

class Sim:
    """The device simulator with its frame record and control FIFO."""

    def __init__(self, exe, work, name, link=False):
        self.record = os.path.join(work, f"{name}.frames")
        self.ctl = os.path.join(work, f"{name}.ctl")
        self.path_file = os.path.join(work, f"{name}.pty")
        self.link = os.path.join(work, f"{name}.link") if link else None
        for p in (self.record, self.ctl, self.path_file):
            if os.path.lexists(p):
                os.unlink(p)
        argv = [exe, "--path-file", self.path_file, "--record", self.record, "--control", self.ctl]
        if self.link:
            argv += ["--link", self.link]
        self.out = open(os.path.join(work, f"{name}.sim.out"), "wb")
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=self.out, stderr=self.out)
        for _ in range(200):
            if os.path.exists(self.path_file) and os.path.exists(self.ctl) and os.path.exists(self.record):
                break
            time.sleep(0.02)
        else:
            raise RuntimeError("the simulator did not start")
        with open(self.path_file) as f:
            self.pty = f.read().strip()
        self.ctl_fd = os.open(self.ctl, os.O_WRONLY)
        self.events = []  # (abs_ms, kind, what)
        self._rf = open(self.record)
        self._partial = ""
        self.offset = None
        self.offset = self._calibrate()

    def send(self, line):
        os.write(self.ctl_fd, (line + "\n").encode())

    def poll(self):
        chunk = self._rf.read()
        if not chunk:
            return
        data = self._partial + chunk
        lines = data.split("\n")
        self._partial = lines.pop()
        for line in lines:
            parts = line.split(" ", 2)
            if len(parts) < 3:
                continue
            rel = int(parts[0])
            self.events.append(((rel + self.offset) if self.offset is not None else rel, parts[1], parts[2]))

    def _calibrate(self):
        # The record's time of a control line can only be later than our write:
        # the largest (write time - recorded time) bounds the start best.
        best = None
        for _ in range(7):
            self.poll()
            n = len(self.events)
            t = now_ms()
            self.send("mode normal")
            rel = self.wait_event("event", "mode normal", n, timeout=5, raw=True)
            cand = t - rel
            best = cand if best is None else max(best, cand)
            time.sleep(0.01)
        self.events = [(rel + best, k, w) for rel, k, w in self.events]
        return best

    def wait_event(self, kind, what, start_index, timeout=10.0, raw=False):
        """Time of the first event of `kind` ("frame"/"event") whose text is
        `what` (or starts with it for events) at index >= start_index."""
        deadline = time.monotonic() + timeout
        i = start_index
        while True:
            self.poll()
            while i < len(self.events):
                t, k, w = self.events[i]
                if k == kind and (w == what or (kind == "event" and w.startswith(what))):
                    self.last_index = i
                    return t
                i += 1
            if time.monotonic() > deadline:
                return None
            time.sleep(0.002)

    def index(self):
        self.poll()
        return len(self.events)

    def frames_between(self, a, b):
        return [(t, w) for t, k, w in self.events[a:b] if k == "frame"]

    def close(self):
        try:
            self.send("quit")
        except OSError:
            pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.ctl_fd)
        self._rf.close()
        self.out.close()


# ---------------------------------------------------------------- HTTP check target

class Target:
    """An HTTP check target on 127.0.0.1. Modes: "ok" (200), "alternate" (503
    to every other request), "hang" (accepts, never answers until released);
    arm_fail() makes the next request get one 503 and notes when it went out."""

    def __init__(self):
        self.mode = "ok"
        self.lock = threading.Lock()
        self.requests = 0
        self.armed = False
        self.fail_times = []
        self.hang_starts = []
        self.release = threading.Event()
        target = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with target.lock:
                    target.requests += 1
                    n = target.requests
                    mode = target.mode
                    fail_once = target.armed
                    target.armed = False
                if mode == "hang":
                    with target.lock:
                        target.hang_starts.append(now_ms())
                    target.release.wait(120)
                    return
                code = 503 if fail_once or (mode == "alternate" and n % 2 == 0) else 200
                body = b"ok\n" if code == 200 else b"unavailable\n"
                self.send_response(code)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                self.wfile.flush()
                if fail_once:
                    with target.lock:
                        target.fail_times.append(now_ms())

            def log_message(self, *a):
                pass

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True
            allow_reuse_address = True

        self.server = Server(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def arm_fail(self):
        with self.lock:
            n = len(self.fail_times)
            self.armed = True
        return n

    def set_mode(self, mode):
        with self.lock:
            self.mode = mode
        if mode != "hang":
            self.release.set()
        else:
            self.release.clear()

    def close(self):
        self.release.set()
        self.server.shutdown()
        self.server.server_close()


# ---------------------------------------------------------------- native daemon

def write_reg(path, values):
    lines = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]"]
    for name, v in values:
        if isinstance(v, int):
            lines.append(f'"{name}"=dword:{v & 0xFFFFFFFF:08x}')
        else:
            esc = v.replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{esc}"')
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


class Daemon:
    def __init__(self, exe, reg, work, name, wrap=None):
        self.log_path = os.path.join(work, f"{name}.log")
        self.err = open(os.path.join(work, f"{name}.err"), "ab")
        argv = (wrap or []) + [exe, "--config", reg]
        self.started = time.monotonic()
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=self.err, stderr=self.err,
                                     start_new_session=True)
        self.pid = self.proc.pid
        self.exited = False

    def log_count(self, message):
        try:
            with open(self.log_path, "rb") as f:
                data = f.read().decode(errors="replace")
        except OSError:
            return 0
        return sum(1 for line in data.split("\r\n") if line.partition(" - ")[2] == message)

    def wait_log(self, message, count=1, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.log_count(message) >= count:
                return True
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError(f"{self.log_path}: never showed '{message}' x{count}")

    def stop(self):
        """SIGTERM; returns (sent ms, exited ms, exit status, rusage)."""
        t = now_ms()
        os.kill(self.pid, signal.SIGTERM)
        _, status, ru = os.wait4(self.pid, 0)
        t_exit = now_ms()
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        self.exited = True
        self.err.close()
        return t, t_exit, status, ru

    def kill(self):
        if not self.exited and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.exited = True


def daemon_config(work, name, port, extra):
    reg = os.path.join(work, f"{name}.reg")
    base = [
        ("log_file_path", os.path.join(work, f"{name}.log")),
        ("qov_com_port", port),
        ("wait_time_after_start_s", 1),
    ]
    write_reg(reg, base + extra)
    log_path = os.path.join(work, f"{name}.log")
    for p in (log_path, log_path + ".1"):
        if os.path.exists(p):
            os.unlink(p)
    return reg


# ---------------------------------------------------------------- Debian's watchdog daemon

WATCHDOG_CONF = """\
# Debian's watchdog daemon as a comparison for scripts/bench: it only pings
# 127.0.0.1 once a second. There is no watchdog-device line, so no device is
# opened, and it runs with --no-action (no reboot, no halt, no device).
interval = 1
ping = 127.0.0.1
realtime = no
admin =
test-directory = {tests}
log-dir = {logs}
"""
WATCHDOG_ARGV = ["watchdog", "--foreground", "--no-action", "--config-file"]


def checked_watchdog_conf(work):
    """Writes the config and refuses anything that could touch a device or act."""
    d = os.path.join(work, "watchdog")
    os.makedirs(os.path.join(d, "tests"), exist_ok=True)
    for f in os.listdir(os.path.join(d, "tests")):
        os.unlink(os.path.join(d, "tests", f))
    conf = os.path.join(d, "watchdog.conf")
    text = WATCHDOG_CONF.format(tests=os.path.join(d, "tests"), logs=d)
    allowed = {"interval", "ping", "realtime", "admin", "test-directory", "log-dir"}
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        key, _, value = (x.strip() for x in line.partition("="))
        if key not in allowed:
            raise RuntimeError(f"watchdog.conf: refusing option {key}")
        if key == "ping" and not value.startswith("127."):
            raise RuntimeError("watchdog.conf: ping only loopback")
    with open(conf, "w") as f:
        f.write(text)
    return conf


def start_watchdog(work):
    # A watchdog daemon of the machine's own would lose its pid file to ours.
    running = subprocess.run(["pgrep", "-x", "watchdog"], capture_output=True, text=True).stdout.split()
    if running or os.path.exists("/run/watchdog.pid") or os.path.exists("/var/run/watchdog.pid"):
        raise RuntimeError("a watchdog daemon already runs here: stop it before the benchmark")
    conf = checked_watchdog_conf(work)
    argv = WATCHDOG_ARGV + [conf]
    assert "--no-action" in argv
    out = open(os.path.join(work, "watchdog", "watchdog.out"), "ab")
    p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    return p, out


def watchdog_version():
    try:
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}", "watchdog"], capture_output=True,
                              text=True).stdout.strip()
    except OSError:
        return ""


# ---------------------------------------------------------------- phases

def wait_until(pred, timeout, what, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if pred():
            return
        time.sleep(step)
    raise RuntimeError(f"timed out: {what}")


def idle_daemon_extra():
    # The same work as the watchdog daemon's: an ICMP check of 127.0.0.1 every
    # second; life messages at the default period.
    return [
        ("check_addr_count", 1),
        ("check_addr_0", "ICMP - 127.0.0.1"),
        ("check_ok_period_s", 1),
        ("check_fail_period_s", 1),
    ]


def wine_prefix_pids(prefix):
    pids = []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in env:
            pids.append(int(d))
    return pids


def proc_cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return ""


def proc_comm(pid):
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return ""


def phase_idle(a, work, results):
    log(f"idle: {a.idle_seconds:.0f} s after {a.warmup_seconds:.0f} s of warm-up"
        + ("" if a.no_wine else ", native, watchdog and Wine side by side"))
    wine_proc = None
    stop_file = os.path.join(work, "wine.stop")
    ready_file = os.path.join(work, "wine.ready")
    for p in (stop_file, ready_file):
        if os.path.exists(p):
            os.unlink(p)
    if not a.no_wine:
        wine_out = open(os.path.join(work, "wine_service.out"), "wb")
        wine_proc = subprocess.Popen(
            ["bash", os.path.join(HERE, "wine_service.sh"), os.path.join(work, "wine"), a.mingw,
             os.path.join(a.native, "tools"), ready_file, stop_file],
            stdin=subprocess.DEVNULL, stdout=wine_out, stderr=wine_out, start_new_session=True)
    sim = Sim(a.sim, work, "idle")
    reg = daemon_config(work, "idle", sim.pty, idle_daemon_extra())
    daemon = Daemon(a.daemon, reg, work, "idle")
    wd, wd_out = start_watchdog(work)
    try:
        daemon.wait_log("QOV timer init ok", timeout=20)
        daemon.wait_log("ping ok", 2, timeout=20)
        if wd.poll() is not None:
            raise RuntimeError("the watchdog daemon ended: see watchdog/watchdog.out")
        wine = {}
        if wine_proc:
            wait_until(lambda: os.path.exists(ready_file) or wine_proc.poll() is not None, 240,
                       "the Wine service to be ready")
            if wine_proc.poll() is not None:
                raise RuntimeError("the Wine service did not start: see wine_service.out")
            with open(ready_file) as f:
                for line in f:
                    k, _, v = line.strip().partition(" ")
                    wine[k] = v
        time.sleep(a.warmup_seconds)
        windows = [Window("native", daemon.pid), Window("watchdog", wd.pid)]
        wine_windows = []
        if wine:
            prefix = wine["prefix"]
            service_pid = int(wine["service"])
            server_pid = int(wine["wineserver"])
            wine_windows = [Window("wine_service", service_pid), Window("wineserver", server_pid)]
            # The simulator inherits WINEPREFIX from the scenario helpers but is no Wine process.
            others = [p for p in wine_prefix_pids(prefix)
                      if p not in (service_pid, server_pid) and proc_comm(p) != "qov_device_sim"]
            wine_windows += [Window(f"wine_other:{proc_comm(p)}", p) for p in others]
        all_windows = windows + wine_windows
        t_end = time.monotonic() + a.idle_seconds
        while True:
            for w in all_windows:
                w.sample()
            if time.monotonic() >= t_end:
                break
            time.sleep(min(1.0, max(0.0, t_end - time.monotonic())))
        out = {w.name: w.result() for w in windows}
        out["native"]["ping_ok_lines"] = daemon.log_count("ping ok")
        if wine_windows:
            out["wine_service"] = wine_windows[0].result()
            out["wineserver"] = wine_windows[1].result()
            others = [r | {"name": w.name.split(":", 1)[1]} for w in wine_windows[2:] if (r := w.result())]
            out["wine_other"] = wine_other_summary(others)
        t, t_exit, status, ru = daemon.stop()
        out["native_whole_life"] = rusage_dict(ru, time.monotonic() - daemon.started)
        out["native_whole_life"]["note"] = "from wait4(): start-up and stop included, short-lived probe threads too"
        n = out["native"]
        w = out["watchdog"]
        out["ratios_native_over_watchdog"] = {
            "cpu": ratio(n["cpu_s_per_h"], w["cpu_s_per_h"]),
            "wakeups": ratio(n["wakeups_per_s"], w["wakeups_per_s"]),
            "peak_rss": ratio(n["peak_rss_kb"], w["peak_rss_kb"]),
        }
        if "wine_service" in out:
            ws = out["wine_service"]
            out["ratios_wine_over_watchdog"] = {
                "cpu": ratio(ws["cpu_s_per_h"], w["cpu_s_per_h"]),
                "cpu_with_wineserver": ratio(ws["cpu_s_per_h"] + out["wineserver"]["cpu_s_per_h"],
                                             w["cpu_s_per_h"]),
                "wakeups": ratio(ws["wakeups_per_s"], w["wakeups_per_s"]),
                "peak_rss": ratio(ws["peak_rss_kb"], w["peak_rss_kb"]),
            }
        out["config"] = {"native": dict(idle_daemon_extra()), "watchdog": WATCHDOG_CONF.splitlines()[3:7]}
        results["idle"] = out
    finally:
        daemon.kill()
        if wd.poll() is None:
            wd.send_signal(signal.SIGTERM)
            try:
                wd.wait(timeout=10)
            except subprocess.TimeoutExpired:
                wd.kill()
                wd.wait()
        wd_out.close()
        if wine_proc:
            open(stop_file, "w").close()
            try:
                wine_proc.wait(timeout=120)
            except subprocess.TimeoutExpired:
                wine_proc.kill()
                wine_proc.wait()
        sim.close()


def phase_default(a, work, results):
    log(f"default: {a.default_seconds:.0f} s in the default periods with an HTTP check")
    sim = Sim(a.sim, work, "default")
    target = Target()
    reg = daemon_config(work, "default", sim.pty, [
        ("check_addr_count", 1),
        ("check_addr_0", f"HTTP - 127.0.0.1:{target.port}/check"),
    ])
    daemon = Daemon(a.daemon, reg, work, "default")
    try:
        daemon.wait_log("QOV timer init ok", timeout=20)
        daemon.wait_log("ping ok", timeout=60)
        window = Window("default", daemon.pid)
        t_end = time.monotonic() + a.default_seconds
        while True:
            window.sample()
            if time.monotonic() >= t_end:
                break
            time.sleep(min(5.0, max(0.0, t_end - time.monotonic())))
        out = window.result()
        out["ping_ok_lines"] = daemon.log_count("ping ok")
        out["life_message_lines"] = daemon.log_count("Life message send ok")
        daemon.stop()
        results["default"] = out
    finally:
        daemon.kill()
        target.close()
        sim.close()


def wine_other_summary(processes):
    others = [o for o in processes if o["name"] != "qov_device_sim"]
    return {
        "processes": others,
        "cpu_s_per_h": round(sum(o["cpu_s_per_h"] for o in others), 3),
        "wakeups_per_s": round(sum(o["wakeups_per_s"] for o in others), 2),
        "peak_rss_kb": sum(o["peak_rss_kb"] for o in others),
    }


def ratio(a, b):
    return round(a / b, 2) if b else None


def phase_reset(a, work, results):
    log(f"reset: {a.events} failed checks -> modem-reset frame")
    sim = Sim(a.sim, work, "reset")
    target = Target()
    reg = daemon_config(work, "reset", sim.pty, [
        ("check_addr_count", 1),
        ("check_addr_0", f"HTTP - 127.0.0.1:{target.port}/check"),
        ("check_ok_period_s", 0),
        ("check_fail_period_s", 0),
        ("check_fail_loop_count", 0),  # every failed cycle escalates
        ("reset_modem", 1),
        ("reset_comp", 0),
    ])
    daemon = Daemon(a.daemon, reg, work, "reset")
    reactions, missed = [], 0
    try:
        daemon.wait_log("QOV timer init ok", timeout=20)
        daemon.wait_log("ping ok", 3, timeout=20)
        rng = random.Random(1)
        for _ in range(a.events):
            time.sleep(rng.uniform(0.05, 0.25))
            start = sim.index()
            n = target.arm_fail()
            wait_until(lambda: len(target.fail_times) > n, 10, "a failed check")
            t_fail = target.fail_times[n]
            t_frame = sim.wait_event("frame", MODEM_RESET, start, timeout=5)
            if t_frame is None:
                missed += 1
                continue
            reactions.append(t_frame - t_fail)
            # The next cycle passes again before the next failure.
            time.sleep(0.15)
        daemon.stop()
    finally:
        daemon.kill()
        target.close()
        sim.close()
    results["reset"] = summary(reactions) | {"missed": missed}


def phase_stop(a, work, results):
    log(f"stop: {a.events} starts and SIGTERM stops with a responsive device")
    sim = Sim(a.sim, work, "stop")
    reg = daemon_config(work, "stop", sim.pty, idle_daemon_extra())
    to_frame, to_exit, gaps, bad = [], [], [], 0
    rng = random.Random(2)
    for i in range(a.events):
        start = sim.index()
        daemon = Daemon(a.daemon, reg, work, "stop")
        try:
            t3 = sim.wait_event("frame", TIMER_INIT, start, timeout=20)
            if t3 is None:
                raise RuntimeError("the daemon never started the timer")
            i3 = sim.last_index
            ones = [t for t, w in sim.frames_between(start, i3) if w == VERSION]
            if ones:
                gaps.append(t3 - ones[-1])
            time.sleep(rng.uniform(0.05, 0.4))
            t_sig, t_exit, status, _ = daemon.stop()
            t4 = sim.wait_event("frame", TIMER_STOP, i3 + 1, timeout=5)
            if t4 is None or status != 0:
                bad += 1
            else:
                to_frame.append(t4 - t_sig)
            to_exit.append(t_exit - t_sig)
        finally:
            daemon.kill()
    sim.close()
    results["stop_frame"] = summary(to_frame) | {"failed": bad}
    results["stop_exit"] = summary(to_exit)
    results["daemon_identification_gap"] = summary(gaps) | {
        "note": "identification frame -> timer-init frame at the simulator: one identification exchange plus one log line"}


def phase_hang(a, work, results):
    log(f"hang: {a.hang_stops} stops while an HTTP check hangs")
    sim = Sim(a.sim, work, "hang")
    target = Target()
    target.set_mode("hang")
    reg = daemon_config(work, "hang", sim.pty, [
        ("check_addr_count", 1),
        ("check_addr_0", f"HTTP - 127.0.0.1:{target.port}/hang"),
        ("check_ok_period_s", 0),
        ("check_fail_period_s", 0),
    ])
    to_exit, to_frame = [], []
    rng = random.Random(3)
    try:
        for _ in range(a.hang_stops):
            start = sim.index()
            n = len(target.hang_starts)
            daemon = Daemon(a.daemon, reg, work, "hang")
            try:
                wait_until(lambda: len(target.hang_starts) > n, 20, "a hanging check")
                time.sleep(rng.uniform(0.1, 0.6))
                t_sig, t_exit, status, _ = daemon.stop()
                to_exit.append(t_exit - t_sig)
                t4 = sim.wait_event("frame", TIMER_STOP, start, timeout=5)
                if t4 is not None:
                    to_frame.append(t4 - t_sig)
            finally:
                daemon.kill()
            target.release.set()
            time.sleep(0.05)
            target.release.clear()
    finally:
        target.close()
        sim.close()
    results["hang_stop_exit"] = summary(to_exit)
    results["hang_stop_frame"] = summary(to_frame)


def phase_exchange(a, work, results):
    log(f"exchange: {a.events} acknowledged commands and {a.events} identifications")
    sim = Sim(a.sim, work, "exchange")
    out = {}
    try:
        for code, name, reply in ((5, "ack", 1), (1, "identification", len("QOV Lumo 1.0.0"))):
            r = subprocess.run([a.exchange, "--port", sim.pty, "--count", str(a.events), "--code", str(code)],
                               capture_output=True, text=True, timeout=a.events * 3 + 30)
            times, failed = [], 0
            for line in r.stdout.split("\n"):
                parts = line.split()
                if len(parts) == 3:
                    if parts[1] == "1":
                        times.append(float(parts[2]))
                    else:
                        failed += 1
            floor = (4 + reply) / BAUD_BYTES_PER_S * 1000
            out[name] = summary(times) | {"failed": failed, "reply_bytes": reply, "floor_ms": round(floor, 2)}
    finally:
        sim.close()
    results["exchange"] = out


def growth_sample(pid, n=10):
    """Threads and descriptors at their minimum over about a second (a probe
    helper thread and its socket come and go), RSS at its median."""
    ss = []
    for _ in range(n):
        ss.append(proc_sample(pid))
        time.sleep(0.1)
    rss = sorted(s["rss_kb"] for s in ss)
    return {
        "fds": min(s["fds"] for s in ss),
        "threads": min(s["threads"] for s in ss),
        "rss_kb": rss[len(rss) // 2],
        "peak_rss_kb": max(s["hwm_kb"] for s in ss),
    }


def count_lines(path):
    try:
        with open(path, "rb") as f:
            return f.read().count(b"\n")
    except OSError:
        return 0


def phase_growth(a, work, results):
    log(f"growth: {a.check_cycles} check cycles and {a.reopen_cycles} port reopen cycles")
    sim = Sim(a.sim, work, "growth", link=True)
    scratch = os.path.join(work, "growth_ns")
    os.makedirs(scratch, exist_ok=True)
    control = os.path.join(scratch, "target.mode")
    requests = os.path.join(scratch, "target.requests")
    with open(control, "w") as f:
        f.write("503\n")
    if os.path.exists(requests):
        os.unlink(requests)
    port = 18080  # in the daemon's own network namespace: nothing else listens there
    # Every cycle fails, so the next one follows after check_fail_period_s = 0
    # (a passing cycle waits at least 1 s): an HTTP request answered 503, then
    # an ICMP echo that the namespace cannot route. No reset is configured.
    reg = daemon_config(work, "growth", "serial/by-id/qov-bench", [
        ("check_addr_count", 2),
        ("check_addr_0", f"HTTP - 127.0.0.1:{port}/check"),
        ("check_addr_1", "ICMP - 240.0.0.1"),
        ("check_ok_period_s", 1),
        ("check_fail_period_s", 0),
        ("check_fail_loop_count", 10),
        ("reset_modem", 0),
        ("reset_comp", 0),
        ("life_beakon_period_ms", 100),
    ])
    wrap = [os.path.join(HERE, "growth_ns.sh"), scratch, sim.link, str(port), control, requests]
    daemon = Daemon(a.daemon, reg, work, "growth", wrap=wrap)
    cycles = lambda: count_lines(requests)
    rows = {}
    reopen_times = []
    try:
        daemon.wait_log("QOV timer init ok", timeout=20)
        # Warm-up: a few of each cycle, so that one-time allocations are in the baseline.
        wait_until(lambda: cycles() >= 100, 120, "100 check cycles")
        for _ in range(5):
            start = sim.index()
            sim.send("drop")
            if sim.wait_event("frame", TIMER_INIT, start, timeout=30) is None:
                raise RuntimeError("no reopen after a drop")
        rows["before"] = growth_sample(daemon.pid) | {"checks": cycles()}
        checks0 = rows["before"]["checks"]
        t0 = time.monotonic()
        for i in range(a.reopen_cycles):
            start = sim.index()
            td = now_ms()
            sim.send("drop")
            t3 = sim.wait_event("frame", TIMER_INIT, start, timeout=30)
            if t3 is None:
                raise RuntimeError(f"no reopen after drop {i}")
            reopen_times.append(t3 - td)
            if (i + 1) % 200 == 0:
                log(f"growth: {i + 1} reopens, {cycles() - checks0} check cycles")
        rows["after_reopens"] = growth_sample(daemon.pid) | {"checks": cycles()}
        next_note = 2000
        while cycles() - checks0 < a.check_cycles:
            time.sleep(1)
            if daemon.proc.poll() is not None:
                raise RuntimeError("the daemon ended")
            if cycles() - checks0 >= next_note:
                log(f"growth: {cycles() - checks0} check cycles")
                next_note += 2000
        rows["after"] = growth_sample(daemon.pid) | {"checks": cycles()}
        rows["seconds"] = round(time.monotonic() - t0, 1)
        rows["log_lines"] = {m: daemon.log_count(m) for m in ("ping fail", "ping ok", "QOV timer init ok")}
        daemon.stop()
    finally:
        daemon.kill()
        try:
            with open(os.path.join(scratch, "target.pid")) as f:
                os.kill(int(f.read().strip()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        sim.close()
    b, e = rows["before"], rows["after"]
    rows["delta"] = {k: e[k] - b[k] for k in ("fds", "threads", "rss_kb", "peak_rss_kb")}
    rows["check_cycles"] = e["checks"] - b["checks"]
    rows["reopen_cycles"] = a.reopen_cycles
    rows["reopen"] = summary(reopen_times) | {"note": "drop -> timer-init frame on the new pty"}
    results["growth"] = rows


# ---------------------------------------------------------------- report

def loadavg():
    with open("/proc/loadavg") as f:
        return f.read().split()[:3]


def machine():
    model = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    wine_version = ""
    if shutil.which("wine"):
        try:
            wine_version = subprocess.run(["wine", "--version"], capture_output=True, text=True,
                                          timeout=30).stdout.strip()
        except (OSError, subprocess.TimeoutExpired):
            pass
    def git(*args):
        try:
            return subprocess.run(["git", "-C", ROOT, *args], capture_output=True, text=True, timeout=30).stdout.strip()
        except (OSError, subprocess.TimeoutExpired):
            return ""
    return {
        "commit": git("rev-parse", "--short", "HEAD"),
        "uncommitted_product_files": len(git("status", "--porcelain", "--", "src", "tools").splitlines()),
        "date": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
        "nproc": os.cpu_count(),
        "cpu": model,
        "kernel": platform.release(),
        "loadavg_at_start": load,
        "watchdog_version": watchdog_version(),
        "wine_version": wine_version,
    }


def verdict(ok):
    return "met" if ok else "MISSED"


def fmt(v, nd=1):
    if v is None:
        return "-"
    if isinstance(v, float):
        return f"{v:.{nd}f}"
    return str(v)


def report(results):
    rows = []
    targets = []
    idle = results.get("idle")
    lines = []
    if idle:
        lines.append(f"Idle footprint over {idle['native']['seconds']:.0f} s (steady state, check of 127.0.0.1 every second)")
        lines.append(f"  {'process':<34}{'CPU s/h':>10}{'wake-ups/s':>12}{'peak RSS MB':>13}{'PSS MB':>8}{'threads':>9}")

        def row(name, r):
            pss = f"{r['pss_kb'] / 1024:.2f}" if r.get("pss_kb") else "-"
            lines.append(f"  {name:<34}{fmt(r['cpu_s_per_h'], 3):>10}{fmt(r['wakeups_per_s'], 2):>12}"
                         f"{r['peak_rss_kb'] / 1024:>13.2f}{pss:>8}{fmt(r.get('threads', '')):>9}")
        row("qov_lumo_service (native)", idle["native"])
        row("watchdog (Debian, --no-action)", idle["watchdog"])
        ra = idle["ratios_native_over_watchdog"]
        lines.append(f"  {'ratio native / watchdog':<34}{fmt(ra['cpu'], 2):>10}{fmt(ra['wakeups'], 2):>12}"
                     f"{fmt(ra['peak_rss'], 2):>13}")
        wl = idle["native_whole_life"]
        lines.append(f"  {'native, whole life (wait4)':<34}{fmt(wl['cpu_s_per_h'], 2):>10}"
                     f"{fmt(wl['wakeups_per_s'], 2):>12}")
        if "wine_service" in idle:
            row("qov_lumo_service.exe (Wine)", idle["wine_service"])
            row("wineserver", idle["wineserver"])
            wo = wine_other_summary(idle["wine_other"]["processes"])
            lines.append(f"  {'other Wine processes (%d)' % len(wo['processes']):<34}{fmt(wo['cpu_s_per_h'], 2):>10}"
                         f"{fmt(wo['wakeups_per_s'], 2):>12}{wo['peak_rss_kb'] / 1024:>13.2f}")
            rw = idle["ratios_wine_over_watchdog"]
            lines.append(f"  {'ratio Wine service / watchdog':<34}{fmt(rw['cpu'], 2):>10}{fmt(rw['wakeups'], 2):>12}"
                         f"{fmt(rw['peak_rss'], 2):>13}")
        n, w = idle["native"], idle["watchdog"]
        targets.append(("idle CPU native <= watchdog", f"{n['cpu_s_per_h']:.3f} vs {w['cpu_s_per_h']:.3f} s/h",
                        n["cpu_s_per_h"] <= w["cpu_s_per_h"]))
        targets.append(("idle wake-ups native <= watchdog", f"{n['wakeups_per_s']:.2f} vs {w['wakeups_per_s']:.2f}/s",
                        n["wakeups_per_s"] <= w["wakeups_per_s"]))
        targets.append(("RSS native (ICMP only) <= 5.5 MB",
                        f"{n['rss_kb'] / 1024:.2f} MB (PSS {fmt((n.get('pss_kb') or 0) / 1024, 2)})",
                        n["rss_kb"] <= TARGET_RSS_KB))
        if "wine_service" in idle:
            ws = idle["wine_service"]
            targets.append(("idle wake-ups Wine service <= 3/s", f"{ws['wakeups_per_s']:.2f}/s",
                            ws["wakeups_per_s"] <= TARGET_WINE_WAKEUPS))
        lines.append("")
    dflt = results.get("default")
    if dflt:
        lines.append(f"Default periods over {dflt['seconds']:.0f} s (life message 60 s, HTTP check 180 s): "
                     f"{dflt['wakeups_per_s']:.3f} wake-ups/s, {dflt['cpu_s_per_h']:.3f} CPU s/h, "
                     f"RSS {dflt['rss_kb'] / 1024:.2f} MB, {dflt['threads']} threads")
        lines.append(f"  by thread: {dflt['wakeups_per_s_by_thread']}")
        lines.append("")
        targets.append(("idle wake-ups, default periods <= 0.2/s", f"{dflt['wakeups_per_s']:.3f}/s",
                        dflt["wakeups_per_s"] <= TARGET_DEFAULT_WAKEUPS))

    lat = []

    def lrow(name, s, target=None, floor=None):
        if not s:
            return
        lat.append(f"  {name:<44}{s['n']:>5}{fmt(s['p50']):>9}{fmt(s['p99']):>9}{fmt(s['max']):>9}"
                   f"{fmt(floor, 2) if floor is not None else '':>8}{'<= ' + fmt(target, 0) if target else '':>9}")
    lrow("failed check -> modem-reset frame", results.get("reset"), TARGET_RESET_P99)
    lrow("SIGTERM -> timer-stop frame", results.get("stop_frame"), TARGET_STOP_FRAME_P99)
    lrow("SIGTERM -> exit, responsive device", results.get("stop_exit"), TARGET_STOP_MS)
    lrow("SIGTERM -> exit, hanging HTTP check", results.get("hang_stop_exit"), TARGET_STOP_MS)
    ex = results.get("exchange", {})
    if "ack" in ex:
        lrow("exchange, command + 1-byte ack", ex["ack"], None, ex["ack"]["floor_ms"])
    if "identification" in ex:
        lrow("exchange, identification (14 bytes)", ex["identification"], None,
             ex["identification"]["floor_ms"])
    lrow("daemon: identification -> timer-init frame", results.get("daemon_identification_gap"))
    if "growth" in results:
        lrow("port drop -> timer-init on the new pty", results["growth"]["reopen"])
    if lat:
        lines.append("Reaction times, ms")
        lines.append(f"  {'what':<44}{'n':>5}{'p50':>9}{'p99':>9}{'max':>9}{'floor':>8}{'target':>9}")
        lines += lat
        lines.append("")
    if "reset" in results and results["reset"]["n"]:
        targets.append(("reset reaction p99 <= 20 ms", f"{results['reset']['p99']:.1f} ms",
                        results["reset"]["p99"] <= TARGET_RESET_P99))
    if "stop_frame" in results and results["stop_frame"]["n"]:
        targets.append(("SIGTERM -> timer stop p99 <= 30 ms", f"{results['stop_frame']['p99']:.1f} ms",
                        results["stop_frame"]["p99"] <= TARGET_STOP_FRAME_P99))
    for key in ("ack", "identification"):
        if key in ex and ex[key]["n"]:
            over = ex[key]["p99"] - ex[key]["floor_ms"] - CHUNK_GAP_MS
            targets.append((f"exchange ({key}) p99 - line - 50 ms gap <= 30 ms",
                            f"{over:.1f} ms (p99 {ex[key]['p99']:.1f})", over <= TARGET_EXCHANGE_OVERHEAD_P99))
    for key, name in (("stop_exit", "stop <= 1.5 s, responsive device"), ("hang_stop_exit", "stop <= 1.5 s, hanging check")):
        if key in results and results[key]["n"]:
            targets.append((name, f"max {results[key]['max']:.0f} ms", results[key]["max"] <= TARGET_STOP_MS))
    g = results.get("growth")
    if g:
        b, af, e, d = g["before"], g["after_reopens"], g["after"], g["delta"]
        lines.append(f"Growth over {g['check_cycles']} check cycles and {g['reopen_cycles']} port reopens ({g['seconds']:.0f} s)")
        lines.append(f"  {'':<22}{'before':>10}{'after reopens':>15}{'after all':>11}{'change':>9}")
        for k, name in (("fds", "descriptors"), ("threads", "threads"), ("rss_kb", "RSS kB"), ("peak_rss_kb", "peak RSS kB")):
            lines.append(f"  {name:<22}{b[k]:>10}{af[k]:>15}{e[k]:>11}{d[k]:>+9}")
        lines.append("")
        flat = d["fds"] == 0 and d["threads"] == 0 and d["rss_kb"] <= 128
        targets.append(("zero growth (fds, threads; RSS within 128 kB)",
                        f"{d['fds']:+} fds, {d['threads']:+} threads, {d['rss_kb']:+} kB", flat))
    if targets:
        lines.append("Targets")
        for name, value, ok in targets:
            lines.append(f"  {name:<48}{value:<28}{verdict(ok)}")
    m = results["machine"]
    lines.append("")
    lines.append(f"Machine: {m['nproc']} x {m['cpu']}, kernel {m['kernel']}, {m['date']}, "
                 f"load {' '.join(m['loadavg_at_start'])} at start")
    results["targets"] = [{"target": n, "value": v, "met": ok} for n, v, ok in targets]
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--native", help="native Release build directory")
    ap.add_argument("--mingw", help="MinGW build directory (the Wine part)")
    ap.add_argument("--work")
    ap.add_argument("--json", required=True)
    ap.add_argument("--idle-seconds", type=float, default=600)
    ap.add_argument("--default-seconds", type=float, default=600,
                    help="the default-periods window (a check every 180 s)")
    ap.add_argument("--warmup-seconds", type=float, default=20)
    ap.add_argument("--events", type=int, default=200, help="events per reaction-time figure")
    ap.add_argument("--hang-stops", type=int, default=20)
    ap.add_argument("--check-cycles", type=int, default=10000)
    ap.add_argument("--reopen-cycles", type=int, default=1000)
    ap.add_argument("--no-wine", action="store_true")
    ap.add_argument("--phases", default="idle,default,reset,stop,hang,exchange,growth")
    ap.add_argument("--report-only", action="store_true", help="print the table of an existing --json file")
    a = ap.parse_args()
    if a.report_only:
        with open(a.json) as f:
            print(report(json.load(f)))
        return
    if not a.native or not a.work:
        ap.error("--native and --work are needed")
    a.native = os.path.abspath(a.native)
    a.daemon = os.path.join(a.native, "qov_lumo_service")
    a.sim = os.path.join(a.native, "tools", "qov_device_sim")
    a.exchange = os.path.join(a.native, "bench", "qov_bench_exchange")
    if not a.mingw or not os.path.exists(os.path.join(a.mingw, "qov_lumo_service.exe")):
        a.no_wine = True
    else:
        a.mingw = os.path.abspath(a.mingw)
    work = os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    results = {"machine": machine(), "parameters": {
        "idle_seconds": a.idle_seconds, "warmup_seconds": a.warmup_seconds, "events": a.events,
        "hang_stops": a.hang_stops, "check_cycles": a.check_cycles, "reopen_cycles": a.reopen_cycles,
        "wine": not a.no_wine}}
    phases = {"idle": phase_idle, "default": phase_default, "reset": phase_reset, "stop": phase_stop, "hang": phase_hang,
              "exchange": phase_exchange, "growth": phase_growth}
    t0 = time.monotonic()
    for name in a.phases.split(","):
        load_before = loadavg()
        phases[name](a, work, results)
        results.setdefault("loadavg_by_phase", {})[name] = {"before": load_before, "after": loadavg()}
        with open(a.json, "w") as f:
            json.dump(results, f, indent=1)
    with open("/proc/loadavg") as f:
        results["machine"]["loadavg_at_end"] = f.read().split()[:3]
    results["machine"]["bench_seconds"] = round(time.monotonic() - t0)
    text = report(results)
    os.makedirs(os.path.dirname(os.path.abspath(a.json)), exist_ok=True)
    with open(a.json, "w") as f:
        json.dump(results, f, indent=1)
    print(text)
    print(f"\nJSON: {a.json}")


if __name__ == "__main__":
    main()
