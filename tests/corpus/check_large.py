#!/usr/bin/env python3
"""Compares Vellumor with the office's own converter over a large corpus of real documents.

1. Runs the input check (the input-check program of tests/corpus) over every file of the corpus
   and compares it with manifest.tsv: every file soffice converted must be accepted. Lists the
   ones refused although soffice converted them (a failure), and those accepted although soffice
   did not convert them (fine when the worker then fails them with a reason).
2. With --cli, converts the corpus for real with vellumor-cli (or reads an earlier --json report
   given with --report) and lists every file whose page count differs from soffice_pages by more
   than 10%, with the fonts of our PDF that stand in for fonts the document asks for.

  check_large.py --input-check build/x/tests/corpus/input-check [--cli build/x/cli/vellumor-cli]
Exit status: 1 when a file soffice converted is refused, or a file it converted failed with us.
"""
import argparse
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from collections import Counter
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent.parent / "shared" / "corpus-large"
# Fonts the office lays text out in when the document's own font is not installed.
FALLBACK_FONTS = ("DejaVu", "Liberation", "Carlito", "Caladea", "OpenSymbol", "Noto", "FreeSans",
                  "FreeSerif", "WenQuanYi", "Droid")


def read_manifest(corpus):
    with open(corpus / "manifest.tsv", newline="", encoding="utf-8") as f:
        return {row["file"]: row for row in csv.DictReader(f, delimiter="\t")}


def run_input_check(program, corpus, names):
    verdicts = {}
    for start in range(0, len(names), 200):
        batch = [str(corpus / n) for n in names[start:start + 200]]
        out = subprocess.run([program, *batch], capture_output=True, text=True, check=False)
        for line in out.stdout.splitlines():
            path, kind, reason = (line.split("\t") + ["", ""])[:3]
            verdicts[Path(path).name] = (kind, reason)
        if out.stderr:
            sys.stderr.write(out.stderr)
    return verdicts


def requested_fonts(document):
    """Font names a .docx asks for in its text and styles (empty for other formats)."""
    try:
        with zipfile.ZipFile(document) as z:
            text = ""
            for part in ("word/document.xml", "word/styles.xml"):
                if part in z.namelist():
                    text += z.read(part).decode("utf-8", "replace")
    except (zipfile.BadZipFile, OSError, KeyError):
        return set()
    return set(re.findall(r'w:(?:ascii|hAnsi)="([^"]+)"', text))


def pdf_fonts(pdf):
    """Base names of the fonts in a PDF (subset prefixes dropped)."""
    try:
        out = subprocess.run(["pdffonts", str(pdf)], capture_output=True, text=True, check=False)
    except FileNotFoundError:
        return None
    names = set()
    for line in out.stdout.splitlines()[2:]:
        if line.strip():
            name = line.split()[0].split("+")[-1]
            names.add(re.split(r"[-,]", name)[0])
    return names


def squash(name):
    return re.sub(r"[^a-z0-9]", "", name.lower())


# Stand-ins with the widths of the fonts they replace: the page breaks stay where Word put them.
METRIC_TWINS = {"arial": "LiberationSans", "helvetica": "LiberationSans",
                "timesnewroman": "LiberationSerif", "times": "LiberationSerif",
                "couriernew": "LiberationMono", "courier": "LiberationMono",
                "calibri": "Carlito", "cambria": "Caladea"}


def font_note(document, pdf):
    fonts = pdf_fonts(pdf)
    if fonts is None:
        return "pdffonts is not installed"
    present = {squash(f) for f in fonts}
    if not str(document).lower().endswith(".docx"):
        return "PDF fonts: %s (a .doc does not name its fonts to this script)" % ", ".join(
            sorted(fonts))
    missing = sorted({f.split(",")[0] for f in requested_fonts(document)
                      if squash(f.split(",")[0]) not in present})
    twins = sorted(f for f in missing if squash(METRIC_TWINS.get(squash(f), "-")) in present)
    others = [f for f in missing if f not in twins]
    stand_ins = sorted(f for f in fonts if f.startswith(FALLBACK_FONTS))
    parts = []
    if twins:
        parts.append("metric-compatible stand-ins for %s" % ", ".join(twins))
    if others:
        parts.append("substituted: %s (PDF has %s)" % (", ".join(others), ", ".join(stand_ins)))
    return "; ".join(parts) if parts else "no font substitution seen"


