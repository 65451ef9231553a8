"""The outcome table as text, and as one self-contained HTML page with a bar chart per release."""

from html import escape

from .report import NO_RELEASE, ReleaseOutcome, ReportLog

CHECKS_TITLE = "checks that failed (no release offered)"
BAR_HEIGHT, BAR_GAP, LABEL_WIDTH, CHART_WIDTH = 18, 6, 200, 640
COLOURS = {"tried": "#5b7db1", "installed": "#3c9a5f", "failed": "#c0504d", "failure": "#e0a040"}


def _plural(count: int, word: str) -> str:
    return f"{count} {word}{'' if count == 1 else 's'}"


def _title(outcome: ReleaseOutcome) -> str:
    return CHECKS_TITLE if outcome.release == NO_RELEASE else f"release {outcome.release}"


def failure_rows(outcome: ReleaseOutcome) -> list[tuple[str, int, int]]:
    """(step, cause and code, reports, distinct offices), most offices first; a report that names no cause
    shows none."""
    rows = [(" ".join(filter(None, (step, cause, str(code)))), len(offices), len(set(offices)))
            for (step, cause, code), offices in outcome.failures.items()]
    return sorted(rows, key=lambda row: (-row[2], -row[1], row[0]))


def text_report(log: ReportLog) -> str:
    lines = [f"{_plural(log.lines, 'line')} in {_plural(len(log.files), 'file')}, "
             f"{log.ignored} not a well-formed report (ignored)", *log.damaged, ""]
    releases = [outcome for outcome in log.releases if outcome.release != NO_RELEASE]
    if releases:
        width = max(len(outcome.release) for outcome in releases) + 2
        lines.append(f"{'release'.ljust(width)}{'tried':>8}{'installed':>11}{'failed':>8}")
        lines += [f"{outcome.release.ljust(width)}{outcome.tried:>8}{outcome.installed:>11}{outcome.failed:>8}"
                  for outcome in releases]
    for outcome in log.releases:
        rows = failure_rows(outcome)
        if not rows:
            continue
        title = _title(outcome)
        if outcome.release == NO_RELEASE:
            title += f": {_plural(outcome.tried, 'office')}"
        lines += ["", f"{title}, failures by step, cause and code:"]
        lines += [f"  {label:<29} {_plural(reports, 'report')} from {_plural(offices, 'office')}"
                  for label, reports, offices in rows]
    return "\n".join(lines) + "\n"


def _bars(rows: list[tuple[str, int, str]]) -> str:
    """An inline SVG with one labelled horizontal bar per (label, value, colour)."""
    largest = max([value for _, value, _ in rows] + [1])
    height = len(rows) * (BAR_HEIGHT + BAR_GAP) + BAR_GAP
    parts = [f'<svg width="{CHART_WIDTH}" height="{height}" role="img">']
    for index, (label, value, colour) in enumerate(rows):
        top = BAR_GAP + index * (BAR_HEIGHT + BAR_GAP)
        width = round((CHART_WIDTH - LABEL_WIDTH - 60) * value / largest)
        parts += [f'<text x="{LABEL_WIDTH - 8}" y="{top + 13}" text-anchor="end">{escape(label)}</text>',
                  f'<rect x="{LABEL_WIDTH}" y="{top}" width="{width}" height="{BAR_HEIGHT}" fill="{colour}"/>',
                  f'<text x="{LABEL_WIDTH + width + 6}" y="{top + 13}">{value}</text>']
    return "".join(parts) + "</svg>"


def _section(outcome: ReleaseOutcome) -> str:
    rows = failure_rows(outcome)
    counts = [("offices tried", outcome.tried, COLOURS["tried"])]
    if outcome.release != NO_RELEASE:
        counts += [("installed", outcome.installed, COLOURS["installed"]),
                   ("failed", outcome.failed, COLOURS["failed"])]
    chart = _bars(counts + [(f"failed at {label}", offices, COLOURS["failure"]) for label, _, offices in rows])
    table = "".join(f"<tr><td>{escape(label)}</td><td>{reports}</td><td>{offices}</td></tr>"
                    for label, reports, offices in rows)
    failures = (f"<table><tr><th>step, cause and code</th><th>reports</th><th>offices</th></tr>{table}</table>"
                if rows else "<p>No failures.</p>")
    return f"<section><h2>{escape(_title(outcome))}</h2>{chart}{failures}</section>"


def html_report(log: ReportLog) -> str:
    """One page that needs nothing else: no script, no style sheet, image or font from elsewhere."""
    summary = "".join(f"<tr><td>{escape(outcome.release)}</td><td>{outcome.tried}</td>"
                      f"<td>{outcome.installed}</td><td>{outcome.failed}</td></tr>"
                      for outcome in log.releases if outcome.release != NO_RELEASE)
    notes = "".join(f"<p>{escape(note)}</p>" for note in log.damaged)
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>NIRVA update outcomes</title>"
            "<style>body{font-family:sans-serif;margin:2em}td,th{padding:2px 12px;text-align:right}"
            "td:first-child,th:first-child{text-align:left}svg text{font-size:12px}</style></head><body>"
            f"<h1>NIRVA update outcomes</h1><p>{_plural(log.lines, 'line')} in {_plural(len(log.files), 'file')}, "
            f"{log.ignored} not a well-formed report (ignored).</p>{notes}"
            "<table><tr><th>release</th><th>offices tried</th><th>installed</th><th>failed</th></tr>"
            f"{summary}</table>{''.join(_section(outcome) for outcome in log.releases)}</body></html>\n")
