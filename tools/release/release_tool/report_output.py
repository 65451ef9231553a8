"""The outcome table as text, and as one self-contained HTML page with a bar chart per release and,
over time, the offices that installed it and the failure share of each of its stages."""

import datetime
from html import escape

from .report import INSTALLED, NO_RELEASE, ReleaseOutcome, ReportLog

CHECKS_TITLE = "checks that failed (no release offered)"
BAR_HEIGHT, BAR_GAP, LABEL_WIDTH, CHART_WIDTH = 18, 6, 280, 720
COLOURS = {"tried": "#5b7db1", "installed": "#3c9a5f", "failed": "#c0504d", "rolledback": "#8064a2",
           "failure": "#e0a040"}
# The two counts of failures, which differ: an office that failed and later
# installed counts as installed, while its failed attempts stay listed.
LATEST_FAILED = "offices whose latest report failed"
LATEST_ROLLED_BACK = "offices whose latest report rolled back"
ATTEMPTS = "failed attempts, by step and code (offices)"
TIME_CHART_WIDTH, TIME_CHART_HEIGHT, TIME_MARGIN = 640, 180, 40


def _plural(count: int, word: str) -> str:
    return f"{count} {word}{'' if count == 1 else 's'}"


def _title(outcome: ReleaseOutcome) -> str:
    return CHECKS_TITLE if outcome.release == NO_RELEASE else f"release {outcome.release}"


def failure_rows(outcome: ReleaseOutcome) -> list[tuple[str, int, int]]:
    """(step and code, reports, distinct offices), most offices first."""
    rows = [(f"{step} {code}", len(offices), len(set(offices))) for (step, code), offices in outcome.failures.items()]
    return sorted(rows, key=lambda row: (-row[2], -row[1], row[0]))


def _share(outcome: ReleaseOutcome) -> str:
    return f"{outcome.failure_share:.1f} %"


def text_report(log: ReportLog) -> str:
    lines = [f"{_plural(log.lines, 'line')} in {_plural(len(log.files), 'file')}, "
             f"{log.ignored} not a well-formed report (ignored)", *log.damaged, ""]
    releases = [outcome for outcome in log.releases if outcome.release != NO_RELEASE]
    if releases:
        width = max(len(outcome.release) for outcome in releases) + 2
        lines.append(f"{'release'.ljust(width)}{'tried':>8}{'installed':>11}{'failed':>8}{'rolled back':>13}"
                     f"{'failure share':>15}")
        lines += [f"{outcome.release.ljust(width)}{outcome.tried:>8}{outcome.installed:>11}{outcome.failed:>8}"
                  f"{outcome.rolled_back:>13}{_share(outcome):>15}" for outcome in releases]
        lines.append("(failure share: offices whose latest report failed or rolled back, of those that tried)")
    for outcome in log.releases:
        rows = failure_rows(outcome)
        if not rows:
            continue
        title = _title(outcome)
        if outcome.release == NO_RELEASE:
            title += f": {_plural(outcome.tried, 'office')}"
        lines += ["", f"{title}, failed attempts by step and code:"]
        lines += [f"  {label:<22}{_plural(reports, 'report')} from {_plural(offices, 'office')}"
                  for label, reports, offices in rows]
    return "\n".join(lines) + "\n"


def _bars(rows: list[tuple[str, int | None, str]]) -> str:
    """An inline SVG with one labelled horizontal bar per (label, value, colour);
    a row without a value is a heading over the bars after it."""
    largest = max([value for _, value, _ in rows if value is not None] + [1])
    height = len(rows) * (BAR_HEIGHT + BAR_GAP) + BAR_GAP
    parts = [f'<svg width="{CHART_WIDTH}" height="{height}" role="img">']
    for index, (label, value, colour) in enumerate(rows):
        top = BAR_GAP + index * (BAR_HEIGHT + BAR_GAP)
        if value is None:
            parts.append(f'<text x="8" y="{top + 13}" font-weight="bold">{escape(label)}</text>')
            continue
        width = round((CHART_WIDTH - LABEL_WIDTH - 60) * value / largest)
        parts += [f'<text x="{LABEL_WIDTH - 8}" y="{top + 13}" text-anchor="end">{escape(label)}</text>',
                  f'<rect x="{LABEL_WIDTH}" y="{top}" width="{width}" height="{BAR_HEIGHT}" fill="{colour}"/>',
                  f'<text x="{LABEL_WIDTH + width + 6}" y="{top + 13}">{value}</text>']
    return "".join(parts) + "</svg>"


