#include "core/FaceUnderlap.h"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace quirlon::core {

namespace {

// The edge from corner k to k + 1 of an item shared with a later neighbour: the unit normal into
// the neighbour, the neighbour, and how far the neighbour reaches across from the edge.
struct TSharedEdge {
  TPlanePoint Normal;
  std::size_t Neighbour = 0;
  double Across = 0;
};

// A shared edge as seen from one of its corners: the edge's far corner and its reach.
struct TCornerEdge {
  TPlanePoint Normal;
  std::size_t Neighbour = 0;
  TVec3 Other;
  double Reach = 0;
};

bool HasCorner(const TSceneItem& Item, const TVec3& P) {
  return std::any_of(Item.World.begin(), Item.World.end(), [&](const TVec3& w) { return SamePoint(P, w); });
}

bool SharesEdge(const TSceneItem& Item, const TVec3& P, const TVec3& Q) {
  return HasCorner(Item, P) && HasCorner(Item, Q);
}

bool IsReflection(const std::string& Type) { return Type.find("reflection") != std::string::npos; }

// True when the quadrilateral's outline, with integer corners, lies within kBump of the cover.
bool Hidden(const TPlaneQuad& Quad, const std::vector<TPlaneQuad>& Cover, int Samples = 16) {
  const TPlaneQuad q = RoundedQuad(Quad);
  for (int k = 0; k < 4; ++k) {
    const TPlanePoint &a = q[k], &b = q[(k + 1) % 4];
    for (int i = 0; i < Samples; ++i) {
      const TPlanePoint p{a.X + (b.X - a.X) * i / Samples, a.Y + (b.Y - a.Y) * i / Samples};
      double nearest = QuadDistance(p, Cover[0]);
      for (std::size_t c = 1; c < Cover.size(); ++c) nearest = std::min(nearest, QuadDistance(p, Cover[c]));
      if (nearest > kBump) return false;
    }
  }
  return true;
}

// How an underlay turns the corners its reach cannot keep.
struct TUnderlayStyle {
  // At a corner on the outline, how far (template units) the corner may slide along the
  // neighbour's outline besides 1.5 reach and a quarter of the shared edge: a long slide keeps the
  // full reach but leaves the shared edge bare near the corner, a short one covers it there with a
  // narrower reach.
  double SlideLimit = 1e300;
  // At a corner inside the product whose reach cannot be kept, extend the corner's own other edge
  // into the neighbour as far as it stays under it, instead of leaving the corner where it is.
  bool ExtendInside = false;
  // When the underlay would fold over or show, keep every corner that can move (rather than
  // leaving corners where they are in corner order until it fits).
  bool KeepFittingCorners = false;
};

constexpr double kUnlimited = 1e300;
// The first rules' underlay; by rules 2 the same with corners inside extended, and a second one
// whose corners on the outline slide 4 units at most.
constexpr TUnderlayStyle kFirstRulesUnderlay{kUnlimited, false, false};
constexpr TUnderlayStyle kLongSlideUnderlay{kUnlimited, true, true};
constexpr TUnderlayStyle kShortSlideUnderlay{4, true, true};

// The underlay of A: every edge a later neighbour shares moved into that neighbour by Reach (at
// most half across it), every other edge moved inside A by Inset. Outline[k] tells whether edge k
// lies on the product's outline. Every point of the result (with integer corners) lies within
// kBump of one of the quadrilaterals in Cover; none when it would fold over, show, or equal A.
std::optional<TPlaneQuad> UnderlayCorners(const std::vector<TSceneItem>& Items, const TSceneItem& A,
                                          const std::array<std::optional<TSharedEdge>, 4>& Edges,
                                          const std::array<bool, 4>& Outline, double Reach, double Inset,
                                          const std::vector<TPlaneQuad>& Cover, const TUnderlayStyle& Style) {
  const TPlaneQuad& P = A.Corners;
  auto linesFor = [&](double scale) {
    std::array<TPlaneLine, 4> out;
    for (int k = 0; k < 4; ++k) {
      const TPlanePoint &p = P[k], &q = P[(k + 1) % 4];
      if (Edges[k])
        out[k] = OffsetLine(p, q, Edges[k]->Normal, scale * std::min(Reach, 0.5 * Edges[k]->Across));
      else
        out[k] = OffsetLine(p, q, InwardNormal(p, q, P), Inset);
    }
    return out;
  };
  const auto lines = linesFor(1.0);
  TPlaneQuad out;
  for (int k = 0; k < 4; ++k) {
    const int before = (k + 3) % 4, after = k;
    TPlanePoint corner;
    bool found = Intersect(lines[before], lines[after], corner);
    if ((Edges[before] ? 1 : 0) + (Edges[after] ? 1 : 0) == 1) {
      const int e = Edges[before] ? before : after;
      const int own = e == before ? after : before;
      const TSceneItem& b = Items[Edges[e]->Neighbour];
      const TPlaneQuad target = RoundedQuad(b.Corners);
      if (Outline[own] && (!found || QuadDistance(RoundedPoint(corner), target) > 0)) {
        // On the outline the own edge, extended, leaves the neighbour: follow the neighbour's
        // outline at this corner instead, just inside it.
        const TVec3& far = e == before ? A.World[e] : A.World[(e + 1) % 4];
        int j = 0;
        while (j < 4 && !SamePoint(b.World[j], A.World[k])) ++j;
        int j2 = -1;
        if (j < 4)
          for (int candidate : {(j + 1) % 4, (j + 3) % 4})
            if (!SamePoint(b.World[candidate], far)) {
              j2 = candidate;
              break;
            }
        found = false;
        if (j2 >= 0) {
          const TPlanePoint &bp = b.Corners[j], &bq = b.Corners[j2];
          const TPlaneLine along = OffsetLine(bp, bq, InwardNormal(bp, bq, b.Corners), Inset);
          found = Intersect(lines[e], along, corner);
          if (found) {
            // Where the edges meet at a sharp angle the corner would run far out along the
            // neighbour, leaving the shared edge near the outline uncovered: not farther than
            // 1.5 reach, nor a quarter of the shared edge.
            const TPlanePoint o = along.Point, d = along.Direction;
            const double length = Hypot(d.X, d.Y);
            const double sharedLength = Hypot(P[e].X - P[(e + 1) % 4].X, P[e].Y - P[(e + 1) % 4].Y);
            const double most = std::min({1.5 * Reach, 0.25 * sharedLength, Style.SlideLimit});
            const double t0 = ((P[k].X - o.X) * d.X + (P[k].Y - o.Y) * d.Y) / length;
            double t = ((corner.X - o.X) * d.X + (corner.Y - o.Y) * d.Y) / length;
            t = t0 + std::max(-most, std::min(most, t - t0));
            corner = {o.X + d.X * t / length, o.Y + d.Y * t / length};
          }
        }
      } else {
        // Inside the product (or a thin neighbour): reach less until the corner lies under it.
        bool under = false;
        for (double scale : {1.0, 0.75, 0.5, 0.25, 0.0}) {
          const auto scaled = linesFor(scale);
          found = Intersect(scaled[before], scaled[after], corner);
          under = found && QuadDistance(RoundedPoint(corner), target) <= 0;
          // (By rules 2 a corner too far away to be kept does not count as under the neighbour.)
          if (under && Style.ExtendInside) under = Hypot(corner.X - P[k].X, corner.Y - P[k].Y) <= 4 * Reach;
          if (under) break;
        }
        if (!under && Style.ExtendInside) {
          // By rules 2 the own edge (shared with an earlier face), extended beyond the corner,
          // runs under the neighbour as far as the reach asks and the neighbour allows.
          const TPlanePoint& from = P[own == before ? (k + 3) % 4 : (k + 1) % 4];
          const TPlanePoint n = Edges[e]->Normal;
          double ux = P[k].X - from.X, uy = P[k].Y - from.Y;
          const double length = Hypot(ux, uy);
          const double along = length > 1e-9 ? (ux * n.X + uy * n.Y) / length : 0.0;
          if (along > 0.02) {
            ux /= length;
            uy /= length;
            const double full = std::min(std::min(Reach, 0.5 * Edges[e]->Across) / along, 3.5 * Reach);
            constexpr int kSteps = 24;
            for (int step = kSteps; step > 0; --step) {
              const double t = full * step / kSteps;
              const TPlanePoint moved{P[k].X + ux * t, P[k].Y + uy * t};
              if (QuadDistance(RoundedPoint(moved), target) <= 0) {
                corner = moved;
                found = true;
                break;
              }
            }
          }
        }
      }
    }
    if (!found || Hypot(corner.X - P[k].X, corner.Y - P[k].Y) > 4 * Reach) corner = P[k];
    out[k] = corner;
  }
  // A corner that would fold the quadrilateral over, or let it show, stays where it is.
  auto fits = [](const TPlaneQuad& quad, const TPlaneQuad& model, const std::vector<TPlaneQuad>& cover) {
    return ConvexLike(quad, model) && Hidden(quad, cover);
  };
  // By rules 2 only as few corners as must stay do: the fewest, then the first in corner order.
  auto keepFitting = [&] {
    for (int count = 1; count < 4; ++count)
      for (unsigned mask = 1; mask < 15; ++mask) {
        if (std::popcount(mask) != count) continue;
        TPlaneQuad candidate = out;
        for (int k = 0; k < 4; ++k)
          if (mask & (1u << k)) candidate[k] = P[k];
        if (fits(candidate, P, Cover)) {
          out = candidate;
          return;
        }
      }
  };
  if (Style.KeepFittingCorners && !fits(out, P, Cover)) keepFitting();
  for (int k = 0; k < 4; ++k) {
    if (fits(out, P, Cover)) break;
    out[k] = P[k];
  }
  if (!fits(out, P, Cover) || RoundedQuad(out) == RoundedQuad(P)) return std::nullopt;
  return out;
}

}  // namespace

