"""Each figure measured side by side with its floor or reference, as rows
of the table."""
import re
import statistics
import subprocess
import threading
import time

import data
from targets import Running, frame, read_exactly

PONG = b'{"message":"Hello from Windows!","type":"pong"}'
SCALING_SIZES = (250, 500, 1000, 2000, 3000)


class Row:
    def __init__(self, figure, target, ours, reference, ratio, goal, met, runs):
        self.figure, self.target, self.ours, self.reference = figure, target, ours, reference
        self.ratio, self.goal, self.met, self.runs = ratio, goal, met, runs


def ms(seconds):
    return "%.2f ms" % (seconds * 1000)


def mib(kib):
    return "%.1f MiB" % (kib / 1024)


def interleaved(contenders, rounds, payload):
    """Median seconds of each running program over `rounds` requests, taken
    in turns so that the machine's changing load touches all alike, after
    one unmeasured request each."""
    times = [[] for _ in contenders]
    for round_number in range(rounds + 1):
        for host, samples in zip(contenders, times):
            seconds = host.request(frame(payload))[1]
            if round_number:
                samples.append(seconds)
    return [statistics.median(samples) for samples in times]


def start_on(storage, places):
    """Running programs, each on a storage file of `storage` laid out before
    it starts, so that our host has no change of its own to push."""
    for target, _ in places:
        target.reset_storage(storage)
    return [Running(target, program, running=True) for target, program in places]


def storage_requests(target, python, rounds):
    """setColors against the I/O floor and the Python host, its memory, and
    getStatus against the Python host, all on 1,000 templates."""
    storage = data.storage_text(1000)
    message = data.set_colors(1000)
    ours_at = (target, target.program("tolvanik_host"))
    floor_at = (target, target.program("io_floor"))
    python_at = (python, python.program("reference_host"))
    hosts = start_on(storage, [ours_at, floor_at, python_at])
    ours, floor, slow = interleaved(hosts, rounds, message)
    peak = hosts[0].peak_memory_kib()
    hosts[0].close()
    hosts[2].close()
    # A floor that skipped its writes would flatter nobody but itself.
    target.reset_storage(storage)
    hosts[1].request(frame(message))
    hosts[1].close()
    if any(read_or_none(target.storage_file(f)) != storage
           for f in ("storage.json", "storage.json.bak")):
        raise RuntimeError("the I/O floor did not leave the file and its backup in place")
    hosts = start_on(storage, [ours_at, python_at])
    status, slow_status = interleaved(hosts, rounds, data.GET_STATUS)
    for host in hosts:
        host.close()
    where = target.name
    floor_label = "I/O floor" + (" (.exe)" if target.wine else "")
    python_label = "Python host" + (" (native)" if target.wine else "")
    weight = len(storage) + len(message)
    return [
        Row("setColors 1,000x12, running host", where, ms(ours), "%s %s" % (floor_label, ms(floor)),
            ours / floor, "<= 2x", ours / floor <= 2, rounds),
        Row("setColors 1,000x12: Python / ours", where, ms(ours),
            "%s %s" % (python_label, ms(slow)), slow / ours, ">= 10x", slow / ours >= 10, rounds),
        Row("getStatus 1,000x12: Python / ours", where, ms(status),
            "%s %s" % (python_label, ms(slow_status)), slow_status / status, ">= 10x",
            slow_status / status >= 10, rounds),
        Row("peak memory in setColors / (document + message)", where, mib(peak),
            "bytes %.2f MB" % (weight / 1e6), peak * 1024 / weight, "<= 4x",
            peak * 1024 / weight <= 4, rounds),
    ]


def log_cost(target, rounds, per_host=3):
    """setColors and getStatus of our running host with its log on, over
    the same with the log off, on 1,000 templates. The two take turns, a
    fresh host each turn on a freshly laid out file, so that neither hears
    the other's writes; a host's first request is not measured."""
    storage = data.storage_text(1000)
    rows = []
    for name, payload in (("setColors", data.set_colors(1000)), ("getStatus", data.GET_STATUS)):
        times = {False: [], True: []}
        for _ in range(rounds):
            for log_on in (False, True):
                target.reset_storage(storage)
                host = Running(target, target.program("tolvanik_host"), running=True,
                               env=target.log_env() if log_on else None)
                host.request(frame(payload))
                times[log_on] += [host.request(frame(payload))[1] for _ in range(per_host)]
                host.close()
        off, on = statistics.median(times[False]), statistics.median(times[True])
        rows.append(Row("%s 1,000x12: log on / off" % name, target.name, ms(on),
                        "log off %s" % ms(off), on / off, "<= 1.05x", on / off <= 1.05,
                        "%dx%d" % (rounds, per_host)))
    return rows