def stage_history(journal: list[dict[str, str]], release: str) -> list[tuple[datetime.datetime, int]]:
    """When each stage of the release went live, from advance's journal."""
    history: list[tuple[datetime.datetime, int]] = []
    for entry in journal:
        if entry["release"] != release:
            continue
        try:
            time = datetime.datetime.strptime(entry["time"], "%Y-%m-%dT%H:%M:%SZ").replace(
                tzinfo=datetime.timezone.utc)
            before, after = (int(stage) for stage in entry["stage"].split("->"))
        except ValueError:
            continue
        if not history:
            history.append((time, before))
        if after != history[-1][1]:
            history.append((time, after))
    return history


def stage_shares(outcome: ReleaseOutcome, history: list[tuple[datetime.datetime, int]]) -> list[tuple[str, int, int]]:
    """Per stage of the history: (label, offices whose latest report came then, of them failed or rolled back)."""
    rows = []
    for index, (start, stage) in enumerate(history):
        end = history[index + 1][0] if index + 1 < len(history) else None
        inside = [office for office, time in outcome.times.items() if time >= start and (end is None or time < end)]
        bad = sum(outcome.offices[office] != INSTALLED for office in inside)
        rows.append((f"{stage} % from {start:%Y-%m-%d %H:%M}", len(inside), bad))
    return rows