bool TakesNoUnderlap(const std::string& Type) {
  return Type == "disc" || Type == "discreflection" || Type == "roundrect";
}

void UnderlapSharedEdges(std::vector<TSceneItem>& Items, double Reach, double UnderlayReach, int Rules) {
  if (Reach <= 0) return;
  std::vector<TPlaneQuad> moved;
  moved.reserve(Items.size());
  for (std::size_t i = 0; i < Items.size(); ++i) {
    TSceneItem& a = Items[i];
    TPlaneQuad corners = a.Corners;
    if (TakesNoUnderlap(a.Type)) {
      moved.push_back(corners);
      continue;
    }
    std::array<std::vector<TCornerEdge>, 4> atCorner;
    std::array<std::optional<TSharedEdge>, 4> edges;
    bool tapers = false;
    for (int k = 0; k < 4; ++k) {
      const int k2 = (k + 1) % 4;
      const TVec3 &p = a.World[k], &q = a.World[k2];
      for (std::size_t j = i + 1; j < Items.size(); ++j) {
        const TSceneItem& b = Items[j];
        if (TakesNoUnderlap(b.Type) || !SharesEdge(b, p, q)) continue;
        const TPlanePoint &c1 = a.Corners[k], &c2 = a.Corners[k2];
        TPlanePoint n{c1.Y - c2.Y, c2.X - c1.X};
        const double length = Hypot(n.X, n.Y);
        if (length < 1e-9) continue;
        n = {n.X / length, n.Y / length};
        const TPlanePoint centre = QuadCentre(b.Corners);
        if ((centre.X - c1.X) * n.X + (centre.Y - c1.Y) * n.Y < 0) n = {-n.X, -n.Y};
        // Never reach more than halfway across a thin neighbour (a spine, a page edge).
        double across = (b.Corners[0].X - c1.X) * n.X + (b.Corners[0].Y - c1.Y) * n.Y;
        for (int m = 1; m < 4; ++m)
          across = std::max(across, (b.Corners[m].X - c1.X) * n.X + (b.Corners[m].Y - c1.Y) * n.Y);
        const double reach = std::min(Reach, 0.5 * across);
        edges[k] = TSharedEdge{n, j, across};
        atCorner[k].push_back({n, j, q, reach});
        atCorner[k2].push_back({n, j, p, reach});
        break;
      }
    }
    for (int k = 0; k < 4; ++k) {
      const auto& ns = atCorner[k];
      if (ns.empty()) continue;
      double dx, dy, reach;
      if (ns.size() == 1) {
        // One later neighbour: the corner is on the outline of the two. Extend this
        // quadrilateral's own other edge beyond the corner (sliding along the neighbour's edge
        // instead would notch this face's outline), but only so far that the extension sticks
        // out of the neighbour by at most kBump.
        const TPlanePoint n = ns[0].Normal;
        reach = ns[0].Reach;
        const TPlanePoint corner = a.Corners[k];
        int f = -1;
        for (int candidate : {(k + 1) % 4, (k + 3) % 4})
          if (!SamePoint(a.World[candidate], ns[0].Other)) {
            f = candidate;
            break;
          }
        if (f < 0) {
          tapers = true;
          continue;
        }
        double ux = corner.X - a.Corners[f].X, uy = corner.Y - a.Corners[f].Y;
        const double length = Hypot(ux, uy);
        const double along = length > 1e-9 ? (ux * n.X + uy * n.Y) / length : 0.0;
        if (along < 0.2) {
          tapers = true;
          continue;
        }
        ux = ux / length;
        uy = uy / length;
        const double full = reach / along;
        double extend = full;
        // The farthest the corner may go before it stands out of the neighbour by kBump, judged
        // on the integer corners the template will hold. Not moving at all always passes: the
        // corner then rounds to the neighbour's own corner.
        const TPlaneQuad target = RoundedQuad(Items[ns[0].Neighbour].Corners);
        constexpr int kSteps = 24;
        for (int s = kSteps; s >= 0; --s) {
          const double t = extend * s / kSteps;
          if (QuadDistance(RoundedPoint({corner.X + ux * t, corner.Y + uy * t}), target) <= kBump) {
            extend = t;
            break;
          }
        }
        tapers = tapers || extend < 0.999 * full;
        if (extend <= 0) continue;
        dx = ux * extend / reach;
        dy = uy * extend / reach;
      } else {
        const TPlanePoint na = ns[0].Normal, nb = ns[1].Normal;
        reach = std::min(ns[0].Reach, ns[1].Reach);
        const double scale = 1.0 + na.X * nb.X + na.Y * nb.Y;
        if (scale < 0.2) {  // nearly opposite edges: leave the corner where it is
          tapers = true;
          continue;
        }
        dx = (na.X + nb.X) / scale;
        dy = (na.Y + nb.Y) / scale;
      }
      corners[k] = {a.Corners[k].X + reach * dx, a.Corners[k].Y + reach * dy};
    }
    // By rules 2 every face with a later neighbour gets underlays: 3 units of reach are less than a
    // pixel in small pictures.
    const bool shares = std::any_of(edges.begin(), edges.end(), [](const auto& e) { return e.has_value(); });
    if ((tapers || (Rules > kFirstSeamRules && shares)) && UnderlayReach > 0 && !IsReflection(a.Type)) {
      std::array<bool, 4> outline;
      for (int k = 0; k < 4; ++k) {
        const TVec3 &p = a.World[k], &q = a.World[(k + 1) % 4];
        outline[k] = true;
        for (std::size_t j = 0; j < Items.size() && outline[k]; ++j) {
          const TSceneItem& b = Items[j];
          if (j != i && !TakesNoUnderlap(b.Type) && !IsReflection(b.Type) && SharesEdge(b, p, q)) outline[k] = false;
        }
      }
      std::vector<TPlaneQuad> cover;
      for (std::size_t j = i; j < Items.size(); ++j)
        if (!TakesNoUnderlap(Items[j].Type)) cover.push_back(RoundedQuad(Items[j].Corners));
      auto underlay = [&](const TUnderlayStyle& style) {
        return UnderlayCorners(Items, a, edges, outline, UnderlayReach, kUnderlayInset, cover, style);
      };
      if (Rules <= kFirstSeamRules) {
        a.Underlay = underlay(kFirstRulesUnderlay);
      } else {
        a.Underlay = underlay(kLongSlideUnderlay);
        a.CornerUnderlay = underlay(kShortSlideUnderlay);
        if (a.CornerUnderlay && a.Underlay && RoundedQuad(*a.CornerUnderlay) == RoundedQuad(*a.Underlay))
          a.CornerUnderlay.reset();
      }
    }
    moved.push_back(corners);
  }
  for (std::size_t i = 0; i < Items.size(); ++i) Items[i].Corners = moved[i];
}

}  // namespace quirlon::core
