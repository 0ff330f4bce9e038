#!/usr/bin/env python3
"""A simulated charger bench for Korvo's tests and demonstrations: a power supply feeding the
AC-adapter input (answers as a Rigol DP832) and an electronic load on the battery side (answers
as a one-channel Rigol DP711: libsigrok 0.5.2's scpi-pps driver has no electronic-load profile)
on local TCP ports, in SCPI over raw TCP, as libsigrok's scpi-pps driver expects them with
conn=tcp-raw/127.0.0.1/PORT.

Their readings follow the simulated charger: the same scenario file as the simulated board
([Simulator] Scenario=FILE), counted from --start (seconds since the epoch, default: when this
program starts; scripts/run.sh starts both at once). Charge current flows while the board
charges (Charging, AC present, battery present, not hot or cold, no thermal shutdown); the
supply's current follows the input current the charge draws; with the AC adapter pulled both
are zero.

Test faults: --garbage answers measurements with text that is no number, --stall-after N stops
answering after N measurements (the connection stays open), --drop-after N closes the
connections and the ports after N measurements.

Only the Python 3 standard library; listens on 127.0.0.1 only. Prints "ready PSU_PORT LOAD_PORT"
when both ports listen (--port 0 chooses free ones).
"""
import argparse
import socket
import socketserver
import sys
import threading
import time

KEYS = {"acpresent": "AcPresent", "batterypresent": "BatteryPresent", "charging": "Charging",
        "thermalshutdown": "ThermalShutdown", "batterytemperature": "BatteryTemperature"}


def load_scenario(path):
    steps = []
    if not path:
        return steps
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line[0] in "#;":
                continue
            try:
                seconds, assignment = line.split(None, 1)
                key, value = assignment.strip().split("=", 1)
                steps.append((float(seconds), KEYS[key.strip().lower()], value.strip().lower()))
            except (ValueError, KeyError):
                sys.exit(f"fake-bench: {path}, line {n}: not SECONDS KEY=VALUE")
    return steps


class Bench:
    def __init__(self, args):
        self.args = args
        self.steps = load_scenario(args.scenario)
        self.start = args.start if args.start is not None else time.time()
        self.lock = threading.Lock()
        self.measurements = 0
        self.stopping = threading.Event()

    def conditions(self):
        c = {"AcPresent": "1", "BatteryPresent": "1", "Charging": "1", "ThermalShutdown": "0",
             "BatteryTemperature": "normal"}
        elapsed = time.time() - self.start
        for at, key, value in self.steps:
            if at <= elapsed:
                c[key] = value
        return c

    def charging(self, c):
        return (c["Charging"] == "1" and c["AcPresent"] == "1" and c["BatteryPresent"] == "1"
                and c["ThermalShutdown"] == "0" and c["BatteryTemperature"] == "normal")

    def reading(self, instrument, channel, quantity):
        """Volts, amperes, watts of one output."""
        a = self.args
        c = self.conditions()
        charge_a = a.charge_ma / 1000.0 if self.charging(c) else 0.0
        battery_v = a.battery_mv / 1000.0 if c["BatteryPresent"] == "1" else 0.0
        if instrument == "psu":
            if channel != "1":
                v, i = 0.0, 0.0
            else:
                v = a.adapter_mv / 1000.0
                # What the charge draws from the adapter, plus the board's own supply.
                i = (battery_v * charge_a / a.efficiency / v + a.quiescent_ma / 1000.0
                     if c["AcPresent"] == "1" else 0.0)
        else:
            v, i = battery_v, charge_a
        return {"VOLT": v, "CURR": i, "POWE": v * i}[quantity]


def make_handler(bench, instrument, idn, channels):
    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            selected = "1"
            for raw in self.rfile:
                if bench.stopping.is_set():
                    return
                for command in raw.decode("ascii", "replace").strip().split(";"):
                    answer = self.answer(command.strip(), selected)
                    if isinstance(answer, tuple):  # a channel selection
                        selected = answer[0]
                        continue
                    if answer is None:
                        continue
                    if answer is False:  # stalled: never answers, keeps the connection
                        bench.stopping.wait()
                        return
                    self.wfile.write((answer + "\n").encode("ascii"))
                    self.wfile.flush()

        def answer(self, command, selected):
            upper = command.upper()
            if upper == "*IDN?":
                return idn
            if upper.startswith(":INST:NSEL ") or upper.startswith("INST:NSEL "):
                ch = command.split()[-1]
                return (ch if ch in channels else selected,)
            if upper.startswith(":MEAS:") and upper.endswith("?"):
                with bench.lock:
                    bench.measurements += 1
                    n = bench.measurements
                a = bench.args
                if a.drop_after is not None and n > a.drop_after:
                    bench.drop()
                    return False
                if a.stall_after is not None and n > a.stall_after:
                    return False
                if a.garbage:
                    return "#garbage!"
                quantity = upper[len(":MEAS:"):-1]
                if quantity not in ("VOLT", "CURR", "POWE"):
                    return "0"
                return "%.4f" % bench.reading(instrument, selected, quantity)
            if not upper.endswith("?"):
                return None  # settings and SYST:REMOTE/LOCAL: nothing to answer
            if upper.startswith(":OUTP:MODE"):
                return "CV"
            if upper.startswith(":OUTP"):
                return "ON" if "OVP" not in upper and "OCP" not in upper else "OFF"
            if "OTP" in upper or "BEEP" in upper:
                return "OFF"
            return "0"

    return Handler


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--port", type=int, default=5555, help="the supply's port (load: the next)")
    p.add_argument("--load-port", type=int, help="the load's port (default: --port + 1)")
    p.add_argument("--scenario", help="the simulated board's scenario file")
    p.add_argument("--start", type=float, help="scenario time 0, seconds since the epoch")
    p.add_argument("--charge-ma", type=float, default=2048)
    p.add_argument("--battery-mv", type=float, default=15200)
    p.add_argument("--adapter-mv", type=float, default=19000)
    p.add_argument("--efficiency", type=float, default=0.92)
    p.add_argument("--quiescent-ma", type=float, default=12)
    p.add_argument("--garbage", action="store_true")
    p.add_argument("--stall-after", type=int)
    p.add_argument("--drop-after", type=int)
    args = p.parse_args()
    bench = Bench(args)
    load_port = args.load_port if args.load_port is not None else (
        args.port + 1 if args.port else 0)
    servers = [
        Server(("127.0.0.1", args.port), make_handler(
            bench, "psu", "RIGOL TECHNOLOGIES,DP832,DP8A000001,00.01.14", ("1", "2", "3"))),
        Server(("127.0.0.1", load_port), make_handler(
            bench, "load", "RIGOL TECHNOLOGIES,DP711,DP7A000002,00.01.05", ("1",))),
    ]

    def drop():
        if not bench.stopping.is_set():
            bench.stopping.set()
            for s in servers:
                threading.Thread(target=s.shutdown, daemon=True).start()
    bench.drop = drop
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for t in threads:
        t.start()
    print("ready %d %d" % tuple(s.server_address[1] for s in servers), flush=True)
    try:
        while any(t.is_alive() for t in threads):
            time.sleep(0.2)
    except KeyboardInterrupt:
        pass
    for s in servers:
        s.server_close()


if __name__ == "__main__":
    main()
