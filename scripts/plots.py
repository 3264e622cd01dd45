#!/usr/bin/python3
"""Draws the pictures of the guide and the README from what the examples and
a benchmark wrote: the four result layouts as coloured grids, every cubic
kind on rising data with its first two derivatives, the extrapolation modes
outside a partition, smoothing and least-squares fits of noisy samples, and
interpolation throughput against the number of
sites. Run by the CMake target `plots`:

    plots.py CSV_DIR IMAGE_DIR
"""
import csv
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

LAYOUTS = ["funcs_sites_ders", "funcs_ders_sites", "sites_funcs_ders", "sites_ders_funcs"]
FUNCTION_COLOURS = ["#4c72b0", "#dd8452", "#55a868", "#c44e52"]


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def layout_grids(csv_dir, image_dir):
    """One row of cells per layout: the cell at index i is coloured by the
    function it holds, shaded by derivative order, labelled site and order."""
    fig, axes = plt.subplots(len(LAYOUTS), 1, figsize=(11, 1.3 * len(LAYOUTS)))
    for ax, name in zip(axes, LAYOUTS):
        rows = read_rows(os.path.join(csv_dir, f"layout_{name}.csv"))
        orders = 1 + max(int(r["order"]) for r in rows)
        for r in rows:
            i, f, s, d = (int(r[k]) for k in ("index", "function", "site", "order"))
            colour = FUNCTION_COLOURS[f % len(FUNCTION_COLOURS)]
            ax.add_patch(plt.Rectangle((i, 0), 1, 1, facecolor=colour, alpha=1.0 - 0.6 * d / orders,
                                       edgecolor="white"))
            ax.text(i + 0.5, 0.5, f"f{f}\ns{s} d{d}", ha="center", va="center", fontsize=7)
        ax.set_xlim(0, len(rows))
        ax.set_ylim(0, 1)
        ax.set_yticks([])
        ax.set_xticks(range(0, len(rows) + 1, 2))
        ax.set_title(f"interpolate_hint::{name}: results[index] holds order d of function f at site s",
                     fontsize=9, loc="left")
    fig.tight_layout()
    fig.savefig(os.path.join(image_dir, "layouts.png"), dpi=110)
    plt.close(fig)


# The cubic kinds by family, a column each, so that no curve hides under
# another; within a column each kind has its own line style.
KIND_FAMILIES = [
    ("C2 slopes: natural, Hyman", ["natural", "hyman"]),
    ("Akima's rule: akima, makima", ["akima", "makima"]),
    ("three-point rules: bessel, pchip, steffen", ["bessel", "pchip", "steffen"]),
]
LINE_STYLES = ["-", "--", ":"]


def spline_kinds(csv_dir, image_dir):
    rows = read_rows(os.path.join(csv_dir, "spline_kinds.csv"))
    data = read_rows(os.path.join(csv_dir, "spline_kinds_data.csv"))
    fig, axes = plt.subplots(3, len(KIND_FAMILIES), figsize=(13, 8), sharex=True, sharey="row")
    for col, (title, kinds) in enumerate(KIND_FAMILIES):
        for row, (column, label) in enumerate(zip(("value", "first", "second"),
                                                  ("value", "first derivative", "second derivative"))):
            ax = axes[row][col]
            for kind, style in zip(kinds, LINE_STYLES):
                pts = [r for r in rows if r["kind"] == kind]
                ax.plot([float(r["x"]) for r in pts], [float(r[column]) for r in pts], style, label=kind,
                        linewidth=1.4)
            if col == 0:
                ax.set_ylabel(label)
            ax.grid(alpha=0.3)
        top = axes[0][col]
        top.plot([float(r["x"]) for r in data], [float(r["y"]) for r in data], "ko", markersize=4, label="data")
        top.set_title(title, fontsize=10)
        top.legend(fontsize=8)
        axes[-1][col].set_xlabel("x")
    fig.suptitle("Cubic kinds on rising data with flat runs and a steep rise (examples/spline_kinds.cpp)")
    fig.tight_layout()
    fig.savefig(os.path.join(image_dir, "spline_kinds.png"), dpi=110)
    plt.close(fig)


