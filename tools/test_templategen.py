#!/usr/bin/env python3
"""Tests of the template geometry generator: projections against hand-computed cases, the floor
mirror, the underlap of shared edges, and the committed templates against the generator."""

import math
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import templategen as tg  # noqa: E402

ROOT = os.path.dirname(HERE)
TEMPLATES = os.path.join(ROOT, "data", "Templates")

KNOWN_TYPES = {"normal", "reflection", "roundrect", "disc", "discreflection", "shadow", "shade", "blurshade",
               "highlight", "blurhighlight", "roundrectshade", "roundrecthighlight", "customfile", "customcolor",
               "customcolorreflection"}
DIRECTIONS = {"leftdown", "lefttop", "righttop", "rightdown", "rightlefttopdown", "left", "top", "right"}


def read_ini(path):
    """Sections in file order as (name, {key: value}); our own small reader, not the program's."""
    sections = []
    with open(path) as fh:
        for line in fh:
            line = line.strip()
            if not line or line.startswith(";"):
                continue
            if line.startswith("["):
                sections.append((line[1:-1], {}))
            else:
                k, v = line.split("=", 1)
                sections[-1][1][k.strip()] = v.strip()
    return sections


def corners(keys):
    return [(int(keys[c + ".X"]), int(keys[c + ".Y"])) for c in "ABCD"]


class Projection(unittest.TestCase):
    def test_hand_computed_points(self):
        # Level camera 1000 mm in front of the origin, focal 36 mm on a 36 mm frame 800 px wide:
        # the image scale is 800 px per unit of x / depth.
        cam = tg.Camera(0, 0, 1000, focal=36, target=(0, 0, 0))
        self.assertEqual(cam.position, (0.0, 0.0, -1000.0))
        x, y = cam.project((100, 50, 0), 800)
        self.assertAlmostEqual(x, 80.0)
        self.assertAlmostEqual(y, -40.0)
        x, y = cam.project((100, 50, 1000), 800)  # twice as far: half the offset
        self.assertAlmostEqual(x, 40.0)
        self.assertAlmostEqual(y, -20.0)

    def test_yaw_quarter_turn(self):
        # Yaw 90: the camera stands at -x looking along +x; +z then lies to the viewer's left.
        cam = tg.Camera(90, 0, 1000, focal=36, target=(0, 0, 0))
        for a, b in zip(cam.position, (-1000.0, 0.0, 0.0)):
            self.assertAlmostEqual(a, b)
        x, y = cam.project((0, 0, 100), 800)
        self.assertAlmostEqual(x, -80.0)
        self.assertAlmostEqual(y, 0.0)

    def test_pitch_raises_the_camera_and_keeps_the_image_plane_upright(self):
        cam = tg.Camera(0, 30, 1000, focal=36, target=(0, 0, 0))
        self.assertAlmostEqual(cam.position[1], 500.0)
        self.assertAlmostEqual(cam.position[2], -1000.0 * math.cos(math.radians(30)))
        # A point at the camera's height projects onto the horizon (y = 0) at any depth.
        self.assertAlmostEqual(cam.project((10, 500, 300), 800)[1], 0.0)

    def test_face_square_to_the_camera_stays_a_rectangle(self):
        box = tg.Box(200, 300, 50, position=(-100, 0, 0), front="FRONT")
        for pitch in (0, 10, 25):
            cam = tg.Camera(0, pitch, 1500, target=(0, 150, 0))
            a, b, c, d = [cam.project(p, 800) for p in tg.face_named(box, "front").corners]
            self.assertAlmostEqual(a[1], b[1])
            self.assertAlmostEqual(c[1], d[1])
            self.assertAlmostEqual(a[0], d[0])
            self.assertAlmostEqual(b[0], c[0])
            # Centred and 200 wide at depth 1500 cos(pitch): 800 px x 200 / depth.
            depth = 1500 * math.cos(math.radians(pitch))
            self.assertAlmostEqual(b[0] - a[0], 50 / 36.0 * 800 * 200 / depth)

    def test_vertical_edges_stay_vertical_when_turned_and_raised(self):
        box = tg.Box(190, 235, 60, left="SIDE", front="FRONT", top="TOP")
        cam = tg.Camera(30, 20, 2000, target=(95, 117, 30))
        for f in box.faces():
            if f.name in ("front", "left"):
                a, b, c, d = [cam.project(p, 800) for p in f.corners]
                self.assertAlmostEqual(a[0], d[0])
                self.assertAlmostEqual(b[0], c[0])

    def test_only_faces_turned_to_the_camera_are_seen(self):
        box = tg.Box(190, 235, 60, left="L", right="R", front="F", top="T", back="K")
        seen = {f.name for f in box.faces() if tg.Camera(30, 14, 2000, target=(95, 117, 30)).sees(f)}
        self.assertEqual(seen, {"left", "front", "top"})
        seen = {f.name for f in box.faces() if tg.Camera(-30, 0, 2000, target=(95, 235, 30)).sees(f)}
        self.assertEqual(seen, {"right", "front"})  # level with the top: the top is edge-on, unseen


