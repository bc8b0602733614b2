"""Driver of `make bench-peers` (see scripts/bench-peers): times the peers and quirlon on the same
box shot and building blocks, and prints every goal as a ratio measured in this one run.
With --pillow-batch it is instead the Pillow + numpy peer of `make bench-batch` (scripts/bench-batch)."""
import argparse
import csv
import json
import time
import os
import statistics
import subprocess
import sys
import tempfile


def stats(t):
    return {"min": min(t), "median": statistics.median(t), "max": max(t), "n": len(t)}


def fmt(s):
    return f"{s['median']:8.1f} ms ({s['min']:.1f}-{s['max']:.1f}, n{s['n']})"


ROWS = []


def goal(name, ours, peer, peer_name, limit=None, at_least=None):
    """ours / peer, checked against limit (ratio <= limit) or at_least (peer / ours >= at_least)."""
    ratio = ours["median"] / peer["median"]
    if limit is not None:
        verdict = "met" if ratio <= limit else "MISSED"
        target = f"goal <= {limit:g} x"
        shown = f"{ratio:6.3f} x"
    else:
        speedup = peer["median"] / ours["median"]
        verdict = "met" if speedup >= at_least else "MISSED"
        target = f"goal >= {at_least:g} x faster"
        shown = f"{speedup:6.2f} x faster"
    line = (f"{name:46s} quirlon {fmt(ours)} | {peer_name} {fmt(peer)} | {shown}  {target}: {verdict}")
    ROWS.append(line)
    print(line, flush=True)


