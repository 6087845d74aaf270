"""The web application: the JSON API, the downloads and the page, over
libraries loaded once. Searches and comparisons run in a bounded pool of
threads; the engine runs without the interpreter lock, so requests that wait
for it never hold up the others."""

import asyncio
import concurrent.futures
import html
import logging
import threading
import time
from dataclasses import dataclass
from importlib import resources
from typing import List, Literal, Optional, Union

from fastapi import FastAPI, HTTPException, Query as Param, Request
from fastapi.exceptions import RequestValidationError
from fastapi.responses import HTMLResponse, JSONResponse, Response
from pydantic import BaseModel, Extra, ValidationError, StrictStr, confloat, conint, root_validator
from starlette.exceptions import HTTPException as StarletteHTTPException

import taviron

from . import rows as row_text
from .library import BadQuery, NotFound, QueryMaker, TooLarge, matchable_atoms

log = logging.getLogger("taviron.serve")


@dataclass
class Settings:
    """The service's limits and pool; the command line sets them."""

    workers: int = 2  # searches and comparisons run at once
    jobs: int = 2  # engine threads of each search
    queue: int = 16  # requests waiting for the pool beyond those running
    request_time_limit: float = 30.0  # seconds a request may take in all
    max_rows: int = 1000  # rows a search returns at most
    max_body: int = 1 << 20  # bytes of a request body
    max_query_text: int = 100_000  # bytes of a query's SMILES, MOL block or record
    max_query_atoms: int = 500  # atoms of a query compound
    cors: tuple = ()  # origins allowed to call the API from their pages


class ServiceError(Exception):
    """An answer other than 200, with the message the client sees."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


class Stopped(Exception):
    """Raised from a screen's progress to stop it."""


# ---------------------------------------------------------------------------
# Requests


class Strict(BaseModel):
    class Config:
        extra = Extra.forbid


class Query(Strict):
    """A compound: exactly one of text (a compound of the library by
    identifier or name, or else SMILES, a MOL block or a QTR record by its
    look), smiles, mol, qtr, or id (identifier or name in library)."""

    text: Optional[StrictStr] = None
    smiles: Optional[StrictStr] = None
    mol: Optional[StrictStr] = None
    qtr: Optional[StrictStr] = None
    id: Optional[StrictStr] = None
    library: Optional[StrictStr] = None

    @root_validator(skip_on_failure=True)
    def one_form(cls, values):
        given = [k for k in ("text", "smiles", "mol", "qtr", "id") if values.get(k) is not None]
        if len(given) != 1:
            raise ValueError("give exactly one of text, smiles, mol, qtr or id")
        return values

    def form(self):
        return next(k for k in ("text", "smiles", "mol", "qtr", "id") if getattr(self, k) is not None)


QueryField = Union[StrictStr, Query]


class Options(Strict):
    atom: bool = False  # dock atoms by element
    exact: bool = False  # proven answers: no step budget for the clique search
    time_limit: Optional[confloat(gt=0)] = None  # seconds of clique search per pair


class SearchRequest(Options):
    query: QueryField
    library: Optional[StrictStr] = None  # default: the first library loaded
    min: Optional[confloat(ge=0, le=1)] = None
    top: Optional[conint(ge=1)] = None
    format: Literal["json", "tsv", "jsonl"] = "json"


class CompareRequest(Options):
    a: QueryField
    b: QueryField
    library: Optional[StrictStr] = None  # where text and id queries are looked up


class DepictRequest(Options):
    a: QueryField
    b: Optional[QueryField] = None  # with b, the pair's alignment
    library: Optional[StrictStr] = None


class Compound(BaseModel):
    id: str
    name: str
    atoms: int


class Hit(BaseModel):
    rank: int
    id: str
    name: str
    atoms: int
    score: int
    coefficient: float
    status: str
    proven: bool


class Counts(BaseModel):
    pairs: int
    skipped_atom_count: int
    skipped_clique: int
    matched: int
    rows: int


class SearchAnswer(BaseModel):
    library: str
    query: Compound
    hits: List[Hit]
    counts: Counts
    limited: bool
    seconds: float


class AlignedPair(BaseModel):
    a: int
    b: int
    piece: int


class CompareAnswer(BaseModel):
    a: Compound
    b: Compound
    score: int
    coefficient: float
    status: str
    proven: bool
    pieces: int
    alignment: List[AlignedPair]
    align: str  # what taviron --align prints
    qtr: str  # what taviron --qtroutput prints


class Library(BaseModel):
    name: str
    compounds: int
    seconds: float


class Atom(BaseModel):
    number: int
    type: str
    element: str
    x: Optional[float]
    y: Optional[float]