class FloorMirror(unittest.TestCase):
    def test_reflection_hangs_from_the_floor_line(self):
        box = tg.Box(100, 200, 40, front="FRONT")
        f = tg.face_named(box, "front")
        a, b, c, d = f.reflected_corners()
        # The mirrored picture's top-left is where the face's bottom-left meets the floor.
        self.assertEqual(a, f.corners[3])
        self.assertEqual(b, f.corners[2])
        self.assertEqual(c, (100.0, -200.0, 0.0))
        self.assertEqual(d, (0.0, -200.0, 0.0))

    def test_library_reflections_touch_their_faces(self):
        for scene in tg.library():
            items = scene.items()
            faces = [i for i in items if i["kind"] in ("normal", "customcolor")]
            for r in items:
                if r["kind"] not in ("reflection", "customcolorreflection"):
                    continue
                owner = [f for f in faces if tg.same(f["world"][3], r["world"][0]) and tg.same(f["world"][2], r["world"][1])]
                self.assertEqual(len(owner), 1, "%s: %s" % (scene.name, r["name"]))
                f = owner[0]
                # Same template points along the floor line, before any underlap.
                for p, q in ((r["corners"][0], f["corners"][3]), (r["corners"][1], f["corners"][2])):
                    self.assertAlmostEqual(p[0], q[0])
                    self.assertAlmostEqual(p[1], q[1])
                # The mirror image lies below the floor line.
                self.assertGreater(r["corners"][2][1], f["corners"][2][1])
                self.assertGreater(r["corners"][3][1], f["corners"][3][1])


class Lighting(unittest.TestCase):
    def test_grazed_faces_get_shade_and_the_lit_face_a_highlight(self):
        light = tg.LIGHT_DIRECTION  # towards the light: front, upper left
        self.assertLess(light[0], 0)
        self.assertGreater(light[1], 0)
        self.assertLess(light[2], 0)
        cam = tg.Camera(0, 10, 2000, target=(50, 50, 50))
        box = tg.Box(100, 100, 100, front="F", left="L", right="R", top="T")
        faces = {f.name: f for f in box.faces()}
        # cos = n . light: the right side turns away from the light, the front faces it.
        self.assertEqual([k for k, _ in tg.auto_overlays(faces["right"], cam, 800)], ["shade"])
        front = tg.auto_overlays(faces["front"], cam, 800)
        self.assertEqual([k for k, _ in front], ["highlight"])
        # Strongest where the light comes from: the front's top-left corner.
        self.assertEqual(front[0][1], "lefttop")
        self.assertEqual(tg.auto_overlays(tg.Face(faces["front"].corners, "disc", "DISC", "d"), cam, 800), [])


class Shadow(unittest.TestCase):
    def test_shadow_lies_on_the_floor_behind_the_front(self):
        box = tg.Box(190, 235, 60, left="SIDE", front="FRONT", top="TOP")
        faces = box.faces()
        poly = tg.shadow_polygon(faces, 30.0)
        self.assertEqual(len(poly), 4)
        for p in poly:
            self.assertAlmostEqual(p[1], 0.0)
        away = tg.vnorm((-tg.LIGHT_DIRECTION[0], 0.0, -tg.LIGHT_DIRECTION[2]))
        foot = [c for f in faces for c in f.corners if abs(c[1]) < 1e-9]
        nearest = min(tg.vdot(p, away) for p in foot)
        farthest = max(tg.vdot(p, away) for p in foot)
        # The shadow starts halfway into the footprint (so it never shows in front of the product)
        # and reaches beyond its back, away from the light.
        self.assertTrue(all(tg.vdot(p, away) > nearest + 1 for p in poly))
        self.assertAlmostEqual(max(tg.vdot(p, away) for p in poly), farthest + 30.0)


