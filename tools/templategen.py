#!/usr/bin/env python3
"""Template geometry generator.

Products are described in 3-D (millimetres; x to the right, y up, z away from the viewer, the
floor at y = 0), seen by a camera with yaw, pitch, distance and focal length, and projected to
the integer corners A, B, C, D of every visible face in the template's coordinate space (x to
the right, y down). For each face standing on the floor it also emits the mirrored face below
the floor line, a soft floor shadow, and shade or highlight overlays on faces the light does not
hit square on.

The camera keeps its image plane upright (a shift lens): pitch raises the camera so the top of a
product shows, but vertical edges stay vertical and parallel, as in a product photograph.

Run by hand:  python3 tools/templategen.py [--out data/Templates] [--previews tools/previews.txt]
The output is committed; the templates are plain INI files that may be touched up afterwards.
Standard library only.
"""

import argparse
from functools import reduce
import math
import os
import sys

# ---------------------------------------------------------------------------------------------
# Vectors


def vsub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def vadd(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def vmul(a, s):
    return (a[0] * s, a[1] * s, a[2] * s)


def vdot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def vcross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def vnorm(a):
    n = math.sqrt(vdot(a, a))
    return vmul(a, 1.0 / n)


def mirror_floor(p):
    return (p[0], -p[1], p[2])


# ---------------------------------------------------------------------------------------------
# Camera


class Camera:
    """Looks at Target from Distance, turned by Yaw about the vertical axis (positive: the camera
    moves to the viewer's left, so the product's left side shows) and raised by Pitch degrees.
    The image plane stays vertical; Focal is in millimetres of a 36 mm wide frame."""

    def __init__(self, yaw, pitch, distance, focal=50.0, target=(0.0, 0.0, 0.0)):
        self.yaw = yaw
        self.pitch = pitch
        self.distance = distance
        self.focal = focal
        self.target = target
        y = math.radians(yaw)
        p = math.radians(pitch)
        self.forward = (math.sin(y), 0.0, math.cos(y))  # horizontal viewing direction
        self.right = (math.cos(y), 0.0, -math.sin(y))
        self.up = (0.0, 1.0, 0.0)
        back = (-math.sin(y) * math.cos(p), math.sin(p), -math.cos(y) * math.cos(p))
        self.position = vadd(target, vmul(back, distance))

    def project(self, p, frame_width):
        """Point p to image coordinates (y down) relative to the frame's centre, in pixels of a
        frame frame_width wide."""
        d = vsub(p, self.position)
        zc = vdot(d, self.forward)
        if zc <= 1e-9:
            raise ValueError("point behind the camera: %r" % (p,))
        f = self.focal / 36.0 * frame_width
        return (f * vdot(d, self.right) / zc, -f * vdot(d, self.up) / zc)

    def sees(self, face):
        """True when the face's front side turns towards the camera."""
        return vdot(face.normal(), vsub(self.position, face.corners[0])) > 1e-9


# ---------------------------------------------------------------------------------------------
# Faces and products


class Face:
    """A flat quadrilateral in 3-D: corners in picture order (top-left, top-right, bottom-right,
    bottom-left as seen from its front side), the layer type and source that fill it."""

    def __init__(self, corners, kind, source, name, overlays=None):
        self.corners = [tuple(c) for c in corners]
        self.kind = kind
        self.source = source
        self.name = name
        self.overlays = overlays or []  # extra (type, source) layers over this face
        self.reflect_kind = {"normal": "reflection", "disc": "discreflection",
                             "customcolor": "customcolorreflection"}.get(kind)
        self.reflect = True

    def normal(self):
        a, b, _, d = self.corners
        # Picture x runs A->B and picture y A->D (downwards); with y up in the world the front
        # side faces (A->B) x (A->D).
        return vnorm(vcross(vsub(b, a), vsub(d, a)))

    def centre(self):
        return vmul(vadd(vadd(self.corners[0], self.corners[1]), vadd(self.corners[2], self.corners[3])), 0.25)

    def on_floor(self):
        """True when the picture's bottom edge (C, D) lies on the floor."""
        return abs(self.corners[2][1]) < 1e-6 and abs(self.corners[3][1]) < 1e-6

    def reflected_corners(self):
        """The mirror image below the floor, in the order a top-to-bottom mirrored picture needs:
        its top-left is the face's bottom-left."""
        a, b, c, d = self.corners
        return [mirror_floor(d), mirror_floor(c), mirror_floor(b), mirror_floor(a)]


def turn(p, origin, angle):
    """p turned by angle degrees about the vertical axis through origin (positive turns the front
    towards the viewer's left)."""
    a = math.radians(angle)
    x, y, z = vsub(p, origin)
    return vadd(origin, (x * math.cos(a) + z * math.sin(a), y, -x * math.sin(a) + z * math.cos(a)))


class Box:
    """A box of width w, height h and depth d standing on the floor, its front-left-bottom corner
    at position, turned by angle about its own vertical axis. The sources name what fills the
    front, the two sides, the top and the back."""

    def __init__(self, w, h, d, position=(0.0, 0.0, 0.0), angle=0.0, lift=0.0, **sources):
        self.w, self.h, self.d = w, h, d
        self.position = position
        self.angle = angle
        self.lift = lift  # height of the bottom above the floor
        self.sources = sources

    def point(self, x, y, z):
        px, py, pz = self.position
        return turn((px + x, py + y + self.lift, pz + z), self.position, self.angle)

    def faces(self):
        w, h, d = self.w, self.h, self.d
        P = self.point
        defs = {
            "front": [P(0, h, 0), P(w, h, 0), P(w, 0, 0), P(0, 0, 0)],
            "right": [P(w, h, 0), P(w, h, d), P(w, 0, d), P(w, 0, 0)],
            "left": [P(0, h, d), P(0, h, 0), P(0, 0, 0), P(0, 0, d)],
            "top": [P(0, h, d), P(w, h, d), P(w, h, 0), P(0, h, 0)],
            "back": [P(w, h, d), P(0, h, d), P(0, 0, d), P(w, 0, d)],
        }
        out = []
        for name, corners in defs.items():
            spec = self.sources.get(name)
            if spec is None:
                continue
            kind, source = spec if isinstance(spec, tuple) else ("normal", spec)
            out.append(Face(corners, kind, source, name))
        return out


class Disc:
    """A disc of the given diameter standing upright, its lowest point on the floor at centre x
    and depth z (or lifted), its plane turned by angle."""

    def __init__(self, diameter, position=(0.0, 0.0, 0.0), angle=0.0, lift=0.0, source="DISC"):
        self.diameter = diameter
        self.position = position
        self.angle = angle
        self.lift = lift
        self.source = source

    def faces(self):
        r = self.diameter / 2.0
        px, py, pz = self.position
        o = (px, py, pz)
        y0 = py + self.lift
        corners = [(px - r, y0 + 2 * r, pz), (px + r, y0 + 2 * r, pz), (px + r, y0, pz), (px - r, y0, pz)]
        return [Face([turn(c, o, self.angle) for c in corners], "disc", self.source, "disc")]


class Card:
    """A thin flat card (an app tile, a gift card) leaning back by tilt degrees, standing on the
    floor on its bottom edge; drawn with rounded corners."""

    def __init__(self, w, h, position=(0.0, 0.0, 0.0), angle=0.0, tilt=0.0, source="FRONT", kind="roundrect"):
        self.w, self.h = w, h
        self.position = position
        self.angle = angle
        self.tilt = tilt
        self.source = source
        self.kind = kind

    def faces(self):
        px, py, pz = self.position
        t = math.radians(self.tilt)
        top_y, top_z = self.h * math.cos(t), self.h * math.sin(t)
        c = [(px, py + top_y, pz + top_z), (px + self.w, py + top_y, pz + top_z), (px + self.w, py, pz), (px, py, pz)]
        f = Face([turn(p, self.position, self.angle) for p in c], self.kind, self.source, "card")
        f.reflect_kind = {"roundrect": None}.get(self.kind, f.reflect_kind)
        return [f]


# ---------------------------------------------------------------------------------------------
# Lighting: which faces get shade or highlight overlays


LIGHT_DIRECTION = vnorm((-0.35, 0.75, -0.9))  # towards the light: from the front, upper left


def corner_direction(face, camera, frame_width, farthest):
    """The corner of the picture farthest from (or nearest to) the light, as a direction name."""
    names = ["lefttop", "righttop", "rightdown", "leftdown"]
    scores = [vdot(c, LIGHT_DIRECTION) for c in face.corners]
    i = scores.index(min(scores) if farthest else max(scores))
    return names[i]


def auto_overlays(face, camera, frame_width):
    """Shade on faces the light grazes, a highlight on the one it meets most squarely."""
    cosine = vdot(face.normal(), LIGHT_DIRECTION)
    if face.kind not in ("normal", "customcolor"):
        return []
    if cosine < 0.35:
        return [("shade", corner_direction(face, camera, frame_width, True))]
    if cosine > 0.6:
        return [("highlight", corner_direction(face, camera, frame_width, False))]
    return []


# ---------------------------------------------------------------------------------------------
# Scene to layers


class Layer:
    def __init__(self, kind, source, corners, comment=""):
        self.kind = kind
        self.source = source
        self.corners = corners  # four (x, y) integer points
        self.comment = comment


def shadow_polygon(products_faces, spread):
    """A floor quadrilateral beside and behind the products, away from the light: the footprint
    (the floor-level bottom corners) swept along the light's floor direction by spread, reduced to
    the parallelogram spanned by its two outermost corners across the sweep."""
    foot = []
    for f in products_faces:
        for c in f.corners:
            if abs(c[1]) < 1e-6:
                foot.append(c)
    away = vnorm((-LIGHT_DIRECTION[0], 0.0, -LIGHT_DIRECTION[2]))
    across = (away[2], 0.0, -away[0])
    lo = min(foot, key=lambda p: vdot(p, across))
    hi = max(foot, key=lambda p: vdot(p, across))
    back = max(vdot(p, away) for p in foot)
    front = min(vdot(p, away) for p in foot)

    def at(p, along):
        return vadd(vsub(p, vmul(away, vdot(p, away))), vmul(away, along))

    start = front + 0.5 * (back - front)
    return [at(lo, start), at(lo, back + spread), at(hi, back + spread), at(hi, start)]


def rnd(p):
    return (int(round(p[0])), int(round(p[1])))


def same(p, q):
    return abs(p[0] - q[0]) < 1e-6 and abs(p[1] - q[1]) < 1e-6 and abs(p[2] - q[2]) < 1e-6


# How far (template units) a face drawn earlier reaches under a face drawn later along the edge
# they share. Both edges are anti-aliased, so without it the background would show through half
# covered edge pixels as a faint light seam.
UNDERLAP = 3.0
BUMP = 0.5  # at most this much (template units) of a face may show past its neighbour's outline
NO_UNDERLAP = ("disc", "discreflection", "roundrect")
# Where a face's reach would have to taper to nothing at a corner on the outline (its own edge,
# extended, would leave the neighbour there), a copy of the face, its underlay, is drawn first. The underlay reaches this far under the neighbours all along the shared
# edges, far enough for a pixel plus the anti-aliased edge down to about 200 pixels wide; at outline
# corners it slides along the neighbour's outline instead, and keeps its own outline this far inside
# the face's, so it never shows past the outline and does not double the outline's anti-aliasing.
UNDERLAY_REACH = 8.0
UNDERLAY_INSET = 1.5


def offset_line(p, q, n, dist):
    """The line through p and q moved by dist along the unit normal n: (point, direction)."""
    return ((p[0] + n[0] * dist, p[1] + n[1] * dist), (q[0] - p[0], q[1] - p[1]))


def intersect(l1, l2):
    (p, d), (q, e) = l1, l2
    den = d[0] * e[1] - d[1] * e[0]
    if abs(den) < 1e-9 * math.hypot(*d) * math.hypot(*e):
        return None
    t = ((q[0] - p[0]) * e[1] - (q[1] - p[1]) * e[0]) / den
    return (p[0] + t * d[0], p[1] + t * d[1])


def inward_normal(p, q, quad):
    """Unit normal of the edge p-q pointing into the quadrilateral."""
    n = (p[1] - q[1], q[0] - p[0])
    length = math.hypot(*n)
    n = (n[0] / length, n[1] / length)
    cx = sum(c[0] for c in quad) / 4.0
    cy = sum(c[1] for c in quad) / 4.0
    if (cx - p[0]) * n[0] + (cy - p[1]) * n[1] < 0:
        n = (-n[0], -n[1])
    return n


def underlay_corners(a, edges, outline, reach, inset, cover):
    """The underlay of a: every edge a later neighbour shares moved into that neighbour by reach
    (at most half across it), every other edge moved inside a by inset. edges[k] is (unit normal
    into the neighbour, neighbour, its width across) for the edge from corner k to k + 1, or None;
    outline[k] tells whether that edge lies on the product's outline. Every point of the result
    (with integer corners) lies within BUMP of one of the quadrilaterals in cover."""
    P = a["corners"]

    def lines_for(scale):
        out = []
        for k in range(4):
            p, q = P[k], P[(k + 1) % 4]
            if edges[k]:
                n, _, across = edges[k]
                out.append(offset_line(p, q, n, scale * min(reach, 0.5 * across)))
            else:
                out.append(offset_line(p, q, inward_normal(p, q, P), inset))
        return out

    lines = lines_for(1.0)
    out = []
    for k in range(4):
        before, after = (k + 3) % 4, k
        corner = intersect(lines[before], lines[after])
        shared = [e for e in (before, after) if edges[e]]
        if len(shared) == 1:
            e = shared[0]
            own = after if e == before else before
            _, b, _ = edges[e]
            target = [rnd(c) for c in b["corners"]]
            if outline[own] and (corner is None or quad_distance(rnd(corner), target) > 0):
                # On the outline the own edge, extended, leaves the neighbour: follow the
                # neighbour's outline at this corner instead, just inside it.
                far = a["world"][e] if e == before else a["world"][(e + 1) % 4]
                j = next(j for j in range(4) if same(b["world"][j], a["world"][k]))
                j2 = next(j2 for j2 in ((j + 1) % 4, (j + 3) % 4) if not same(b["world"][j2], far))
                bp, bq = b["corners"][j], b["corners"][j2]
                along = offset_line(bp, bq, inward_normal(bp, bq, b["corners"]), inset)
                corner = intersect(lines[e], along)
                if corner is not None:
                    # Where the edges meet at a sharp angle the corner would run far out along
                    # the neighbour, leaving the shared edge near the outline uncovered: not
                    # farther than 1.5 reach, nor a quarter of the shared edge.
                    (ox, oy), (dx, dy) = along
                    length = math.hypot(dx, dy)
                    shared_length = math.hypot(P[e][0] - P[(e + 1) % 4][0], P[e][1] - P[(e + 1) % 4][1])
                    most = min(1.5 * reach, 0.25 * shared_length)
                    t0 = ((P[k][0] - ox) * dx + (P[k][1] - oy) * dy) / length
                    t = ((corner[0] - ox) * dx + (corner[1] - oy) * dy) / length
                    t = t0 + max(-most, min(most, t - t0))
                    corner = (ox + dx * t / length, oy + dy * t / length)
            else:
                # Inside the product (or a thin neighbour): reach less until the corner lies under it.
                for scale in (1.0, 0.75, 0.5, 0.25, 0.0):
                    ls = lines_for(scale)
                    corner = intersect(ls[before], ls[after])
                    if corner is not None and quad_distance(rnd(corner), target) <= 0:
                        break
        if corner is None or math.hypot(corner[0] - P[k][0], corner[1] - P[k][1]) > 4 * reach:
            corner = P[k]
        out.append(corner)
    # A corner that would fold the quadrilateral over, or let it show, stays where it is.
    for k in range(4):
        if convex_like(out, P) and hidden(out, cover):
            break
        out[k] = P[k]
    if not (convex_like(out, P) and hidden(out, cover)) or [rnd(c) for c in out] == [rnd(c) for c in P]:
        return None
    return out


def hidden(quad, cover, samples=16):
    """True when the quadrilateral's outline, with integer corners, lies within BUMP of the cover."""
    q = [rnd(c) for c in quad]
    for k in range(4):
        (x1, y1), (x2, y2) = q[k], q[(k + 1) % 4]
        for i in range(samples):
            p = (x1 + (x2 - x1) * i / samples, y1 + (y2 - y1) * i / samples)
            if min(quad_distance(p, c) for c in cover) > BUMP:
                return False
    return True


def convex_like(quad, model):
    """True when quad is convex and turns the same way as model."""
    def turns(q):
        return [(q[(i + 1) % 4][0] - q[i][0]) * (q[(i + 2) % 4][1] - q[(i + 1) % 4][1])
                - (q[(i + 1) % 4][1] - q[i][1]) * (q[(i + 2) % 4][0] - q[(i + 1) % 4][0]) for i in range(4)]
    sign = 1 if sum(turns(model)) > 0 else -1
    # With the integer corners the template will hold.
    return all(t * sign > 0 for t in turns(quad)) and all(t * sign > 0 for t in turns([rnd(c) for c in quad]))


def quad_distance(p, quad):
    """0 inside the convex quadrilateral (either winding), else the distance to its outline."""
    inside, sign = True, 0
    for i in range(4):
        (x1, y1), (x2, y2) = quad[i], quad[(i + 1) % 4]
        cross = (x2 - x1) * (p[1] - y1) - (y2 - y1) * (p[0] - x1)
        if abs(cross) < 1e-9:
            continue
        sd = 1 if cross > 0 else -1
        if sign and sd != sign:
            inside = False
            break
        sign = sd
    if inside:
        return 0.0
    best = float("inf")
    for i in range(4):
        (x1, y1), (x2, y2) = quad[i], quad[(i + 1) % 4]
        dx, dy = x2 - x1, y2 - y1
        n = dx * dx + dy * dy
        t = 0.0 if n == 0 else max(0.0, min(1.0, ((p[0] - x1) * dx + (p[1] - y1) * dy) / n))
        best = min(best, math.hypot(p[0] - x1 - t * dx, p[1] - y1 - t * dy))
    return best


def underlap_edges(items, delta, underlay=UNDERLAY_REACH):
    """Moves each shared edge of an earlier quadrilateral by delta into the later quadrilateral
    that shares it, so the earlier one lies under the later one's anti-aliased edge. A corner on
    two such edges moves so that both edges shift by delta. A quadrilateral whose reach tapers at a
    corner on the outline also gets an underlay (see UNDERLAY_REACH) that reaches underlay units;
    none when underlay is 0."""
    if delta <= 0:
        return
    moved = []
    for i, a in enumerate(items):
        new = list(a["corners"])
        if a["kind"] in NO_UNDERLAP:
            moved.append(new)
            continue
        normals = [[] for _ in range(4)]
        edges = [None] * 4
        tapers = False
        for k in range(4):
            k2 = (k + 1) % 4
            p, q = a["world"][k], a["world"][k2]
            for b in items[i + 1:]:
                if b["kind"] in NO_UNDERLAP:
                    continue
                if not (any(same(p, w) for w in b["world"]) and any(same(q, w) for w in b["world"])):
                    continue
                (x1, y1), (x2, y2) = a["corners"][k], a["corners"][k2]
                n = (y1 - y2, x2 - x1)
                length = math.hypot(*n)
                if length < 1e-9:
                    continue
                n = (n[0] / length, n[1] / length)
                cx = sum(c[0] for c in b["corners"]) / 4.0
                cy = sum(c[1] for c in b["corners"]) / 4.0
                if (cx - x1) * n[0] + (cy - y1) * n[1] < 0:
                    n = (-n[0], -n[1])
                # Never reach more than halfway across a thin neighbour (a spine, a page edge).
                across = max((c[0] - x1) * n[0] + (c[1] - y1) * n[1] for c in b["corners"])
                reach = min(delta, 0.5 * across)
                edges[k] = (n, b, across)
                normals[k].append((n, b, q, reach))
                normals[k2].append((n, b, p, reach))
                break
        for k in range(4):
            ns = normals[k]
            if not ns:
                continue
            if len(ns) == 1:
                # One later neighbour: the corner is on the outline of the two. Extend this
                # quadrilateral's own other edge beyond the corner (sliding along the neighbour's
                # edge instead would notch this face's outline), but only so far that the
                # extension sticks out of the neighbour by at most BUMP.
                (nx, ny), b, other, reach = ns[0]
                px, py = a["corners"][k]
                f = next(f for f in ((k + 1) % 4, (k + 3) % 4) if not same(a["world"][f], other))
                ux, uy = px - a["corners"][f][0], py - a["corners"][f][1]
                length = math.hypot(ux, uy)
                along = (ux * nx + uy * ny) / length if length > 1e-9 else 0.0
                if along < 0.2:
                    tapers = True
                    continue
                ux, uy = ux / length, uy / length
                extend = full = reach / along
                # The farthest the corner may go before it stands out of the neighbour by BUMP,
                # judged on the integer corners the template will hold. Not moving at all always
                # passes: the corner then rounds to the neighbour's own corner.
                target = [rnd(c) for c in b["corners"]]
                steps = 24
                for i in range(steps, -1, -1):
                    t = extend * i / steps
                    if quad_distance(rnd((px + ux * t, py + uy * t)), target) <= BUMP:
                        extend = t
                        break
                tapers = tapers or extend < 0.999 * full
                if extend <= 0:
                    continue
                dx, dy = ux * extend / reach, uy * extend / reach
            else:
                (ax, ay), _, _, reach = ns[0]
                (bx, by), _, _, reach2 = ns[1]
                reach = min(reach, reach2)
                scale = 1.0 + ax * bx + ay * by
                if scale < 0.2:  # nearly opposite edges: leave the corner where it is
                    tapers = True
                    continue
                dx, dy = (ax + bx) / scale, (ay + by) / scale
            new[k] = (a["corners"][k][0] + reach * dx, a["corners"][k][1] + reach * dy)
        if tapers and underlay > 0 and "reflection" not in a["kind"]:
            outline = []
            for k in range(4):
                p, q = a["world"][k], a["world"][(k + 1) % 4]
                outline.append(not any(
                    b is not a and b["kind"] not in NO_UNDERLAP and "reflection" not in b["kind"]
                    and any(same(p, w) for w in b["world"]) and any(same(q, w) for w in b["world"])
                    for b in items))
            later = items[next(j for j, b in enumerate(items) if b is a) + 1:]
            # Round things leave the corners of their quadrilaterals bare: they cover nothing.
            cover = [[rnd(c) for c in b["corners"]] for b in [a] + later if b["kind"] not in NO_UNDERLAP]
            corners = underlay_corners(a, edges, outline, underlay, UNDERLAY_INSET, cover)
            if corners:
                a["underlay"] = corners
        moved.append(new)
    for a, m in zip(items, moved):
        a["corners"] = m


class Scene:
    def __init__(self, name, camera, products, comment, width=800, height=600, shadow=True,
                 shadow_spread=30.0, shades=True, overlays=None, extra=None, previews=None,
                 fill=(0.80, 0.64), floor_at=0.74):
        self.name = name
        self.camera = camera
        self.products = products
        self.comment = comment
        self.width = width
        self.height = height
        self.shadow = shadow
        self.shadow_spread = shadow_spread
        self.shades = shades
        self.overlays = overlays or {}  # face name -> list of (type, source), replaces auto ones
        self.extra = extra or []  # (type, source, face name) layers over a face, e.g. customfile
        self.previews = previews or {}  # slot -> sample artwork file
        self.fill = fill
        self.floor_at = floor_at

    # Faces of all products in drawing order: farther faces first.
    def visible_faces(self):
        faces = []
        for product in self.products:
            for f in product.faces():
                if self.camera.sees(f):
                    faces.append(f)
        return faces

    def fit(self):
        """Template coordinates (floats) of a 3-D point: the products' outline fills the given
        share of the frame, centred across, with the lowest floor point at floor_at of the height."""
        cam = self.camera
        fw = float(self.width)
        pts = [cam.project(c, fw) for f in self.visible_faces() for c in f.corners]
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        s = min(self.fill[0] * self.width / (max(xs) - min(xs)), self.fill[1] * self.height / (max(ys) - min(ys)))
        ox = self.width / 2.0 - s * (max(xs) + min(xs)) / 2.0
        oy = self.floor_at * self.height - s * max(ys)

        def to_template(p):
            x, y = cam.project(p, fw)
            return (ox + s * x, oy + s * y)
        return to_template

    def ordered_faces(self):
        """Visible faces, product by product from the farthest; the faces of one convex product
        never overlap, so their order among themselves does not matter."""
        cam = self.camera
        groups = []
        for product in self.products:
            faces = [f for f in product.faces() if cam.sees(f)]
            if faces:
                centre = vmul(reduce(vadd, [f.centre() for f in faces]), 1.0 / len(faces))
                groups.append((vdot(vsub(centre, cam.position), cam.forward), faces))
        groups.sort(key=lambda g: -g[0])
        return [f for _, faces in groups for f in faces]

    def items(self):
        """The drawn quadrilaterals in drawing order, before rounding: dicts with kind, source,
        the 3-D corners, the template corners (floats) and the overlays on top."""
        to_t = self.fit()
        faces = self.ordered_faces()
        out = []
        for f in faces:
            if f.reflect_kind and f.reflect and (f.on_floor() or f.kind == "disc" or getattr(f, "floating", False)):
                rc = f.reflected_corners()
                overlays = []
                for kind, source in self.face_overlays(f):
                    bkind = {"shade": "blurshade", "highlight": "blurhighlight"}.get(kind)
                    if bkind:
                        overlays.append((bkind, source, "%s mirrored with it" % kind))
                out.append({"kind": f.reflect_kind, "source": f.source, "world": rc,
                            "corners": [to_t(p) for p in rc], "name": "reflection of %s" % f.name,
                            "overlays": overlays})
        for f in faces:
            overlays = [(k, src, "%s on %s" % (k, f.name)) for k, src in self.face_overlays(f)]
            overlays += [(k, src, "%s on %s" % (k, f.name)) for k, src, name in self.extra if name == f.name]
            out.append({"kind": f.kind, "source": f.source, "world": list(f.corners),
                        "corners": [to_t(p) for p in f.corners], "name": f.name, "overlays": overlays})
        return out

    def layers(self, underlap=UNDERLAP):
        items = self.items()
        underlap_edges(items, underlap)
        out = []
        if self.shadow:
            to_t = self.fit()
            poly = shadow_polygon(self.ordered_faces(), self.shadow_spread)
            out.append(Layer("shadow", "", [rnd(to_t(p)) for p in poly], "soft shadow on the floor"))
        for it in items:
            if it.get("underlay"):
                out.append(Layer(it["kind"], it["source"], [rnd(c) for c in it["underlay"]],
                                 "%s again, reaching under its neighbours" % it["name"]))
            corners = [rnd(c) for c in it["corners"]]
            out.append(Layer(it["kind"], it["source"], corners, it["name"]))
            for kind, source, comment in it["overlays"]:
                out.append(Layer(kind, source, corners, comment))
        return out

    def face_overlays(self, f):
        if f.name in self.overlays:
            return self.overlays[f.name]
        if not self.shades:
            return []
        return auto_overlays(f, self.camera, float(self.width))

    def ini_text(self):
        lines = ["; " + self.comment, "; Made by tools/templategen.py.", "[Image]",
                 "width=%d" % self.width, "height=%d" % self.height, ""]
        for i, layer in enumerate(self.layers(), 1):
            lines.append("; " + layer.comment)
            lines.append("[Layer%d]" % i)
            lines.append("type=" + layer.kind)
            if layer.source:
                lines.append("source=" + layer.source)
            for name, (x, y) in zip("ABCD", layer.corners):
                lines.append("%s.X=%d" % (name, x))
                lines.append("%s.Y=%d" % (name, y))
            lines.append("")
        return "\n".join(lines)


# ---------------------------------------------------------------------------------------------
# The template library


def face_named(product, name):
    for f in product.faces():
        if f.name == name:
            return f
    raise KeyError(name)


class Named:
    """Wraps a product to rename its faces and set per-face flags."""

    def __init__(self, product, rename=None, no_reflect=(), floating=()):
        self.product = product
        self.rename = rename or {}
        self.no_reflect = set(no_reflect)
        self.floating = set(floating)

    def faces(self):
        out = []
        for f in self.product.faces():
            base = f.name
            f.name = self.rename.get(base, base)
            if base in self.no_reflect:
                f.reflect = False
            if base in self.floating:
                f.floating = True
            out.append(f)
        return out


PAGES = ("customcolor", "$D8E8F0")  # the cream of page edges, as TColor 0x00BBGGRR
PLASTIC = ("customcolor", "clSilver")

BOX_ART = {"FRONT": "examples/box-front.jpg", "SIDE": "examples/box-side.jpg", "TOP": "examples/box-top.jpg"}
BOX2_ART = {"FRONT2": "examples/box2-front.jpg", "SIDE2": "examples/box2-side.jpg", "TOP2": "examples/box2-top.jpg"}
BOOK_ART = {"FRONT": "examples/book-front.jpg", "SIDE": "examples/book-spine.jpg"}
DISC_ART = {"DISC": "examples/disc-label.jpg"}
DISC2_ART = {"DISC2": "examples/disc2-label.jpg"}
CD_ART = {"FRONT": "examples/cd-front.jpg", "SIDE": "examples/cd-spine.jpg"}
CD_DISC_ART = {"DISC": "examples/cd-disc.jpg"}
DVD_ART = {"FRONT": "examples/dvd-front.jpg", "SIDE": "examples/dvd-spine.jpg"}
APP_ART = {"FRONT": "examples/app-tile.jpg"}
MAG_ART = {"FRONT": "examples/magazine-front.jpg"}


def merged(*dicts):
    out = {}
    for d in dicts:
        out.update(d)
    return out


def library():
    scenes = []

    box = Box(190, 235, 60, left="SIDE", front="FRONT", top="TOP")
    scenes.append(Scene("01 Software box left", Camera(30, 14, 2160, target=(95, 117, 30)), [box],
                        "A software box seen from the front left: spine on the left, top showing.",
                        previews=BOX_ART,
                        overlays={"left": [("shade", "left")], "front": [("highlight", "lefttop")],
                                  "top": [("shade", "rightlefttopdown")]}))

    box = Box(190, 235, 60, right="SIDE", front="FRONT", top="TOP")
    scenes.append(Scene("02 Software box right", Camera(-30, 14, 2160, target=(95, 117, 30)), [box],
                        "A software box seen from the front right: side on the right, top showing.",
                        previews=BOX_ART,
                        overlays={"right": [("shade", "right")], "front": [("highlight", "righttop")],
                                  "top": [("shade", "rightlefttopdown")]}))

    box = Box(135, 190, 20, left="SIDE", front="FRONT", top="TOP")
    scenes.append(Scene("03 Tall DVD box", Camera(35, 8, 1680, target=(67, 95, 10)), [box],
                        "A tall slim box in the DVD format, seen from the left.",
                        previews=BOX_ART,
                        overlays={"left": [("shade", "leftdown")], "front": [], "top": [("highlight", "top")]}))

    a = Box(170, 215, 55, position=(-20, 0, 30), angle=-15, left="SIDE", front="FRONT", top="TOP")
    b = Box(170, 215, 55, position=(175, 0, 0), angle=15, right="SIDE2", front="FRONT2", top="TOP2")
    scenes.append(Scene("04 Two boxes", Camera(0, 14, 3120, target=(150, 107, 40)),
                        [Named(a, {"left": "left1", "front": "front1", "top": "top1"}),
                         Named(b, {"right": "right2", "front": "front2", "top": "top2"})],
                        "Two software boxes side by side, the second a little in front.",
                        previews=merged(BOX_ART, BOX2_ART), fill=(0.86, 0.60),
                        overlays={"left1": [("shade", "left")], "right2": [("shade", "rightdown")],
                                  "top1": [], "top2": [], "front1": [], "front2": [("highlight", "lefttop")]}))

    book = Box(160, 240, 38, left="SIDE", front="FRONT", top=PAGES, right=PAGES)
    scenes.append(Scene("05 Hardcover book", Camera(28, 12, 2160, target=(80, 120, 19)), [book],
                        "A hardcover book seen from the front left: cover, spine and the page edges on top.",
                        previews=BOOK_ART,
                        overlays={"left": [("shade", "left")], "front": [("highlight", "lefttop")],
                                  "top": [("shade", "top")]}))

    book = Box(130, 200, 16, right=PAGES, front="FRONT", left="SIDE", top=PAGES)
    scenes.append(Scene("06 Paperback", Camera(-25, 10, 1680, target=(65, 100, 8)), [book],
                        "A paperback seen from the front right: cover and the page block on the right.",
                        previews=BOOK_ART,
                        overlays={"right": [("shade", "right")], "front": [("highlight", "righttop")],
                                  "top": []}))

    book = Box(160, 240, 38, position=(0, 0, 40), left="SIDE", front="FRONT", top=PAGES)
    disc = Disc(120, position=(200, 0, -10), angle=-20, source="DISC")
    scenes.append(Scene("07 Book and disc", Camera(22, 10, 2640, target=(130, 110, 20)), [book, disc],
                        "A hardcover book with its disc standing beside it.",
                        previews=merged(BOOK_ART, DISC_ART), fill=(0.82, 0.60),
                        overlays={"left": [("shade", "left")], "front": [], "top": [("shade", "top")]}))

    case = Box(142, 125, 10, left="SIDE", front="FRONT", top=PLASTIC)
    scenes.append(Scene("08 CD jewel case", Camera(25, 10, 1680, target=(71, 62, 5)), [case],
                        "A CD jewel case: front insert under clear plastic, the spine on the left.",
                        previews=CD_ART,
                        overlays={"left": [("shade", "leftdown")], "front": [], "top": []},
                        extra=[("customfile", "jewelcase-gloss.png", "front")]))

    case = Box(135, 190, 14, right="SIDE", front="FRONT", top=("customcolor", "clBlack"))
    scenes.append(Scene("09 DVD keep case", Camera(-28, 8, 1920, target=(67, 95, 7)), [case],
                        "A DVD keep case seen from the front right, the spine on the right.",
                        previews=DVD_ART,
                        overlays={"right": [("shade", "rightdown")], "front": [("highlight", "lefttop")],
                                  "top": []},
                        extra=[("customfile", "keepcase-sleeve.png", "front")]))

    disc = Disc(120, position=(0, 0, 0), angle=-25, source="DISC")
    scenes.append(Scene("10 Disc", Camera(0, 6, 1440, target=(0, 60, 0)), [disc],
                        "A disc standing upright on a glossy floor.", previews=DISC_ART,
                        shadow_spread=30.0, fill=(0.7, 0.58), floor_at=0.66))

    case = Box(142, 125, 10, position=(-40, 0, 0), left="SIDE", front="FRONT", top=PLASTIC)
    disc = Disc(120, position=(80, 0, 8), angle=0, lift=3, source="DISC")
    scenes.append(Scene("11 Jewel case with disc", Camera(12, 8, 2160, target=(40, 62, 5)),
                        [Named(disc, floating={"disc"}), case],
                        "A CD jewel case with its disc half drawn out to the right.",
                        previews=merged(CD_ART, CD_DISC_ART), fill=(0.84, 0.56),
                        overlays={"left": [("shade", "lefttop")], "front": [], "top": []},
                        extra=[("customfile", "jewelcase-gloss.png", "front")]))

    tile = Card(150, 150, position=(0, 0, 0), angle=-22, tilt=0, source="FRONT")
    scenes.append(Scene("12 App tile", Camera(0, 10, 1680, target=(75, 75, 0)), [tile],
                        "A square app tile with rounded corners, leaning back a little.",
                        previews=APP_ART, shadow_spread=25.0, fill=(0.6, 0.56),
                        overlays={"card": [("roundrecthighlight", "lefttop"), ("roundrectshade", "rightdown")]}))

    mag = Box(210, 280, 4, right=("customcolor", "clWhite"), front="FRONT", top=("customcolor", "clWhite"))
    scenes.append(Scene("13 Magazine", Camera(-20, 9, 2400, target=(105, 140, 2)), [mag],
                        "A magazine standing upright, seen from the front right.",
                        previews=MAG_ART,
                        overlays={"front": [], "right": [("shade", "rightlefttopdown")], "top": []}))

    d1 = Disc(120, position=(0, 0, 30), angle=-30, source="DISC")
    d2 = Disc(120, position=(95, 0, 0), angle=-30, source="DISC2")
    scenes.append(Scene("14 Two discs", Camera(0, 6, 2160, target=(50, 60, 15)), [d1, d2],
                        "Two discs standing one behind the other.",
                        previews=merged(DISC_ART, DISC2_ART), shadow_spread=30.0, fill=(0.8, 0.56),
                        floor_at=0.66))
    return scenes


def preview_list(scenes):
    """One line per template: display name, "|", then slot=picture pairs separated by commas
    (paths relative to the repository). The build and the Makefile render previews from it."""
    lines = []
    for sc in scenes:
        lines.append("%s|%s" % (sc.name, ",".join("%s=%s" % (k.lower(), v) for k, v in sorted(sc.previews.items()))))
    return "\n".join(lines) + "\n"


SLOT_ORDER = ["FRONT", "SIDE", "TOP", "DISC", "FRONT2", "SIDE2", "TOP2", "DISC2"]


def docs_page(scenes, skeleton):
    """The documentation page's template table: number, preview, product, sources used."""
    rows = []
    for sc in scenes:
        num, name = sc.name.split(" ", 1)
        pic = "../Pics/%s.jpg" % sc.name.replace(" ", "%20")
        slots = ", ".join(sorted(sc.previews, key=SLOT_ORDER.index))
        rows.append('<tr><td>%d</td><td><img src="%s" width="120" height="90" alt=""></td>'
                    "<td><b>%s</b><br>%s</td><td>%s</td></tr>" % (int(num), pic, name, sc.comment, slots))
    return skeleton.replace("@TEMPLATE_ROWS@", "\n".join(rows))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    ap.add_argument("--out", default=os.path.join(root, "data", "Templates"))
    ap.add_argument("--previews", default=os.path.join(here, "previews.txt"))
    ap.add_argument("--docs", default=os.path.join(root, "data", "Docs", "index.html"))
    args = ap.parse_args(argv)
    scenes = library()
    os.makedirs(args.out, exist_ok=True)
    for sc in scenes:
        with open(os.path.join(args.out, sc.name + ".ini"), "w", newline="\n") as fh:
            fh.write(sc.ini_text())
    with open(args.previews, "w", newline="\n") as fh:
        fh.write(preview_list(scenes))
    with open(os.path.join(here, "docs.html.in")) as fh:
        skeleton = fh.read()
    with open(args.docs, "w", newline="\n") as fh:
        fh.write(docs_page(scenes, skeleton))
    print("wrote %d templates to %s" % (len(scenes), args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