def read_or_none(path):
    try:
        with open(path, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return None


def same_results(target, python):
    """Differences between our replies and files and the Python host's for
    the benchmark data; empty when every byte agrees."""
    storage = data.storage_text(1000)
    differences = []
    for name, payload in (("setColors", data.set_colors(1000)), ("getStatus", data.GET_STATUS)):
        results = []
        for where, program in ((target, target.program("tolvanik_host")),
                               (python, python.program("reference_host"))):
            where.reset_storage(storage)
            host = Running(where, program, running=True)
            reply, _ = host.request(frame(payload))
            host.close()
            results.append((reply, {file: read_or_none(where.storage_file(file))
                                    for file in ("storage.json", "storage.json.bak")}))
        if results[0][0] != results[1][0]:
            differences.append("%s reply" % name)
        for file in ("storage.json", "storage.json.bak"):
            if results[0][1][file] != results[1][1][file]:
                differences.append("%s %s" % (name, file))
    return differences


def scaling(target, rounds, per_block=3):
    """setColors time per template over the sizes, each against 1,000. One
    running host takes the sizes in turns, a block of requests per size and
    round; a block's first request, on the freshly laid out file, is not
    measured, as it also pays for settling that file."""
    texts = {size: (data.storage_text(size), data.set_colors(size)) for size in SCALING_SIZES}
    host = Running(target, target.program("tolvanik_host"), running=True)
    times = {size: [] for size in SCALING_SIZES}
    for _ in range(rounds):
        for size, (storage, message) in texts.items():
            # Laid out right after the host's previous write, inside the
            # quiet second in which it pushes no change.
            target.reset_storage(storage)
            host.request(frame(message))
            times[size] += [host.request(frame(message))[1] / size for _ in range(per_block)]
    host.close()
    per_template = {size: statistics.median(samples) for size, samples in times.items()}
    base = per_template[1000]
    return [Row("setColors per template, %s templates" % format(size, ","), target.name,
                "%.1f us" % (per_template[size] * 1e6), "at 1,000: %.1f us" % (base * 1e6),
                per_template[size] / base, "within 30%",
                0.7 <= per_template[size] / base <= 1.3, rounds * per_block)
            for size in SCALING_SIZES]


def burst_seconds(host, count):
    """Seconds per "ping" of one burst of `count` written at once."""
    expected = frame(PONG) * count
    start = time.perf_counter()
    writer = threading.Thread(target=host.send, args=(frame(data.PING) * count,))
    writer.start()
    got = read_exactly(host.child.stdout, len(expected))
    writer.join()
    if got != expected:
        raise RuntimeError("a ping burst was answered wrongly")
    return (time.perf_counter() - start) / count


def burst_medians(hosts, count, rounds):
    """Each running host's median seconds per message over `rounds` bursts of
    `count` pings, the hosts taking turns so that the machine's load falls
    on all alike; the hosts are closed after."""
    for host in hosts:
        host.request(frame(data.PING))
    times = [[burst_seconds(host, count) for host in hosts] for _ in range(rounds)]
    for host in hosts:
        host.close()
    return [statistics.median(column) for column in zip(*times)]


def pipelined(target, count, rounds, goal=2):
    """Our running host and the C loop host, a burst each in turns."""
    ours, floor = burst_medians([Running(target, target.program(name), running=True)
                                 for name in ("tolvanik_host", "minimal_loop_host")],
                                count, rounds)
    return [Row("pipelined ping, %s at once, per message" % format(count, ","), target.name,
                "%.1f us" % (ours * 1e6), "C loop host %.1f us" % (floor * 1e6), ours / floor,
                "<= %gx" % goal, ours / floor <= goal, "%dx%d" % (rounds, count))]


def flood(target, count, rounds):
    """Peak memory our running host adds while `count` pings written at once
    wait in its queue, over the bytes written; each round on a fresh host.
    The replies are read only once every ping is written: the host's reader
    has taken them all in by then while its main thread, blocked on a full
    output pipe, has answered few, so nearly the whole flood is queued at
    once whatever the machine's speed."""
    written = frame(data.PING) * count
    expected = frame(PONG) * count
    extra = []
    for _ in range(rounds):
        host = Running(target, target.program("tolvanik_host"), running=True)
        host.request(frame(data.PING))
        before = host.peak_memory_kib()
        host.send(written)
        if read_exactly(host.child.stdout, len(expected)) != expected:
            raise RuntimeError("a ping flood was answered wrongly")
        extra.append(host.peak_memory_kib() - before)
        host.close()
    peak = statistics.median(extra)
    return [Row("flood of %s pings: extra peak memory / bytes" % format(count, ","),
                target.name, mib(peak), "bytes %.2f MB" % (len(written) / 1e6),
                peak * 1024 / len(written), "<= 12x", peak * 1024 / len(written) <= 12, rounds)]


def one_shot(target, tools, runs):
    """The round trip tool's medians: ours, then the minimal C host."""
    command = [tools["round_trip_bench"], "--runs", str(runs)]
    if target.wine:
        command.append("--wine")
    command += [target.program("tolvanik_host"), target.program("minimal_host")]
    output = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    ours, floor = [float(m) for m in re.findall(r"median\s+([\d.]+) ms", output)][:2]
    return [Row("one-shot ping, start to exit", target.name, "%.2f ms" % ours,
                "minimal C host %.2f ms" % floor, ours / floor, "<= 1.2x", ours / floor <= 1.2,
                runs)]


def push_run(tools, program, tasklist, pushes, idle_seconds, wine):
    """Median push latency in ms and idle CPU in ms over idle_seconds."""
    command = [tools["push_latency"], "--pushes", str(pushes), "--idle-seconds",
               str(idle_seconds)] + (["--wine"] if wine else []) + [program, tasklist]
    output = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    latency = float(re.search(r"pushes\s+median\s+([\d.]+) ms", output).group(1))
    idle = float(re.search(r"([\d.]+) ms over \d+ idle s", output).group(1))
    return latency, idle


def push(target, native, tools, pushes, idle_seconds, turns=3):
    """Push latency of our host and the relay, in turns of a few pushes
    each, and our host's idle CPU, measured in its first turn."""
    ours, relay = [], []
    for turn in range(turns):
        latency, idle_ms = push_run(tools, target.program("tolvanik_host"),
                                    target.program("tasklist"), pushes // turns,
                                    idle_seconds if turn == 0 else 1, target.wine)
        ours.append(latency)
        if turn == 0:
            idle = idle_ms
        relay.append(push_run(tools, native.program("inotify_relay"), native.program("tasklist"),
                              pushes // turns, 1, False)[0])
    ours, relay = statistics.median(ours), statistics.median(relay)
    relay_label = "inotify relay" + (" (native)" if target.wine else "")
    return [
        Row("push latency, rename to colors frame", target.name, "%.2f ms" % ours,
            "%s %.2f ms" % (relay_label, relay), ours / relay, "<= 1.5x", ours / relay <= 1.5,
            "%dx%d" % (turns, pushes // turns)),
        Row("idle CPU in the event loop", target.name,
            "%.0f ms in %d s" % (idle, idle_seconds), "-", None, "0", idle == 0, 1),
    ]


def pipelined_log_cost(target, count, rounds, goal=3):
    """Our running host with its log on against the same with it off, a
    burst of `count` pings each in turns: the log's cost per message where
    it weighs most, every message a line."""
    hosts = [Running(target, target.program("tolvanik_host"), running=True, env=env)
             for env in (None, target.log_env())]
    off, on = burst_medians(hosts, count, rounds)
    return [Row("pipelined ping, %s at once: log on / off" % format(count, ","), target.name,
                "%.1f us" % (on * 1e6), "log off %.1f us" % (off * 1e6), on / off,
                "<= %gx" % goal, on / off <= goal, "%dx%d" % (rounds, count))]
