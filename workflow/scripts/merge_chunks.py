#!/usr/bin/env python3
"""Merges the results files of the chunks of a Quillmark run (quillmark --chunk I/N) into one.

    merge_chunks.py --info CN.info --out results.out --chunks C1 .. CN --logs L1 .. LN
                    [--tables T1 .. TN --table-out results.out.tsv]

C1 .. CN are the chunks' results files in chunk order and L1 .. LN their standard output.
Every chunk is checked before anything is written: its results file must exist, end with a
whole line, hold the two header lines and one line for each probe of its range of the
called-CN information file (chunk I of N over P probes holds probes floor((I-1)P/N) to
floor(IP/N) - 1, as quillmark splits them), named as there; its standard output must end
with "Quillmark complete". The merged file holds the header lines once and the chunks' probe
lines in order: the results file of the whole run. With --tables, the chunks' extended
tables (RESULT_FILE.tsv of each chunk) are checked the same way (one header line, shared by
all chunks, and one row per probe, named as in the information file) and merged into
--table-out. A refused chunk is named on standard error with the reason, nothing is written,
and the exit status is 1.
"""

import argparse
import os
import sys

HEADER = [
    "Chr   Position     CN/SNP-id      pfb   Test-Stat   p-Value \n",
    "---  ---------  ---------------  -----  ---------  ---------\n",
]
COMPLETE = "\nQuillmark complete: "


class Refused(Exception):
    pass


def probe_names(info_path):
    with open(info_path) as info:
        return [line.split()[0] for line in info if line.split()]


def chunk_lines(index, count, results_path, log_path, names):
    """The probe lines of chunk `index` (from 1) of `count`, after checking it."""
    where = f"chunk {index} of {count}"
    if not os.path.isfile(results_path):
        raise Refused(f"{where}: results file '{results_path}' is missing")
    try:
        with open(log_path) as log:
            output = log.read()
    except OSError:
        raise Refused(f"{where}: its standard output '{log_path}' is missing")
    if COMPLETE not in output:
        raise Refused(f"{where}: '{log_path}' has no line 'Quillmark complete'; "
                      "the run stopped with an error or was interrupted")
    with open(results_path) as results:
        text = results.read()
    if text and not text.endswith("\n"):
        raise Refused(f"{where}: '{results_path}' ends inside a line")
    lines = text.splitlines(keepends=True)
    if lines[:2] != HEADER:
        raise Refused(f"{where}: '{results_path}' does not start with the two header lines")
    first = (index - 1) * len(names) // count
    last = index * len(names) // count
    probes = lines[2:]
    if len(probes) != last - first:
        raise Refused(f"{where}: '{results_path}' has {len(probes)} probe lines; its range of "
                      f"the information file has {last - first} probes")
    for offset, line in enumerate(probes):
        tokens = line.split()
        if len(tokens) < 3 or tokens[2] != names[first + offset]:
            raise Refused(f"{where}: '{results_path}', line {offset + 3} is not the line of "
                          f"probe '{names[first + offset]}'")
    return probes


def table_rows(index, count, table_path, names):
    """The rows of chunk `index`'s extended table after its header, after checking them."""
    where = f"chunk {index} of {count}"
    if not os.path.isfile(table_path):
        raise Refused(f"{where}: extended table '{table_path}' is missing")
    with open(table_path) as table:
        text = table.read()
    if not text.endswith("\n"):
        raise Refused(f"{where}: '{table_path}' ends inside a line")
    lines = text.splitlines(keepends=True)
    first = (index - 1) * len(names) // count
    last = index * len(names) // count
    rows = lines[1:]
    if len(rows) != last - first:
        raise Refused(f"{where}: '{table_path}' has {len(rows)} rows; its range of the "
                      f"information file has {last - first} probes")
    for offset, row in enumerate(rows):
        fields = row.split("\t")
        if len(fields) < 3 or fields[2] != names[first + offset]:
            raise Refused(f"{where}: '{table_path}', line {offset + 2} is not the row of "
                          f"probe '{names[first + offset]}'")
    return lines[0], rows


def write_atomically(path, lines):
    # Written beside the target and renamed, so the file is never seen half-written.
    partial = path + ".partial"
    with open(partial, "w") as out:
        out.writelines(lines)
    os.replace(partial, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--info", required=True, help="the called-CN information file")
    parser.add_argument("--out", required=True, help="the merged results file")
    parser.add_argument("--chunks", nargs="+", required=True, help="chunk results files")
    parser.add_argument("--logs", nargs="+", required=True, help="chunk standard outputs")
    parser.add_argument("--tables", nargs="+", default=[], help="chunk extended tables")
    parser.add_argument("--table-out", help="the merged extended table")
    args = parser.parse_args()
    if len(args.chunks) != len(args.logs):
        parser.error("--chunks and --logs need one file per chunk each")
    if args.tables and (len(args.tables) != len(args.chunks) or not args.table_out):
        parser.error("--tables needs one file per chunk and --table-out")

    try:
        names = probe_names(args.info)
        merged = list(HEADER)
        for index, (results_path, log_path) in enumerate(zip(args.chunks, args.logs), start=1):
            merged += chunk_lines(index, len(args.chunks), results_path, log_path, names)
        table = []
        for index, table_path in enumerate(args.tables, start=1):
            header, rows = table_rows(index, len(args.tables), table_path, names)
            if table and header != table[0]:
                raise Refused(f"chunk {index} of {len(args.tables)}: '{table_path}' has another "
                              "header than chunk 1's")
            table = table or [header]
            table += rows
    except Refused as refused:
        print(f"Error: {refused}.", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"Error: {error}.", file=sys.stderr)
        return 1

    if args.tables:
        write_atomically(args.table_out, table)
    write_atomically(args.out, merged)
    return 0


if __name__ == "__main__":
    sys.exit(main())
