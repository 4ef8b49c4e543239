#!/usr/bin/python3
"""One protein's biased segments along its sequence, as a PNG figure.

  PYTHONPATH=build/python /usr/bin/python3 python/examples/plot_segments.py \
      [FASTA] [ID] [ALPHABET] [OUTPUT]

Defaults: examples/two_proteins.fa, 7LESS_DROME, RK, docs/python-segments.png.
Top: every segment at the height of its -log10 p-value, those below 0.05 in
colour. Bottom: the fraction of special residues in a sliding window of 25.
"""
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import talvo  # noqa: E402

SMOOTHING = 25


def sliding_fraction(sequence, alphabet, width):
    special = [residue in alphabet for residue in sequence]
    total = sum(special[:width])
    fractions = [total / width]
    for i in range(width, len(special)):
        total += special[i] - special[i - width]
        fractions.append(total / width)
    return range(width // 2 + 1, width // 2 + 1 + len(fractions)), fractions


def main():
    path, wanted, alphabet, output = (sys.argv[1:] + [None] * 4)[:4]
    path = path or "examples/two_proteins.fa"
    wanted = wanted or "7LESS_DROME"
    alphabet = alphabet or "RK"
    output = output or "docs/python-segments.png"
    result = next(result for _, id_, result in talvo.analyse_file(path, alphabet=alphabet)
                  if id_ == wanted)

    figure, (top, bottom) = plt.subplots(2, 1, figsize=(8, 3.6), sharex=True,
                                         gridspec_kw={"height_ratios": [2, 1]})
    for segment in result.segments:
        significant = segment.p_value < 0.05
        height = score(segment.p_value)
        top.plot([segment.start, segment.end + 1], [height, height], linewidth=4 if significant else 2,
                 color="crimson" if significant else "0.6", solid_capstyle="butt")
        if significant:
            top.annotate(f"{segment.start}-{segment.end}  {segment.residues}\np = {segment.p_value:.2g}",
                         (segment.start, height), xytext=(-8, 0), textcoords="offset points",
                         ha="right", va="center", fontsize=8)
    top.axhline(score(0.05), color="0.3", linestyle="--", linewidth=0.8)
    top.set_ylim(-0.3, max(score(s.p_value) for s in result.segments) * 1.1 + 0.6)
    top.set_ylabel("-log10 p")
    top.set_title(f"{wanted}: segments of special residues {alphabet}", fontsize=10)
    positions, fractions = sliding_fraction(result.sequence, alphabet, SMOOTHING)
    bottom.plot(positions, fractions, color="steelblue", linewidth=0.8)
    bottom.axhline(result.special_probability, color="0.3", linestyle="--", linewidth=0.8)
    bottom.set_ylabel(f"{alphabet} in {SMOOTHING}")
    bottom.set_xlabel("position")
    bottom.set_xlim(1, result.length)
    figure.tight_layout()
    figure.savefig(output, dpi=100)
    print(f"{output}: {len(result.segments)} segments of {wanted}")


def score(p):
    """-log10 p; p = 0 (possible with random sequences) at the top of the scale."""
    return -math.log10(max(p, 1e-300))


if __name__ == "__main__":
    main()
