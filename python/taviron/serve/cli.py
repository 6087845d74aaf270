"""taviron-serve: the command line of the service. Loads the libraries, says
what it loaded and how long it took, and serves until SIGTERM or SIGINT,
which let running requests finish."""

import argparse
import os
import sys
import time

PROGRAM = "taviron-serve"
PACKAGES = "python3-fastapi python3-uvicorn python3-pydantic"

HELP = """\
Summary : serve similarity searches over compound libraries: a web page and a JSON API
Usage   : taviron-serve [option ...] LIBRARY ...
\tLIBRARY             [NAME=]FILE: QTR records, or an SD/MOL/SMILES/CSV file (also .gz),
\t                    named NAME or by its file name without extension
\t--host <address>    address to listen on (127.0.0.1)
\t--port <number>     port to listen on (8000)
\t--cors <origin>     let pages of this origin call the API (none); repeatable
\t--name-field <field> name SD/MOL compounds by this data field (the title line)

limits:
\t--workers <n>       searches and comparisons at once (the processors)
\t--jobs <n>          engine threads of each search (the processors)
\t--queue <n>         requests waiting beyond those; more are turned away (16)
\t--request-time-limit <s> seconds a request may take (30)
\t--max-rows <n>      rows a search returns at most (1000)
\t--max-body <bytes>  largest request body (1048576)
\t--max-query-atoms <n> atoms of a query compound (500)

\t-q/--quiet          no start-up lines and no request log
\t-h/--help           print help
\t--version           print version
"""


class Refused(Exception):
    """A command line the service cannot start with; str() is the message."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(9, f"{PROGRAM}: {message} (see --help)\n")


def _positive(kind):
    def parse(text):
        try:
            value = kind(text)
        except ValueError:
            value = 0
        if not value > 0:
            raise argparse.ArgumentTypeError(f"bad value: {text!r} (expected a number above 0)")
        return value
    return parse


def parse_args(argv):
    p = Parser(prog=PROGRAM, add_help=False)
    p.add_argument("libraries", nargs="*", metavar="LIBRARY")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=8000)
    p.add_argument("--cors", action="append", default=[])
    p.add_argument("--name-field", default="")
    p.add_argument("--workers", type=_positive(int))
    p.add_argument("--jobs", type=_positive(int))
    p.add_argument("--queue", type=int, default=16)
    p.add_argument("--request-time-limit", type=_positive(float), default=30.0)
    p.add_argument("--max-rows", type=_positive(int), default=1000)
    p.add_argument("--max-body", type=_positive(int), default=1 << 20)
    p.add_argument("--max-query-atoms", type=_positive(int), default=500)
    p.add_argument("-q", "--quiet", action="store_true")
    p.add_argument("-h", "--help", action="store_true")
    p.add_argument("--version", action="store_true")
    args = p.parse_args(argv)
    if not (args.help or args.version) and not args.libraries:
        p.error("expected at least one LIBRARY")
    if not 0 <= args.port <= 65535:
        p.error(f"bad value for --port: {args.port}")
    return args


def _rss_mb():
    """Resident memory of this process, in MB (0 where /proc is missing)."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


def _say(args, text):
    if not args.quiet:
        print(f"{PROGRAM}: {text}", file=sys.stderr, flush=True)


def load_libraries(args):
    """name -> Library for the command line's libraries, in their order."""
    from .library import library_name, load

    libraries = {}
    start, rss = time.perf_counter(), _rss_mb()
    for given in args.libraries:
        name = library_name(given)[0]
        if name in libraries:
            raise Refused(f"two libraries named {name!r} (name them NAME=FILE)")
        try:
            lib = load(given, name_field=args.name_field)
        except OSError as e:
            raise Refused(f"cannot read {e.filename or given}: {e.strerror}") from None
        except ValueError as e:
            raise Refused(str(e)) from None
        libraries[name] = lib
        _say(args, f"{name}: {len(lib)} compounds from {lib.path} in {lib.seconds:.2f} s")
    total = sum(len(lib) for lib in libraries.values())
    _say(args, f"loaded {len(libraries)} librar{'y' if len(libraries) == 1 else 'ies'}, {total} "
         f"compounds in {time.perf_counter() - start:.2f} s, {_rss_mb() - rss:.0f} MB")
    return libraries


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if args.help:
        sys.stdout.write(HELP)
        return 0
    if args.version:
        import taviron
        print(f"{PROGRAM}: TAVIRON ver {taviron.__version__}")
        return 0
    try:
        import fastapi  # noqa: F401
        import pydantic  # noqa: F401
        import uvicorn
    except ImportError as e:
        print(f"{PROGRAM}: needs FastAPI and uvicorn ({e.name} is missing; apt-get install "
              f"{PACKAGES})", file=sys.stderr)
        return 9
    from .app import Settings, create_app

    try:
        libraries = load_libraries(args)
    except Refused as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)
        return 9
    processors = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else 2
    settings = Settings(workers=args.workers or processors, jobs=args.jobs or processors,
                        queue=max(args.queue, 0), request_time_limit=args.request_time_limit,
                        max_rows=args.max_rows, max_body=args.max_body,
                        max_query_atoms=args.max_query_atoms, cors=tuple(args.cors))
    app = create_app(libraries, settings)
    _say(args, f"serving http://{args.host}:{args.port}/ (API at /docs; {settings.workers} "
         f"workers of {settings.jobs} threads)")
    # uvicorn stops on SIGTERM and SIGINT after the running requests.
    uvicorn.run(app, host=args.host, port=args.port, log_level="warning" if args.quiet else "info",
                access_log=not args.quiet)
    _say(args, "stopped")
    return 0