class Underlap(unittest.TestCase):
    @staticmethod
    def inside(p, quad):
        sign = 0
        for i in range(4):
            (x1, y1), (x2, y2) = quad[i], quad[(i + 1) % 4]
            cross = (x2 - x1) * (p[1] - y1) - (y2 - y1) * (p[0] - x1)
            if abs(cross) < 1e-6:
                continue
            s = 1 if cross > 0 else -1
            if sign and s != sign:
                return False
            sign = s
        return True

    @staticmethod
    def rounded(p):
        return (int(round(p[0])), int(round(p[1])))

    @classmethod
    def distance(cls, p, quad):
        """0 inside the convex quadrilateral, else the distance to its outline."""
        if cls.inside(p, quad):
            return 0.0
        best = float("inf")
        for i in range(4):
            (x1, y1), (x2, y2) = quad[i], quad[(i + 1) % 4]
            dx, dy = x2 - x1, y2 - y1
            t = max(0.0, min(1.0, ((p[0] - x1) * dx + (p[1] - y1) * dy) / (dx * dx + dy * dy)))
            best = min(best, math.hypot(p[0] - x1 - t * dx, p[1] - y1 - t * dy))
        return best

    def test_earlier_face_reaches_under_the_later_one(self):
        for scene in tg.library():
            with self.subTest(scene.name):
                self.check_scene(scene)

    def check_scene(self, scene):
        items = scene.items()
        before = [list(i["corners"]) for i in items]
        tg.underlap_edges(items, 1.5)
        for i, (it, old) in enumerate(zip(items, before)):
            for k in range(4):
                dist = math.hypot(it["corners"][k][0] - old[k][0], it["corners"][k][1] - old[k][1])
                if dist == 0:
                    continue
                self.assertLessEqual(dist, 1.5 / 0.2 + 1e-9)
                # The moved corner lies under a later quadrilateral that shares the corner, or
                # sticks out of it by no more than the allowed bump.
                # Judged on the integer corners the template holds.
                later = [[self.rounded(c) for c in before[j]] for j in range(i + 1, len(items))
                         if any(tg.same(it["world"][k], w) for w in items[j]["world"])]
                corner = self.rounded(it["corners"][k])
                self.assertLessEqual(min(self.distance(corner, quad) for quad in later), tg.BUMP + 1e-6,
                                     "%s corner %d" % (it["name"], k))
            # The quadrilateral only grows: its old outline stays inside the new one, so no notch
            # opens in the product's outline.
            for p in old:
                self.assertLessEqual(self.distance(p, it["corners"]), 1e-6, it["name"])
        # The last quadrilateral drawn is never moved.
        self.assertEqual(items[-1]["corners"], before[-1])

    def test_a_box_has_moved_corners(self):
        items = tg.library()[0].items()
        before = [list(i["corners"]) for i in items]
        tg.underlap_edges(items, 1.5)
        self.assertNotEqual([i["corners"] for i in items], before)