class Bond(BaseModel):
    a: int
    b: int
    order: Optional[int]


class Record(BaseModel):
    library: str
    id: str
    name: str
    matchable_atoms: int
    atoms: List[Atom]
    bonds: List[Bond]


def _summary(c):
    return Compound(id=c.id, name=c.name, atoms=matchable_atoms(c))


# ---------------------------------------------------------------------------
# The pool


class Pool:
    """At most `workers` computations at once and `queue` more waiting; a
    request beyond those is turned away at once, so waiting work and its
    memory stay bounded however many clients call."""

    def __init__(self, settings):
        self.settings = settings
        self.executor = concurrent.futures.ThreadPoolExecutor(
            max_workers=settings.workers, thread_name_prefix="taviron-serve")
        self.active = 0  # running and waiting; touched on the event loop only
        self.running = 0  # on a worker now
        self._lock = threading.Lock()

    def _counted(self, work, *args):
        with self._lock:
            self.running += 1
        try:
            return work(*args)
        finally:
            with self._lock:
                self.running -= 1

    async def run(self, request, work):
        """work(stop) on the pool, where stop() is true once the client went
        away or the request passed its time limit (a search asks between its
        chunks of pairs; a comparison runs to its end). While it runs, this
        coroutine watches the client."""
        if self.active >= self.settings.workers + self.settings.queue:
            raise ServiceError(503, "the service is busy: try again in a moment")
        deadline = time.monotonic() + self.settings.request_time_limit
        gone = threading.Event()

        def stop():
            return gone.is_set() or time.monotonic() > deadline

        self.active += 1
        try:
            loop = asyncio.get_running_loop()
            future = loop.run_in_executor(self.executor, self._counted, work, stop)
            while True:
                done, _ = await asyncio.wait({future}, timeout=0.1)
                if done:
                    break
                if not gone.is_set() and await request.is_disconnected():
                    gone.set()
            try:
                return future.result()
            except Stopped:
                if gone.is_set():
                    raise ServiceError(499, "the client went away") from None
                raise ServiceError(
                    503, f"the request took more than the service's limit of "
                    f"{self.settings.request_time_limit:g} s; narrow it (a higher min, a "
                    f"smaller top, a time_limit per pair)") from None
        finally:
            self.active -= 1

    def close(self):
        self.executor.shutdown(wait=True)


# ---------------------------------------------------------------------------
# The application


class Service:
    """What the routes share: the libraries, the query maker, the pool."""

    def __init__(self, libraries, settings):
        self.libraries = libraries
        self.settings = settings
        self.queries = QueryMaker(libraries, settings.max_query_text, settings.max_query_atoms)
        self.pool = Pool(settings)

    def library(self, name):
        try:
            return self.queries.library(name)
        except NotFound as e:
            raise ServiceError(404, str(e)) from None

    def compound(self, query, library, id="query"):
        """The compound of a query field: text, or a Query object."""
        if isinstance(query, str):
            form, text = "text", query
        else:
            form, text = query.form(), getattr(query, query.form())
            library = query.library or library
        try:
            return self.queries.make(form, text, library, id=id)
        except NotFound as e:
            raise ServiceError(404, str(e)) from None
        except BadQuery as e:
            raise ServiceError(413 if isinstance(e, TooLarge) else 422, str(e)) from None

    def search(self, req, stop):
        """(library, query, rows, counts, seconds) of a search, on a worker
        of the pool."""
        if stop():
            raise Stopped()
        library = self.library(req.library)
        query = self.compound(req.query, req.library)
        top = req.top or self.settings.max_rows

        def progress(done, total):
            if stop():
                raise Stopped()

        start = time.perf_counter()
        rows, counts = taviron.screen_stats(
            [query], library.compounds, min=req.min, top=top, jobs=self.settings.jobs,
            atom=req.atom, repeat=0 if req.exact else -1,
            time_limit=req.time_limit, progress=progress)
        return library, query, rows, counts, time.perf_counter() - start

    def compare(self, req, ids=("A", "B")):
        a = self.compound(req.a, req.library, id=ids[0])
        b = self.compound(req.b, req.library, id=ids[1])
        return a, b, taviron.compare(a, b, atom=req.atom, repeat=0 if req.exact else -1,
                                     time_limit=req.time_limit)


def _check_top(settings, top):
    if top is not None and top > settings.max_rows:
        raise ServiceError(422, f"top: at most {settings.max_rows} rows (the service's limit)")


def _search_answer(req, found):
    library, query, rows, counts, seconds = found
    hits = [dict(rank=n, id=r.target, name=r.target_name, atoms=r.target_atoms, score=r.score,
                 coefficient=r.coefficient, status=r.status, proven=r.proven)
            for n, r in enumerate(rows, 1)]
    return dict(library=library.name, query=_summary(query).dict(), hits=hits, counts=counts,
                limited=req.top is None and counts["matched"] > counts["rows"],
                seconds=round(seconds, 6))


