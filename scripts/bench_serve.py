#!/usr/bin/env python3
"""The render service against the batch on the same jobs (template 1, the example box artwork,
800 x 600 JPEG out), loopback only, bounded in count:
  - throughput: N requests from 8 concurrent client processes against one --batch run of N rows (same
    process count of renders at once), RUNS times, medians with the lowest and highest;
  - latency: p50 and p99 of those requests against the median of a single quirlon-render run;
  - memory: the service's resident size after the first 100 and after 1,000 requests.
Usage: scripts/bench_serve.py BUILD [RUNS] [N]"""
import http.client
import shutil
import multiprocessing
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import uuid

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
count = int(sys.argv[3]) if len(sys.argv) > 3 else 200
clients = 8
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
render = os.path.abspath(os.path.join(build, "cli", "quirlon-render"))
serve = os.path.abspath(os.path.join(build, "cli", "quirlon-serve"))
art = {slot: os.path.join(root, "examples", f"box-{slot}.jpg") for slot in ("front", "side", "top")}
fields = {"template": "1", "width": "800", "height": "600", "format": "jpeg"}


def multipart():
    boundary = uuid.uuid4().hex
    body = b""
    for k, v in fields.items():
        body += f'--{boundary}\r\nContent-Disposition: form-data; name="{k}"\r\n\r\n{v}\r\n'.encode()
    for slot, path in art.items():
        with open(path, "rb") as f:
            data = f.read()
        body += (f'--{boundary}\r\nContent-Disposition: form-data; name="{slot}"; filename="{slot}.jpg"\r\n'
                 f"Content-Type: image/jpeg\r\n\r\n").encode() + data + b"\r\n"
    body += f"--{boundary}--\r\n".encode()
    return body, f"multipart/form-data; boundary={boundary}"


BODY, TYPE = multipart()


def start_server():
    proc = subprocess.Popen([serve, "--listen", "127.0.0.1:0"], stderr=subprocess.PIPE, text=True)
    line = proc.stderr.readline()
    port = int(line.split("http://127.0.0.1:")[1].split("/")[0])
    threading.Thread(target=lambda: proc.stderr.read(), daemon=True).start()
    return proc, port


def client(job):
    """One client: `count` requests on its own keep-alive connection; its latencies and statuses."""
    port, count = job
    latencies, statuses = [], {}
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    for _ in range(count):
        t0 = time.perf_counter()
        conn.request("POST", "/render", BODY, {"Content-Type": TYPE})
        res = conn.getresponse()
        res.read()
        latencies.append(time.perf_counter() - t0)
        statuses[res.status] = statuses.get(res.status, 0) + 1
    conn.close()
    return latencies, statuses