def convert(cli, corpus, jobs, engine, out, only=None):
    report = out / "report.json"
    command = [cli, "--jobs", str(jobs), "-o", str(out / "pdf"), "--json", str(report)]
    if engine:
        command += ["--engine", engine]
    inputs = [str(corpus / n) for n in only] if only is not None else [str(corpus)]
    subprocess.run(command + inputs, check=False, stdout=subprocess.DEVNULL)
    return report


def suspects(names, verdicts, manifest):
    """The files an office could turn into a PDF of junk: encrypted ones, content the input check
    leaves to the office, and those soffice itself did not convert."""
    return [n for n in names if n.lower().endswith((".doc", ".docx")) and (
        verdicts.get(n, ("",))[0].startswith(("Encrypted", "Unknown"))
        or "office detects" in verdicts.get(n, ("",))[0]
        or manifest[n]["soffice_pdf"] != "yes")]


def first_page_junk(pdf):
    """The share of the first page's characters that are the marks an office's text import of
    binary data leaves ('#' for control bytes, Latin-1 and spacing-modifier letters, the
    replacement character, private use), among at least 100 that are not spaces; else 0."""
    out = subprocess.run(["pdftotext", "-l", "1", "-enc", "UTF-8", str(pdf), "-"],
                         capture_output=True, check=False)
    chars = [c for c in out.stdout.decode("utf-8", "replace") if not c.isspace()]
    if len(chars) < 100:
        return 0.0
    junk = sum(1 for c in chars if c == "#" or ord(c) < 0x20 or 0x7F <= ord(c) <= 0xFF
               or 0x2C0 <= ord(c) <= 0x2FF or c == "\ufffd" or 0xE000 <= ord(c) <= 0xF8FF)
    return junk / len(chars)