def _download(req, found):
    rows = found[2]
    if req.format == "tsv":
        body, kind = row_text.tsv(rows), "text/tab-separated-values"
    else:
        body, kind = row_text.jsonl(rows), "application/x-ndjson"
    name = f"{found[0].name}-hits.{req.format}".replace('"', "")
    return Response(body, media_type=kind + "; charset=utf-8",
                    headers={"Content-Disposition": f'attachment; filename="{name}"'})


def _svg(text):
    return Response(text, media_type="image/svg+xml",
                    headers={"Content-Security-Policy": "default-src 'none'; style-src 'unsafe-inline'"})


def _compare_answer(found):
    a, b, r = found
    return dict(a=_summary(a).dict(), b=_summary(b).dict(), score=r.score,
                coefficient=r.coefficient, status=r.status, proven=r.proven,
                pieces=max((p.piece for p in r.alignment), default=0),
                alignment=[p._asdict() for p in r.alignment],
                align=r.report("align"), qtr=r.report("qtr"))


def _error(status, message, **extra):
    return JSONResponse({"error": message, "status": status, **extra}, status_code=status)


def _validation_message(exc):
    """One line for the first problem of a request that does not validate."""
    errors = exc.errors()
    first = errors[0]
    if first["type"] == "value_error.jsondecode":
        return 400, "the request body is not valid JSON"
    loc = [str(p) for p in first["loc"][1:] if p != "__root__"]
    if first["type"] == "type_error.str" and loc and loc[-1] in ("query", "a", "b"):
        # A compound field is text or an object: say what the object lacks.
        inner = [e for e in errors[1:] if e["loc"][:len(first["loc"])] == first["loc"]]
        message = inner[0]["msg"] if inner and inner[0]["type"] != "type_error.dict" else (
            "expected text, or an object with one of text, smiles, mol, qtr or id")
        return 422, f"{'.'.join(loc)}: {message}"
    return 422, f"{'.'.join(loc)}: {first['msg']}" if loc else first["msg"]


class BodyLimit:
    """Refuses request bodies above `limit` bytes with 413, whether they say
    their length or not, before the application reads them whole."""

    def __init__(self, app, limit):
        self.app = app
        self.limit = limit

    async def __call__(self, scope, receive, send):
        if scope["type"] != "http":
            return await self.app(scope, receive, send)
        length = dict(scope["headers"]).get(b"content-length")
        if length is not None and (not length.isdigit() or int(length) > self.limit):
            return await _too_large(self.limit)(scope, receive, send)
        seen = 0

        async def counted():
            # Raised inside the application, whose handler answers it.
            nonlocal seen
            message = await receive()
            seen += len(message.get("body", b""))
            if seen > self.limit:
                raise HTTPException(413, _too_large_text(self.limit))
            return message

        await self.app(scope, counted, send)


def _too_large_text(limit):
    return f"the request body is larger than the service's limit of {limit} bytes"


def _too_large(limit):
    return _error(413, _too_large_text(limit))


def _page(libraries, settings):
    """The page, with the libraries written into it (escaped)."""
    page = resources.files(__package__).joinpath("page.html").read_text(encoding="utf-8")
    options = "".join(f'<option value="{html.escape(name, quote=True)}">{html.escape(name)} '
                      f"({len(lib)} compounds)</option>" for name, lib in libraries.items())
    return page.replace("<!--libraries-->", options).replace(
        "<!--max_rows-->", str(settings.max_rows))