def load(port, n):
    """n requests from `clients` client processes (threads would queue for Python's one interpreter
    lock and leave the service waiting for them); jobs per second, latencies and statuses."""
    shares = [n // clients + (1 if i < n % clients else 0) for i in range(clients)]
    with multiprocessing.Pool(clients) as pool:
        t0 = time.perf_counter()
        results = pool.map(client, [(port, k) for k in shares])
        elapsed = time.perf_counter() - t0
    latencies, statuses = [], {}
    for lat, st in results:
        latencies += lat
        for k, v in st.items():
            statuses[k] = statuses.get(k, 0) + v
    return statuses.get(200, 0) / elapsed, latencies, statuses


WRK_SCRIPT = """
local f = io.open(os.getenv("QUIRLON_BODY"), "rb")
wrk.body = f:read("*a")
f:close()
wrk.method = "POST"
wrk.headers["Content-Type"] = os.getenv("QUIRLON_TYPE")
"""


def wrk_seconds(text):
    """A wrk duration ("850.12us", "20.31ms", "1.20s", "1.02m") in seconds."""
    for unit, scale in (("us", 1e-6), ("ms", 1e-3), ("m", 60.0), ("s", 1.0)):
        if text.endswith(unit):
            return float(text[:-len(unit)]) * scale
    return float(text)


def wrk_load(work, port, seconds):
    """wrk, a load generator in C (Python clients took two thirds of the two cores and left the
    service idle), with `clients` connections on two threads for `seconds`: jobs per second, the
    50th and 99th percentile latencies in seconds, and the count of answers other than 2xx/3xx."""
    body, script = os.path.join(work, "body"), os.path.join(work, "post.lua")
    with open(body, "wb") as f:
        f.write(BODY)
    with open(script, "w") as f:
        f.write(WRK_SCRIPT)
    out = subprocess.run(["wrk", "-t2", f"-c{clients}", f"-d{seconds}s", "--latency", "-s", script,
                          f"http://127.0.0.1:{port}/render"], check=True, capture_output=True, text=True,
                         env=dict(os.environ, QUIRLON_BODY=body, QUIRLON_TYPE=TYPE)).stdout
    rate, p50, p99, bad = 0.0, 0.0, 0.0, 0
    for line in out.splitlines():
        words = line.split()
        if line.startswith("Requests/sec:"):
            rate = float(words[1])
        elif len(words) == 2 and words[0] == "50%":
            p50 = wrk_seconds(words[1])
        elif len(words) == 2 and words[0] == "99%":
            p99 = wrk_seconds(words[1])
        elif "Non-2xx" in line:
            bad = int(words[-1])
    return rate, p50, p99, bad


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def batch_rate(work, n):
    with open(os.path.join(work, "jobs.csv"), "w") as f:
        f.write("template,front,side,top,width,height,output\n")
        for i in range(n):
            f.write(f"1,{art['front']},{art['side']},{art['top']},800,600,out/shot{i}.jpg\n")
    os.makedirs(os.path.join(work, "out"), exist_ok=True)
    t0 = time.perf_counter()
    subprocess.run([render, "--batch", "jobs.csv", "--quiet"], cwd=work, check=True)
    return n / (time.perf_counter() - t0)


def single_seconds(work, repeats=9):
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        subprocess.run([render, "-t", "1", "--quiet", "--width", "800", "--height", "600"] +
                       [a for slot, p in art.items() for a in ("--source", f"{slot}={p}")] + ["-o", "one.jpg"],
                       cwd=work, check=True)
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def span(values, fmt="{:.2f}"):
    values = sorted(values)
    return f"{fmt.format(statistics.median(values))} ({fmt.format(values[0])}..{fmt.format(values[-1])})"


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


with tempfile.TemporaryDirectory() as work:
    proc, port = start_server()
    try:
        load(port, 2 * clients)  # warm up: templates parsed, threads started
        service, batch, ratios, p50s, p99s, singles, bad = [], [], [], [], [], [], {}
        for _ in range(runs):
            if shutil.which("wrk"):
                s, p50, p99, other = wrk_load(work, port, max(2, count // 100))
                statuses = {"other than 2xx": other} if other else {}
            else:
                s, lat, statuses = load(port, count)
                p50, p99 = percentile(lat, 50), percentile(lat, 99)
            b = batch_rate(work, count)
            one = single_seconds(work)
            service.append(s)
            batch.append(b)
            ratios.append(s / b)
            p50s.append(p50 / one)
            p99s.append(p99 / one)
            singles.append(one * 1000)
            for k, v in statuses.items():
                if k != 200:
                    bad[k] = bad.get(k, 0) + v
        # Memory over 1,000 requests.
        _, _, statuses = load(port, 100)
        after100 = rss_kib(proc.pid)
        _, _, statuses2 = load(port, 900)
        after1000 = rss_kib(proc.pid)
    finally:
        proc.terminate()
        proc.wait()
    generator = f"wrk for {max(2, count // 100)} s" if shutil.which("wrk") else f"{count} requests from Python"
    print(f"{count} jobs (template 1, example box art uploaded, 800 x 600 JPEG), {os.cpu_count()} cores, "
          f"{clients} clients ({generator}), {runs} runs: median (lowest..highest)")
    print(f"  service               {span(service)} jobs/s")
    print(f"  --batch               {span(batch)} jobs/s")
    print(f"  service / batch       {span(ratios)}   (goal >= 0.90)")
    print(f"  single quirlon-render {span(singles, '{:.0f}')} ms")
    print(f"  p50 / single run      {span(p50s)}   (goal <= 1.5)")
    print(f"  p99 / single run      {span(p99s)}   (goal <= 4)")
    print(f"  statuses other than 200: {bad or 'none'}")
    print(f"  resident after 100 requests {after100 / 1024:.1f} MiB, after 1,000 {after1000 / 1024:.1f} MiB "
          f"({100 * (after1000 / after100 - 1):+.1f} %, goal <= +10 %)")
