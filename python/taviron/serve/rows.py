"""Screen rows as taviron-search writes them with --names: TSV with its
header line, or JSON lines."""

_COLUMNS = ("query", "target", "query_atoms", "target_atoms", "score", "coefficient", "status",
            "proven", "query_name", "target_name")
_TSV_BREAKS = str.maketrans({"\t": " ", "\r": " ", "\n": " "})


def _json_string(text):
    # As taviron-search escapes: quote and backslash, control characters as \\u00XX.
    out = ['"']
    for ch in text:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append(f"\\u{ord(ch):04x}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def tsv(rows):
    lines = ["\t".join(_COLUMNS)]
    for r in rows:
        lines.append(f"{r.query}\t{r.target}\t{r.query_atoms}\t{r.target_atoms}\t{r.score}\t"
                     f"{r.coefficient:f}\t{r.status}\t{'yes' if r.proven else 'no'}\t"
                     f"{r.query_name.translate(_TSV_BREAKS)}\t"
                     f"{r.target_name.translate(_TSV_BREAKS)}")
    return "\n".join(lines) + "\n"


def jsonl(rows):
    return "".join(
        f'{{"query":{_json_string(r.query)},"target":{_json_string(r.target)},'
        f'"query_atoms":{r.query_atoms},"target_atoms":{r.target_atoms},"score":{r.score},'
        f'"coefficient":{r.coefficient:f},"status":"{r.status}",'
        f'"proven":{"true" if r.proven else "false"},'
        f'"query_name":{_json_string(r.query_name)},"target_name":{_json_string(r.target_name)}}}\n'
        for r in rows)