def not_pdfs(folder):
    """Everything in the output folder that is not a finished PDF (partial files, lock files)."""
    if not folder.is_dir():
        return []
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*")
                  if not (p.is_file() and p.suffix == ".pdf" and not p.name.startswith(".")))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--input-check", required=True, help="the input-check program")
    parser.add_argument("--corpus", type=Path, default=DEFAULT_CORPUS)
    parser.add_argument("--cli", help="vellumor-cli: convert the corpus and compare page counts")
    parser.add_argument("--report", type=Path, help="an earlier vellumor-cli --json report")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--engine", help="the worker vellumor-cli uses (--engine)")
    parser.add_argument("--keep", action="store_true", help="keep the PDFs and the report")
    parser.add_argument("--suspects-only", action="store_true",
                        help="convert only the files an office could read as junk (encrypted, "
                             "left to the office's detection, or not converted by soffice)")
    args = parser.parse_args()

    manifest = read_manifest(args.corpus)
    names = sorted(manifest)
    verdicts = run_input_check(args.input_check, args.corpus, names)
    failed = False

    kinds = Counter(verdicts.get(n, ("missing", ""))[0] for n in names)
    converted = [n for n in names if manifest[n]["soffice_pdf"] == "yes"]
    print("input check over %d files: %s" % (len(names), ", ".join(
        "%s %d" % kv for kv in sorted(kinds.items()))))
    refused = [n for n in converted if verdicts.get(n, ("Refused",))[0] in ("Refused", "missing")]
    print("soffice converted %d; refused by the check although soffice converted them: %d"
          % (len(converted), len(refused)))
    for n in refused:
        print("  REFUSED  %s: %s" % (n, verdicts.get(n, ("", "no verdict"))[1]))
    failed |= bool(refused)
    accepted_not_converted = [n for n in names if manifest[n]["soffice_pdf"] != "yes"
                              and verdicts.get(n, ("Refused",))[0] not in ("Refused", "missing")]
    print("accepted although soffice did not convert them: %d" % len(accepted_not_converted))
    for n in accepted_not_converted:
        print("  accepted %s (%s)" % (n, verdicts[n][0]))

    report = args.report
    work = None
    if args.cli:
        work = Path(tempfile.mkdtemp(prefix="vellumor-large-"))
        only = suspects(names, verdicts, manifest) if args.suspects_only else None
        if only is not None:
            print("converting the %d suspects only" % len(only))
            names = only
            converted = [n for n in converted if n in only]
            accepted_not_converted = [n for n in accepted_not_converted if n in only]
        report = convert(args.cli, args.corpus, args.jobs, args.engine, work, only)
        print("conversion report: %s" % report)
    if not report:
        return 1 if failed else 0
    try:
        return compare(args, manifest, names, converted, accepted_not_converted, report, work,
                       failed)
    finally:
        if work and not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def compare(args, manifest, names, converted, accepted_not_converted, report, work, failed):
    entries = json.loads(report.read_text(encoding="utf-8"))
    if isinstance(entries, dict):
        entries = entries.get("records", [])
    records = {Path(r["input"]).name: r for r in entries}
    documents = [n for n in names if n.lower().endswith((".doc", ".docx"))]
    print("records: %d for %d documents" % (len(entries), len(documents)))
    if len(entries) != len(documents) or len(records) != len(entries):
        print("  RECORDS  not one record per input")
        failed = True
    if work:
        stray = not_pdfs(work / "pdf")
        print("files in the output folder that are not finished PDFs: %d" % len(stray))
        for n in stray[:20]:
            print("  STRAY    %s" % n)
        failed |= bool(stray)
    # No PDF is a page of the office's text import of binary data.
    junk = [n for n, r in sorted(records.items()) if r.get("outcome") == "converted"
            and r.get("output") and first_page_junk(r["output"]) > 0.5]
    print("PDFs whose first page is mostly binary junk: %d" % len(junk))
    for n in junk:
        print("  JUNK     %s" % n)
    failed |= bool(junk)
    outcomes = Counter(r["outcome"] for r in records.values())
    print("vellumor-cli: %s" % ", ".join("%s %d" % kv for kv in sorted(outcomes.items())))
    lost = [n for n in converted if records.get(n, {}).get("outcome") != "converted"]
    print("soffice converted, vellumor did not: %d" % len(lost))
    for n in lost:
        print("  LOST     %s: %s" % (n, records.get(n, {}).get("reason", "no record")))
    failed |= bool(lost)
    print("accepted by the check, not converted by soffice; with vellumor:")
    for n in accepted_not_converted:
        r = records.get(n, {})
        print("  %-8s %s: %s" % (r.get("outcome", "?"), n, r.get("reason", "")))
    stems = Counter(Path(n).stem for n in names)
    differ = []
    for n in converted:
        ours = records.get(n, {}).get("pages")
        theirs = manifest[n]["soffice_pages"]
        if not ours or not theirs:
            continue
        theirs = int(theirs)
        if abs(ours - theirs) > 0.1 * theirs:
            differ.append((n, ours, theirs))
    same = sum(1 for n in converted if records.get(n, {}).get("pages") and
               manifest[n]["soffice_pages"] and
               records[n]["pages"] == int(manifest[n]["soffice_pages"]))
    print("pages equal to soffice: %d; differing by more than 10%%: %d" % (same, len(differ)))
    for n, ours, theirs in differ:
        twin = " (stem shared with another file: soffice's count may be its twin's)" \
            if stems[Path(n).stem] > 1 else ""
        note = font_note(args.corpus / n, records[n].get("output", ""))
        print("  PAGES    %s: ours %d, soffice %d%s; %s" % (n, ours, theirs, twin, note))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