class Underlay(unittest.TestCase):
    """Faces whose reach tapers at an outline corner are drawn over an underlay."""

    def scene_items(self, scene):
        items = scene.items()
        before = [list(i["corners"]) for i in items]
        tg.underlap_edges(items, tg.UNDERLAP)
        return items, before

    def test_boxes_get_underlays(self):
        found = 0
        for scene in tg.library():
            items, before = self.scene_items(scene)
            for it, old in zip(items, before):
                if "underlay" not in it:
                    continue
                found += 1
                self.assertNotIn("reflection", it["kind"])
        self.assertGreaterEqual(found, 10)
        # In the template the underlay comes right before its face, same type and source, no overlays.
        layers = tg.library()[0].layers()
        kinds = [(l.kind, l.source) for l in layers]
        self.assertEqual(kinds.count(("normal", "FRONT")), 2)
        i = kinds.index(("normal", "FRONT"))
        self.assertEqual(kinds[i + 1], ("normal", "FRONT"))

    def test_reach_along_every_shared_edge(self):
        # Points just beyond a shared edge, inside the later face, must lie under a quadrilateral
        # (integer corners) of the earlier face all along the edge, but for its last few units at
        # the outline; judged independently of how the generator builds it.
        for scene in tg.library():
            items, before = self.scene_items(scene)
            for i, a in enumerate(items):
                if a["kind"] in tg.NO_UNDERLAP:
                    continue
                drawn = [[Underlap.rounded(c) for c in a["corners"]]]
                if "underlay" in a:
                    drawn.append([Underlap.rounded(c) for c in a["underlay"]])
                for k in range(4):
                    self.check_edge(scene, items, before, i, a, k, drawn)

    def check_edge(self, scene, items, before, i, a, k, drawn):
        p, q = a["world"][k], a["world"][(k + 1) % 4]
        later = [b for b in items[i + 1:] if b["kind"] not in tg.NO_UNDERLAP
                 and any(tg.same(p, w) for w in b["world"]) and any(tg.same(q, w) for w in b["world"])]
        if not later:
            return
        b = later[0]
        bq = before[next(j for j, it in enumerate(items) if it is b)]
        (x1, y1), (x2, y2) = before[i][k], before[i][(k + 1) % 4]
        length = math.hypot(x2 - x1, y2 - y1)
        n = ((y1 - y2) / length, (x2 - x1) / length)
        cx = sum(c[0] for c in bq) / 4.0
        cy = sum(c[1] for c in bq) / 4.0
        if (cx - x1) * n[0] + (cy - y1) * n[1] < 0:
            n = (-n[0], -n[1])
        full = tg.UNDERLAY_REACH if "underlay" in a else tg.UNDERLAP
        if "reflection" in a["kind"] and "reflection" in b["kind"]:
            return  # reflections fade out towards their outline; only the floor line matters
        ends = 12.0  # the last units at either end, at the outline, may taper
        steps = 40
        for s in range(steps + 1):
            t = s / steps
            if t * length < ends or (1 - t) * length < ends:
                continue
            on = (x1 + (x2 - x1) * t, y1 + (y2 - y1) * t)
            # Half the full reach, or a quarter across the later face there where it is thin or
            # ends in a sharp corner (a straight edge cannot follow it), less half a unit for the
            # rounding of the corners.
            need = 0.5 * min(full, 0.5 * self.width(on, n, bq)) - 0.5
            if need <= 0:
                continue
            pt = (on[0] + n[0] * need, on[1] + n[1] * need)
            self.assertEqual(min(Underlap.distance(pt, quad) for quad in drawn), 0.0,
                             "%s: %s under %s at %.2f" % (scene.name, a["name"], b["name"], t))

    @staticmethod
    def width(p, n, quad):
        """How far the ray from p along n runs inside the quadrilateral p lies on the edge of."""
        best = float("inf")
        for m in range(4):
            (x1, y1), (x2, y2) = quad[m], quad[(m + 1) % 4]
            ex, ey = x2 - x1, y2 - y1
            den = n[0] * ey - n[1] * ex
            if abs(den) < 1e-12:
                continue
            u = ((x1 - p[0]) * ey - (y1 - p[1]) * ex) / den  # along the ray
            v = ((x1 - p[0]) * n[1] - (y1 - p[1]) * n[0]) / den  # along the edge
            if u > 1e-6 and -1e-9 <= v <= 1 + 1e-9:
                best = min(best, u)
        return best

    def test_underlays_never_show(self):
        # Every point of an underlay's outline lies within BUMP of its own face or of a face drawn
        # after it, so nothing of it sticks out of the product or over an earlier face.
        for scene in tg.library():
            items, before = self.scene_items(scene)
            for i, a in enumerate(items):
                if "underlay" not in a:
                    continue
                cover = [[Underlap.rounded(c) for c in before[j]] for j in range(i, len(items))
                         if items[j]["kind"] not in tg.NO_UNDERLAP]
                quad = [Underlap.rounded(c) for c in a["underlay"]]
                for k in range(4):
                    (x1, y1), (x2, y2) = quad[k], quad[(k + 1) % 4]
                    for s in range(33):
                        pt = (x1 + (x2 - x1) * s / 32, y1 + (y2 - y1) * s / 32)
                        self.assertLessEqual(min(Underlap.distance(pt, c) for c in cover), tg.BUMP + 1e-9,
                                             "%s: %s" % (scene.name, a["name"]))
                # Convex, turning the same way as its face.
                def turns(q):
                    return [(q[(m + 1) % 4][0] - q[m][0]) * (q[(m + 2) % 4][1] - q[(m + 1) % 4][1])
                            - (q[(m + 1) % 4][1] - q[m][1]) * (q[(m + 2) % 4][0] - q[(m + 1) % 4][0])
                            for m in range(4)]
                face = turns(before[i])
                self.assertTrue(all(t * face[0] > 0 for t in turns(quad)), a["name"])


