"""A real taviron-serve on a free loopback port, for the service's tests."""

import os
import signal
import socket
import subprocess
import time

import pytest

httpx = pytest.importorskip("httpx", reason="needs httpx (apt-get install python3-httpx)")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """taviron-serve ARGS... started on 127.0.0.1 and stopped by SIGTERM."""

    def __init__(self, tmp_path, *args):
        program = os.environ.get("TAVIRON_SERVE_BIN") or pytest.skip("TAVIRON_SERVE_BIN not set")
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.log = tmp_path / f"serve-{self.port}.log"
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen([program, *args, "--port", str(self.port)],
                                            stdout=log, stderr=subprocess.STDOUT)
        self.client = httpx.Client(base_url=self.url, timeout=120)
        deadline = time.monotonic() + 120
        while True:
            try:
                self.client.get("/api/status")
                return
            except httpx.TransportError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError(f"taviron-serve did not start:\n{self.output()}")
                time.sleep(0.1)

    def output(self):
        return self.log.read_text(errors="replace")

    def stop(self, timeout=60):
        """SIGTERM, then the exit status."""
        self.client.close()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise

    def post(self, path, body, **kw):
        return self.client.post(path, json=body, **kw)

    def get(self, path, **kw):
        return self.client.get(path, **kw)
