#!/usr/bin/env python3
"""How long a change at the head-end takes to reach every box (docs/fleet.md).

A box keeps one object in assembly per channel and drops the rest of a pass once a packet is
missing, so with per-datagram loss p it completes an object of k datagrams in a given cycle
with probability q = (1-p)^k, independently from cycle to cycle: the number of cycles J until
one box has it is geometric, P(J <= n) = 1-(1-q)^n, and all N boxes have it within n cycles
with probability (1-(1-q)^n)^N.

The receiver adds two things the formula leaves out: the carousel takes a change only at the
start of the channel's next cycle (a wait U, uniform over one cycle), and the object's last
packet leaves at a fraction f of the cycle. Time in cycles: X = U + (J-1) + f.

  fleet-model.py predict LOSS_PERCENT DATAGRAMS BOXES SAMPLES F DEADLINE
      -> "p50 P95 MAX SHARE", in cycles: the single-box median and 95th percentile of X, the
         median of the largest of SAMPLES draws (the max over all boxes and rounds), and the
         share of boxes that have the change within DEADLINE cycles.
  fleet-model.py table RATE_BITS [RATE_BITS...]
      -> the operator's table (markdown).
"""
import math
import sys

GRID = 400  # steps of U over one cycle


def completed_within(q, n):
    """P(J <= n) for whole cycles n."""
    if n < 1:
        return 0.0
    if q >= 1.0:
        return 1.0
    return -math.expm1(n * math.log1p(-q))


def cdf(q, f, x):
    """P(X <= x) with U uniform on [0, 1), averaged on a grid."""
    total = 0.0
    for i in range(GRID):
        u = (i + 0.5) / GRID
        total += completed_within(q, math.floor(x - u - f) + 1)
    return total / GRID


def quantile(q, f, target, power=1.0):
    """Smallest x (to 0.01 cycle) with cdf^power >= target."""
    lo, hi = 0.0, 1.0
    while cdf(q, f, hi) ** power < target:
        hi *= 2
        if hi > 1e9:
            return float("inf")
    for _ in range(60):
        mid = (lo + hi) / 2
        if cdf(q, f, mid) ** power >= target:
            hi = mid
        else:
            lo = mid
    return hi


def cycles_for(q, share, boxes):
    """Whole cycles n (formula only) with P(J<=n)^boxes >= share."""
    if q >= 1.0:
        return 1
    # (1-(1-q)^n)^N >= s  <=>  (1-q)^n <= 1 - s^(1/N)
    bound = -math.expm1(math.log(share) / boxes)
    return max(1, math.ceil(math.log(bound) / math.log1p(-q)))


def predict(loss, k, samples, f, deadline):
    q = (1 - loss / 100.0) ** k
    p50 = quantile(q, f, 0.5)
    p95 = quantile(q, f, 0.95)
    top = quantile(q, f, 0.5, samples)
    print(f"{p50:.2f} {p95:.2f} {top:.2f} {cdf(q, f, deadline):.4f}")


def table(rates):
    sizes = [1, 10, 100, 1000]
    fleets = [(10**3, "10^3"), (10**6, "10^6"), (10**7, "10^7")]
    for loss in (0, 1, 5):
        print(f"\nLoss {loss}%: cycles, and time at " +
              " / ".join(f"{r // 1000} kbit/s" for r in rates) + "\n")
        header = "| datagrams | 99% (any N) |"
        rule = "|---|---|"
        for _, name in fleets:
            header += f" all of {name} |"
            rule += "---|"
        print(header)
        print(rule)
        for k in sizes:
            q = (1 - loss / 100.0) ** k
            cycle_s = [k * 1400 * 8 / r for r in rates]
            cells = []
            n99 = cycles_for(q, 0.99, 1)
            for n in [n99] + [cycles_for(q, 0.99, n_boxes) for n_boxes, _ in fleets]:
                if n > 10**7:
                    cells.append(f"never (q = {q:.1e})")
                    continue
                # One more cycle at most for the change to be taken up.
                seconds = " / ".join(fmt_seconds((n + 1) * c) for c in cycle_s)
                cells.append(f"{n:,} ({seconds})")
            print(f"| {k} | " + " | ".join(cells) + " |")


def fmt_seconds(s):
    if s < 60:
        return f"{s:.3g} s"
    if s < 3600:
        return f"{s / 60:.3g} min"
    if s < 86400:
        return f"{s / 3600:.3g} h"
    return f"{s / 86400:.3g} d"


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "predict" and len(sys.argv) == 8:
        predict(float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[5]), float(sys.argv[6]),
                float(sys.argv[7]))
    elif len(sys.argv) >= 3 and sys.argv[1] == "table":
        table([int(r) for r in sys.argv[2:]])
    else:
        sys.exit(__doc__)
