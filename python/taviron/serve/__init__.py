"""The similarity search service: libraries loaded once, a JSON API and a
web page over them (``taviron-serve LIBRARY...`` or
``python3 -m taviron.serve``). Needs FastAPI and uvicorn
(``apt-get install python3-fastapi python3-uvicorn python3-pydantic``);
``create_app`` makes the application for any ASGI server."""


def create_app(libraries, settings=None):
    """The application over a dict of name -> library.Library."""
    from .app import create_app as make

    return make(libraries, settings)
