#!/usr/bin/python3
"""One protein's biased segments along its sequence, as a PNG (talvo.plot).

  PYTHONPATH=build/python /usr/bin/python3 python/examples/plot_segments.py \\
      FASTA NAME [--alphabet GPSTDNH] [--by q|p] [--size slide|print] [--output FILE]

NAME is the entry's ID, one of its '|' fields (SDRF_STAEP for
sp|Q9KI14|SDRF_STAEP) or the start of it. The segments are coloured by their
q-value over every segment of the file, as talvo-proteome computes it, or by
their p-value (--by p). The figure goes to --output, by default NAME.png in
the current directory.
"""
import argparse
import re
import sys

import talvo


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("fasta", help="FASTA file, plain or gzip")
    parser.add_argument("name", help="the entry's ID, a '|' field of it, or its start")
    parser.add_argument("-A", "--alphabet", default="GPSTDNH", help="the special residues")
    parser.add_argument("--by", choices=("q", "p"), default="q", help="colour by q- or p-value")
    parser.add_argument("--size", choices=("slide", "print"), default="slide")
    parser.add_argument("--dpi", type=float, help="dots per inch instead of the size's")
    parser.add_argument("-o", "--output", help="the PNG file (default: NAME.png here)")
    args = parser.parse_args()

    try:
        id_, result = talvo.analyse_entry(args.fasta, args.name, alphabet=args.alphabet)
    except (LookupError, ValueError, OSError) as error:
        sys.exit(f"plot_segments.py: {error}")
    table = talvo.proteome_table(args.fasta, all=True, alphabet=args.alphabet)
    rows = table[table.entry == result.entry_number]
    figure = talvo.plot(result, id_, alphabet=args.alphabet, size=args.size, dpi=args.dpi,
                        q_values=rows.q_value if args.by == "q" else None)
    output = args.output or re.sub(r"[^\w.-]", "_", id_.split("|")[-1]) + ".png"
    figure.savefig(output)
    significant = (rows.q_value < 0.05).sum()
    print(f"{output}: {id_}, {result.length} residues, {len(rows)} segments, "
          f"{significant} with q < 0.05")


if __name__ == "__main__":
    main()