def _time_chart(outcome: ReleaseOutcome, history: list[tuple[datetime.datetime, int]]) -> str:
    """Offices installed by the end of each day (cumulative), with the stage changes marked."""
    installed = sorted(time for office, time in outcome.times.items() if outcome.offices[office] == INSTALLED)
    if not installed:
        return "<p>No office installed it yet.</p>"
    first = min([installed[0].date()] + [time.date() for time, _ in history])
    days = [first + datetime.timedelta(days=n) for n in range((installed[-1].date() - first).days + 1)]
    totals = [sum(time.date() <= day for time in installed) for day in days]
    width, height, margin = TIME_CHART_WIDTH, TIME_CHART_HEIGHT, TIME_MARGIN
    span = max(len(days) - 1, 1)

    def x(day_index: float) -> float:
        return margin + (width - 2 * margin) * day_index / span

    def y(value: int) -> float:
        return height - margin - (height - 2 * margin) * value / max(totals[-1], 1)
    points = " ".join(f"{x(i):.1f},{y(total):.1f}" for i, total in enumerate(totals))
    parts = [f'<svg width="{width}" height="{height}" role="img">',
             f'<line x1="{margin}" y1="{height - margin}" x2="{width - margin}" y2="{height - margin}" '
             'stroke="#888"/>',
             f'<polyline points="{points}" fill="none" stroke="{COLOURS["installed"]}" stroke-width="2"/>',
             f'<text x="{margin}" y="14">offices installed (cumulative), by day</text>',
             f'<text x="{x(len(days) - 1) + 4:.1f}" y="{y(totals[-1]) + 4:.1f}">{totals[-1]}</text>']
    ticks = sorted({0, len(days) - 1, *range(0, len(days), max(1, len(days) // 6))})
    parts += [f'<text x="{x(i):.1f}" y="{height - margin + 16}" text-anchor="middle">{days[i]:%m-%d}</text>'
              for i in ticks]
    for (time, stage), (_, offices, bad) in zip(history, stage_shares(outcome, history)):
        at = x((time - datetime.datetime.combine(first, datetime.time(), time.tzinfo)).total_seconds() / 86400)
        share = f", {100 * bad / offices:.1f} % failed" if offices else ""
        parts += [f'<line x1="{at:.1f}" y1="{margin - 12}" x2="{at:.1f}" y2="{height - margin}" stroke="#999" '
                  'stroke-dasharray="4 3"/>',
                  f'<text x="{at + 3:.1f}" y="{margin - 2}">{stage} %{share}</text>']
    return "".join(parts) + "</svg>"


def _section(outcome: ReleaseOutcome, history: list[tuple[datetime.datetime, int]] | None) -> str:
    rows = failure_rows(outcome)
    counts: list[tuple[str, int | None, str]] = [("offices tried", outcome.tried, COLOURS["tried"])]
    if outcome.release != NO_RELEASE:
        counts += [("installed", outcome.installed, COLOURS["installed"]),
                   (LATEST_FAILED, outcome.failed, COLOURS["failed"]),
                   (LATEST_ROLLED_BACK, outcome.rolled_back, COLOURS["rolledback"])]
    attempts = [(ATTEMPTS, None, "")] + [(label, offices, COLOURS["failure"]) for label, _, offices in rows]
    chart = _bars(counts + (attempts if rows else []))
    table = "".join(f"<tr><td>{escape(label)}</td><td>{reports}</td><td>{offices}</td></tr>"
                    for label, reports, offices in rows)
    failures = (f"<table><tr><th>{escape(ATTEMPTS)}</th><th>reports</th><th>offices</th></tr>{table}</table>"
                if rows else "<p>No failures.</p>")
    over_time = ""
    if outcome.release != NO_RELEASE:
        over_time = _time_chart(outcome, history or [])
        if history:
            shares = "".join(f"<tr><td>{escape(label)}</td><td>{offices}</td><td>{bad}</td>"
                             f"<td>{100 * bad / offices if offices else 0:.1f} %</td></tr>"
                             for label, offices, bad in stage_shares(outcome, history))
            over_time += ("<table><tr><th>stage</th><th>offices reported</th><th>failed or rolled back</th>"
                          f"<th>failure share</th></tr>{shares}</table>")
        else:
            over_time += "<p>The stages show with --journal (the advance command's advance.log).</p>"
    return (f"<section><h2>{escape(_title(outcome))}</h2>{chart}{failures}{over_time}</section>")


def html_report(log: ReportLog, journal: list[dict[str, str]] | None = None) -> str:
    """One page that needs nothing else: no script, no style sheet, image or font from elsewhere."""
    summary = "".join(f"<tr><td>{escape(outcome.release)}</td><td>{outcome.tried}</td>"
                      f"<td>{outcome.installed}</td><td>{outcome.failed}</td><td>{outcome.rolled_back}</td>"
                      f"<td>{_share(outcome)}</td></tr>"
                      for outcome in log.releases if outcome.release != NO_RELEASE)
    notes = "".join(f"<p>{escape(note)}</p>" for note in log.damaged)
    sections = "".join(_section(outcome, stage_history(journal, outcome.release) if journal else None)
                       for outcome in log.releases)
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>NIRVA update outcomes</title>"
            "<style>body{font-family:sans-serif;margin:2em}td,th{padding:2px 12px;text-align:right}"
            "td:first-child,th:first-child{text-align:left}svg text{font-size:12px}</style></head><body>"
            f"<h1>NIRVA update outcomes</h1><p>{_plural(log.lines, 'line')} in {_plural(len(log.files), 'file')}, "
            f"{log.ignored} not a well-formed report (ignored).</p>{notes}"
            "<table><tr><th>release</th><th>offices tried</th><th>installed</th><th>failed</th>"
            "<th>rolled back</th><th>failure share</th></tr>"
            f"{summary}</table><p>An office counts once per release, by its latest report: one that failed and "
            "later installed counts as installed, and its failed attempts are listed by step and code.</p>"
            f"{sections}</body></html>\n")