class Library(unittest.TestCase):
    def test_committed_templates_match_the_generator(self):
        scenes = tg.library()
        names = sorted(n for n in os.listdir(TEMPLATES) if not n.startswith("."))
        self.assertEqual(names, sorted(sc.name + ".ini" for sc in scenes))
        for sc in scenes:
            with open(os.path.join(TEMPLATES, sc.name + ".ini")) as fh:
                self.assertEqual(fh.read(), sc.ini_text(), sc.name)
        # The preview list and the documentation's template table are written with them.
        with open(os.path.join(HERE, "previews.txt")) as fh:
            self.assertEqual(fh.read(), tg.preview_list(scenes))
        with open(os.path.join(HERE, "docs.html.in")) as fh:
            skeleton = fh.read()
        with open(os.path.join(ROOT, "data", "Docs", "index.html")) as fh:
            self.assertEqual(fh.read(), tg.docs_page(scenes, skeleton))

    def test_library_size_order_and_layer_vocabulary(self):
        names = sorted(n for n in os.listdir(TEMPLATES) if not n.startswith("."))
        self.assertTrue(12 <= len(names) <= 15)
        self.assertEqual(names, sorted(names, key=lambda n: n.encode()))
        for i, n in enumerate(names, 1):
            self.assertTrue(n.startswith("%02d " % i), n)
            self.assertTrue(n.endswith(".ini"))
        types, directions, slots = set(), set(), set()
        for n in names:
            sections = read_ini(os.path.join(TEMPLATES, n))
            self.assertEqual(sections[0][0], "Image")
            w, h = int(sections[0][1]["width"]), int(sections[0][1]["height"])
            for name, keys in sections[1:]:
                self.assertIn("Layer", name)
                t = keys["type"]
                self.assertIn(t, KNOWN_TYPES, n)
                types.add(t)
                src = keys.get("source", "")
                if "shade" in t or "highlight" in t:
                    self.assertIn(src, DIRECTIONS, n)
                    directions.add(src)
                elif t in ("normal", "reflection", "roundrect", "disc", "discreflection"):
                    slots.add(src)
                elif t == "customfile":
                    self.assertTrue(os.path.isfile(os.path.join(ROOT, "data", "custom", src)), src)
                quad = corners(keys)
                # Faces stay in the frame; only reflections may run off its bottom.
                for x, y in quad:
                    self.assertTrue(0 <= x <= w, (n, name))
                    self.assertTrue(0 <= y, (n, name))
                    if "reflection" not in t and not t.startswith("blur"):
                        self.assertLessEqual(y, h, (n, name))
        self.assertEqual(types, KNOWN_TYPES)
        self.assertEqual(directions, DIRECTIONS)
        self.assertEqual(slots, {"FRONT", "SIDE", "TOP", "DISC", "FRONT2", "SIDE2", "TOP2", "DISC2"})

    def test_every_template_has_preview_artwork(self):
        with open(os.path.join(HERE, "previews.txt")) as fh:
            lines = [l.rstrip("\n") for l in fh if l.strip()]
        self.assertEqual(len(lines), len(tg.library()))
        for line in lines:
            name, pairs = line.split("|")
            self.assertTrue(os.path.isfile(os.path.join(TEMPLATES, name + ".ini")), name)
            for pair in pairs.split(","):
                slot, path = pair.split("=")
                self.assertTrue(os.path.isfile(os.path.join(ROOT, path)), path)


if __name__ == "__main__":
    unittest.main()