def create_app(libraries, settings=None):
    """The application over loaded libraries (a dict name -> Library, the
    first being the default one)."""
    settings = settings or Settings()
    service = Service(libraries, settings)
    app = FastAPI(title="taviron similarity search", version=taviron.__version__,
                  description="Structural similarity of compounds through the largest cliques "
                  "of their docking graph, over libraries loaded once.")
    app.state.service = service
    page = _page(libraries, settings)

    @app.exception_handler(ServiceError)
    async def service_error(request, exc):
        return _error(exc.status, str(exc))

    @app.exception_handler(RequestValidationError)
    async def invalid(request, exc):
        status, message = _validation_message(exc)
        return _error(status, message)

    @app.exception_handler(StarletteHTTPException)
    async def http_error(request, exc):
        return _error(exc.status_code, str(exc.detail))

    @app.exception_handler(Exception)
    async def unexpected(request, exc):
        log.exception("unexpected failure of %s %s", request.method, request.url.path)
        return _error(500, "internal error (the service's log has the details)")

    @app.on_event("shutdown")
    def shutdown():
        service.pool.close()

    @app.get("/", response_class=HTMLResponse, include_in_schema=False)
    async def index():
        return HTMLResponse(page, headers={
            "Content-Security-Policy": "default-src 'self'; img-src 'self' blob: data:; "
            "style-src 'unsafe-inline'; script-src 'unsafe-inline'; frame-ancestors 'none'",
            "X-Content-Type-Options": "nosniff"})

    @app.get("/api/libraries", response_model=List[Library])
    async def list_libraries():
        """The loaded libraries, with their sizes."""
        return [dict(name=name, compounds=len(lib), seconds=round(lib.seconds, 3))
                for name, lib in libraries.items()]

    @app.get("/api/status")
    async def status():
        """Requests on the pool's workers now, and those waiting for one."""
        pool = service.pool
        return dict(running=pool.running, waiting=max(pool.active - pool.running, 0),
                    workers=settings.workers, jobs=settings.jobs, queue=settings.queue)

    @app.post("/api/search", response_model=SearchAnswer,
              responses={200: {"content": {"text/tab-separated-values": {},
                                           "application/x-ndjson": {}}}})
    async def search(req: SearchRequest, request: Request):
        """Ranked hits of a query in a library, with the pairs each bound of min
        skipped; format tsv or jsonl gives the rows as taviron-search --names
        writes them."""
        _check_top(settings, req.top)
        found = await service.pool.run(request, lambda stop: service.search(req, stop))
        return _search_answer(req, found) if req.format == "json" else _download(req, found)

    @app.get("/api/download", response_class=Response)
    async def download(request: Request, query: str, library: Optional[str] = None,
                       min: Optional[float] = Param(None, ge=0, le=1),
                       top: Optional[int] = Param(None, ge=1),
                       atom: bool = False, exact: bool = False,
                       time_limit: Optional[float] = Param(None, gt=0),
                       format: Literal["tsv", "jsonl"] = "tsv"):
        """The rows of a search (query as text) as a TSV or JSON-lines file."""
        try:
            req = SearchRequest(query=query, library=library, min=min, top=top, atom=atom,
                                exact=exact, time_limit=time_limit, format=format)
        except ValidationError as e:
            raise RequestValidationError(e.raw_errors) from None
        return await search(req, request)

    @app.post("/api/compare", response_model=CompareAnswer)
    async def compare(req: CompareRequest, request: Request):
        """Score, coefficient, proven flag and alignment of two compounds, with
        the reports taviron prints (--align, --qtroutput)."""
        found = await service.pool.run(request, lambda stop: service.compare(req))
        return _compare_answer(found)

    @app.get("/api/compounds/{library}/{id}", response_model=Record)
    async def record(library: str, id: str):
        """A compound of a library, by identifier or name."""
        c = service.compound(Query(id=id, library=library), library)
        return dict(library=library, id=c.id, name=c.name, matchable_atoms=matchable_atoms(c),
                    atoms=[a._asdict() for a in c.atoms], bonds=[b._asdict() for b in c.bonds])

    @app.get("/api/compounds/{library}/{id}/depict", response_class=Response,
             responses={200: {"content": {"image/svg+xml": {}}}})
    async def depict_record(request: Request, library: str, id: str,
                            with_: Optional[str] = Param(None, alias="with"),
                            atom: bool = False, exact: bool = False):
        """The compound drawn as SVG; with another compound of the library, the
        pair's alignment."""
        b = None if with_ is None else Query(id=with_, library=library)
        return await depict(DepictRequest(a=Query(id=id, library=library), b=b, atom=atom,
                                          exact=exact, library=library), request)

    @app.post("/api/depict", response_class=Response,
              responses={200: {"content": {"image/svg+xml": {}}}})
    async def depict(req: DepictRequest, request: Request):
        """A query drawn as SVG; with b, the pair's alignment, coloured by piece."""
        if req.b is None:
            return _svg(await service.pool.run(request, lambda stop: service.compound(
                req.a, req.library)._repr_svg_()))
        creq = CompareRequest(a=req.a, b=req.b, library=req.library, atom=req.atom,
                              exact=req.exact, time_limit=req.time_limit)
        found = await service.pool.run(request, lambda stop: service.compare(creq, ("query", "B")))
        return _svg(found[2]._repr_svg_())

    if settings.cors:
        from fastapi.middleware.cors import CORSMiddleware
        app.add_middleware(CORSMiddleware, allow_origins=list(settings.cors),
                           allow_methods=["GET", "POST"], allow_headers=["Content-Type"])
    app.add_middleware(BodyLimit, limit=settings.max_body)
    return app