def outside(csv_dir, image_dir):
    """One panel per extrapolation mode: the spline on and beyond its
    partition, the partition's ends marked."""
    rows = read_rows(os.path.join(csv_dir, "outside.csv"))
    data = read_rows(os.path.join(csv_dir, "outside_data.csv"))
    modes = list(dict.fromkeys(r["mode"] for r in rows))
    xs = [float(r["x"]) for r in data]
    fig, axes = plt.subplots(1, len(modes), figsize=(3 * len(modes), 2.8), sharex=True, sharey=True)
    for ax, mode in zip(axes, modes):
        pts = [r for r in rows if r["mode"] == mode]
        ax.plot([float(r["x"]) for r in pts], [float(r["value"]) for r in pts], "-", linewidth=1.4)
        ax.plot(xs, [float(r["y"]) for r in data], "ko", markersize=3)
        for end in (min(xs), max(xs)):
            ax.axvline(end, color="grey", linewidth=0.8, linestyle=":")
        ax.set_title(f"extrapolation::{mode}", fontsize=9)
        ax.set_xlabel("x")
        ax.grid(alpha=0.3)
    axes[0].set_ylabel("value")
    fig.suptitle("Outside the partition [0, 4] (examples/outside.cpp)", fontsize=10)
    fig.tight_layout()
    fig.savefig(os.path.join(image_dir, "outside.png"), dpi=110)
    plt.close(fig)


def fit_noisy_data(csv_dir, image_dir):
    """Noisy samples of one series with the smoothing spline chosen by
    cross-validation, the least-squares spline on 10 knots and the truth."""
    rows = read_rows(os.path.join(csv_dir, "fit_noisy_data.csv"))
    samples = read_rows(os.path.join(csv_dir, "fit_noisy_data_samples.csv"))
    xs = [float(r["x"]) for r in rows]
    fig, ax = plt.subplots(figsize=(9, 3.6))
    ax.plot([float(r["x"]) for r in samples], [float(r["y"]) for r in samples], ".", color="#999999",
            markersize=3, label="noisy samples")
    ax.plot(xs, [float(r["truth"]) for r in rows], "k:", linewidth=1.2, label="true curve")
    ax.plot(xs, [float(r["smoothing"]) for r in rows], "-", linewidth=1.6,
            label="cubic_spline::smoothing, lambda by cross-validation")
    ax.plot(xs, [float(r["least_squares"]) for r in rows], "--", linewidth=1.6,
            label="cubic_spline::least_squares on 10 knots")
    ax.set_xlabel("x")
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8, loc="lower right")
    ax.set_title("Fitting noisy data (examples/fit_noisy_data.cpp)", fontsize=10)
    fig.tight_layout()
    fig.savefig(os.path.join(image_dir, "fit_noisy_data.png"), dpi=110)
    plt.close(fig)


def throughput(csv_dir, image_dir):
    with open(os.path.join(csv_dir, "sites.json")) as f:
        runs = json.load(f)["benchmarks"]
    series = {}
    for run in runs:
        if run.get("run_type", "iteration") != "iteration":
            continue
        _, device, hint, sites = run["name"].split("/")[:4]
        series.setdefault((device, hint), []).append((int(sites), run["items_per_second"]))
    devices = sorted({d for d, _ in series})
    fig, axes = plt.subplots(1, len(devices), figsize=(5.5 * len(devices), 4), squeeze=False)
    for ax, device in zip(axes[0], devices):
        for (d, hint), points in sorted(series.items()):
            if d != device:
                continue
            points.sort()
            ax.loglog([p[0] for p in points], [p[1] for p in points], "o-", label=hint)
        ax.set_title(f"{device} queue: cubic Hermite, double, nx = 10^4")
        ax.set_xlabel("sites per call")
        ax.set_ylabel("sites per second")
        ax.grid(alpha=0.3, which="both")
        ax.legend(title="partition hint", fontsize=8)
    fig.tight_layout()
    fig.savefig(os.path.join(image_dir, "throughput.png"), dpi=110)
    plt.close(fig)


def main():
    csv_dir, image_dir = sys.argv[1], sys.argv[2]
    os.makedirs(image_dir, exist_ok=True)
    layout_grids(csv_dir, image_dir)
    spline_kinds(csv_dir, image_dir)
    outside(csv_dir, image_dir)
    fit_noisy_data(csv_dir, image_dir)
    throughput(csv_dir, image_dir)


if __name__ == "__main__":
    main()