def pillow_batch(batch_file, peers):
    """The rows of a batch file (columns front, side, output; the front a picture, the side a colour) as
    a Pillow + numpy script over a catalogue would run them: a loop that per row opens the cover,
    renders the peer's box shot at 800 x 600 and saves it by the output's name: JPEG at quality 90 (as
    ours), or PNG at zlib level 9. One process on one
    core (Pillow does not thread these operations). Prints the jobs per second of the loop, the
    interpreter's start and imports not counted."""
    sys.path.insert(0, peers)
    from PIL import Image
    import pipeline_pil
    from common import SIDE

    folder = os.path.dirname(os.path.abspath(batch_file))
    at = lambda p: p if os.path.isabs(p) else os.path.join(folder, p)
    rows = list(csv.DictReader(open(batch_file, newline="")))
    start = time.perf_counter()
    for row in rows:
        cover = Image.open(at(row["front"]))
        cover.load()
        side = Image.new("RGB", SIDE, row["side"])
        shot = pipeline_pil.render(800, 600, cover, side)
        if row["output"].lower().endswith((".jpg", ".jpeg")):
            shot.convert("RGB").save(at(row["output"]), "JPEG", quality=90)
        else:
            with open(at(row["output"]), "wb") as f:
                f.write(pipeline_pil.encode_png(shot, 9))
    print(f"{len(rows) / (time.perf_counter() - start):.4f}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work")
    ap.add_argument("--render")
    ap.add_argument("--bench")
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--pillow-batch", metavar="BATCH_FILE")
    ap.add_argument("--peers", help="the peer pipelines, with --pillow-batch")
    a = ap.parse_args()
    if a.pillow_batch:
        if not a.peers:
            ap.error("--pillow-batch needs --peers")
        return pillow_batch(a.pillow_batch, a.peers)
    if not (a.work and a.render and a.bench):
        ap.error("--work, --render and --bench are needed")
    work = os.path.abspath(a.work)
    peers = os.path.join(work, "peers")
    sys.path.insert(0, peers)
    os.chdir(peers)
    import numpy as np
    import cv2
    from PIL import Image, ImageFilter
    import gen_inputs
    import pipeline_im
    import pipeline_pil
    from common import IN, homography, rect, time_fn, warp_quad
    from hyper import hyperfine

    # Inputs: the peers' cover and side artwork (PNG), and BMP copies for the decode-free render.
    for name, (w, h), seed in (("cover", (1000, 1400), 1), ("side", (300, 1400), 2)):
        im = gen_inputs.artwork(w, h, seed)
        im.save(f"{IN}/{name}.png")
        im.save(f"{IN}/{name}.bmp")
    cover_png, side_png = f"{IN}/cover.png", f"{IN}/side.png"
    templates = os.path.join(work, "templates")
    env = dict(os.environ, QUIRLON_BENCH_TEMPLATES=templates, QUIRLON_BENCH_COVER=f"{IN}/cover.bmp",
               QUIRLON_BENCH_SIDE=f"{IN}/side.bmp")

    def ours_whole(w, h, effort="default"):
        out = os.path.join(work, f"quirlon_{w}x{h}.png")
        return hyperfine([a.render, "--templates", templates, "--template", "1", "--source", f"front={cover_png}",
                          "--source", f"side={side_png}", "--width", str(w), "--height", str(h), "--output", out,
                          "--png-effort", effort],
                         runs=a.runs)

    # Our building blocks through Google Benchmark, repeated for medians and spreads.
    js = os.path.join(work, "bench_peers.json")
    subprocess.run([a.bench, f"--benchmark_repetitions={a.runs}", "--benchmark_format=console",
                    f"--benchmark_out={js}", "--benchmark_out_format=json"], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    runs = {}
    counters = {}
    for b in json.load(open(js))["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        unit = {"ms": 1.0, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b["time_unit"]]
        runs.setdefault(b["run_name"], []).append(b["real_time"] * unit)
        if "bytes" in b:
            counters[b["run_name"]] = b["bytes"]
    q = {k: stats(v) for k, v in runs.items()}

    print("\n== whole box shot: load sources, render, save PNG at the default effort")
    cover_img, side_img = pipeline_pil.load_arts()
    for w, h in ((2048, 1536), (800, 600)):
        ours = ours_whole(w, h)
        pil = time_fn(lambda: pipeline_pil.whole(w, h), runs=a.runs)
        im_out = os.path.join(work, f"im_{w}x{h}.png")
        im = hyperfine(pipeline_im.command(w, h, "bilinear", out=im_out), runs=a.runs)
        big = w == 2048
        goal(f"whole {w}x{h} vs Pillow+numpy", ours, pil, "Pillow+numpy", limit=0.4 if big else 0.5)
        goal(f"whole {w}x{h} vs ImageMagick", ours, im, "ImageMagick ", limit=0.2 if big else 0.3)
        if big:
            goal(f"whole {w}x{h} --png-effort fast vs Pillow+numpy", ours_whole(w, h, "fast"), pil, "Pillow+numpy",
                 limit=0.25)

    # The share of system time in the process time of the 800 x 600 whole box shot, from the
    # child's resource usage as /usr/bin/time reads it (wait4), over many runs: a short run's system
    # time is mostly first touches of fresh pages, and the machine's state moves it from run to run.
    shares = []
    cmd = [a.render, "--templates", templates, "--template", "1", "--source", f"front={cover_png}",
           "--source", f"side={side_png}", "--width", "800", "--height", "600",
           "--output", os.path.join(work, "quirlon_share.png")]
    for _ in range(max(4 * a.runs, 20)):
        child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if status != 0:
            raise SystemExit("quirlon-render failed on the whole box shot")
        shares.append(100.0 * usage.ru_stime / (usage.ru_utime + usage.ru_stime))
    share = stats(shares)
    line = (f"{'system time, whole 800x600 (of process time)':46s} {share['median']:5.1f} % "
            f"({share['min']:.1f}-{share['max']:.1f}, n{share['n']})  goal <= 15 %: "
            f"{'met' if share['median'] <= 15 else 'MISSED'}")
    ROWS.append(line)
    print(line, flush=True)

    print("\n== render alone (no decode, no file)")
    for w, h in ((2048, 1536), (800, 600)):
        pil = time_fn(lambda: pipeline_pil.render(w, h, cover_img, side_img), runs=a.runs)
        goal(f"render {w}x{h} vs Pillow+numpy", q[f"BM_RenderScene/{w}/{h}/real_time"], pil, "Pillow+numpy", limit=0.5)
        goal(f"render {w}x{h} --sampling exact vs Pillow+numpy", q[f"BM_RenderSceneExact/{w}/{h}/real_time"], pil,
             "Pillow+numpy", limit=0.5)
    r800 = q["BM_RenderScene/800/600/real_time"]
    print(f"{'render 800x600, absolute':46s} quirlon {fmt(r800)}")
    ROWS.append(f"render 800x600 absolute: {fmt(r800)}")

    print("\n== building blocks")
    cover_rgba = Image.open(cover_png).convert("RGBA")
    cover_np = np.asarray(cover_rgba)
    m = cv2.getPerspectiveTransform(np.float32(rect(1000, 1400)), np.float32(warp_quad(2048, 2048)))
    warp = lambda: cv2.warpPerspective(cover_np, m, (2048, 2048), flags=cv2.INTER_NEAREST,
                                       borderMode=cv2.BORDER_CONSTANT, borderValue=(0, 0, 0, 0))
    cv_default = time_fn(warp, runs=a.runs)
    goal("transform face 2048x2048 vs OpenCV nearest", q["BM_TransformFace/real_time"], cv_default,
         f"OpenCV {cv2.getNumThreads()}thr", limit=1.5)

    hinv = homography(warp_quad(2048, 2048), rect(1000, 1400))
    canvas = cover_rgba.transform((2048, 2048), Image.PERSPECTIVE, tuple((hinv / hinv[2, 2]).ravel()[:8]),
                                  Image.BILINEAR)
    blur = time_fn(lambda: canvas.filter(ImageFilter.GaussianBlur(25)), runs=a.runs)
    goal("ExpBlur r25 2048x2048 vs Pillow GaussianBlur 25", q["BM_ExpBlur2048/real_time"], blur, "Pillow      ",
         limit=0.1)

    png, z = q["BM_PngSave2048/real_time"], q["BM_ZlibOneStream2048/real_time"]
    goal("PNG default save 2048x1536 vs one zlib L9 stream", png, z, "zlib 1 strm ", at_least=5)
    pb, zb = counters.get("BM_PngSave2048/real_time", 0), counters.get("BM_ZlibOneStream2048/real_time", 0)
    if zb:
        line = f"{'PNG size vs one zlib stream':46s} {pb:.0f} B vs {zb:.0f} B: {100 * (pb / zb - 1):+.2f} %  goal <= 0 %: " \
               + ("met" if pb <= zb else "MISSED")
        ROWS.append(line)
        print(line)
    for effort in ("Fast", "Small"):
        name = f"BM_PngSave2048{effort}/real_time"
        if name in q:
            line = (f"{'PNG ' + effort.lower() + ' save 2048x1536':46s} quirlon {fmt(q[name])}, "
                    f"{counters.get(name, 0):.0f} B ({100 * (counters.get(name, 0) / zb - 1):+.2f} % vs zlib L9)")
            ROWS.append(line)
            print(line)

    goal("preview repaint 297x297 vs 2048x2048 render", q["BM_PreviewRepaintAfterRender/real_time"],
         q["BM_RenderScene/2048/2048/real_time"], "render      ", limit=0.25)

    # Peak memory of a 2048 x 2048 render with 15 layers (the scene's layers repeated), in canvases.
    scene = open(os.path.join(templates, "scene.ini")).read()
    head, body = scene.split("[ShadowLayer]", 1)
    layers = []
    for chunk in ("[ShadowLayer]" + body).split("\n["):
        layers.append(chunk if chunk.startswith("[") else "[" + chunk)
    many = head
    for i in range(15):
        text = layers[i % len(layers)]
        name, rest = text.split("]", 1)
        many += f"[Layer{i}]" + rest.rstrip("\n") + "\n\n"
    def peak_rss_mib(d, w, h):
        # Through /usr/bin/time: a child forked from this (large) Python would inherit its high-water mark.
        out = os.path.join(d, "many.png")
        r = subprocess.run(["/usr/bin/time", "-f", "%M", a.render, "--templates", d, "--template", "1",
                            "--source", f"front={cover_png}", "--source", f"side={side_png}", "--width", str(w),
                            "--height", str(h), "--output", out], capture_output=True, text=True)
        if r.returncode != 0:
            raise SystemExit("quirlon-render failed on the 15-layer template: " + r.stderr)
        return int(r.stderr.strip().splitlines()[-1]) / 1024

    with tempfile.TemporaryDirectory() as d:
        open(os.path.join(d, "many.ini"), "w").write(many)
        peak = peak_rss_mib(d, 2048, 2048)
        # The process without canvases: the same template and pictures at 32 x 32.
        base = peak_rss_mib(d, 32, 32)
    canvas_mib = 2048 * 2048 * 4 / 2**20
    line = (f"{'peak memory, 2048x2048 with 15 layers':46s} {peak:.0f} MiB = {peak / canvas_mib:.1f} canvases; "
            f"{peak - base:.0f} MiB = {(peak - base) / canvas_mib:.1f} canvases above the 32x32 run "
            f"(goal <= 19): " + ("met" if (peak - base) / canvas_mib <= 19 else "MISSED"))
    ROWS.append(line)
    print(line)

    print("\n== summary")
    for r in ROWS:
        print(r)


if __name__ == "__main__":
    main()
