"""Headless Chromium driven through chromedriver's WebDriver protocol (plain
HTTP and JSON), for tests that use a page as a person would: type, click,
read what is shown, download."""

import base64
import json
import os
import shutil
import subprocess
import time
import urllib.request

import pytest

from serving import free_port

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


class Browser:
    def __init__(self, tmp_path, size="1400,1000"):
        driver = shutil.which("chromedriver") or pytest.skip(
            "no chromedriver (apt-get install chromium-driver)")
        binary = shutil.which("chromium") or pytest.skip("no Chromium (apt-get install chromium)")
        self.downloads = tmp_path / "downloads"
        self.downloads.mkdir()
        port = free_port()
        # The browser is not instrumented: keep the sanitizer runtime out of it.
        env = {k: v for k, v in os.environ.items()
               if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
        self.driver = subprocess.Popen([driver, f"--port={port}"], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.base = f"http://127.0.0.1:{port}"
        options = {"binary": binary,
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                            "--disable-dev-shm-usage", f"--window-size={size}",
                            f"--user-data-dir={tmp_path / 'profile'}", "--no-first-run",
                            "--disable-background-networking", "--disable-sync"],
                   "prefs": {"download.default_directory": str(self.downloads),
                             "download.prompt_for_download": False}}
        deadline = time.monotonic() + 60
        while True:
            try:
                self.session = self._call("POST", "/session", {"capabilities": {"alwaysMatch": {
                    "browserName": "chrome", "goog:chromeOptions": options}}})["sessionId"]
                break
            except OSError:
                if time.monotonic() > deadline:
                    self.driver.kill()
                    raise
                time.sleep(0.2)

    def _call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=120) as r:
                return json.loads(r.read())["value"]
        except urllib.error.HTTPError as e:
            raise AssertionError(f"webdriver {method} {path}: {e.read().decode()}") from None

    def cmd(self, method, path, body=None):
        return self._call(method, f"/session/{self.session}{path}", body)

    def open(self, url):
        self.cmd("POST", "/url", {"url": url})

    def find(self, css):
        return self.cmd("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]

    def type(self, css, text):
        self.cmd("POST", f"/element/{self.find(css)}/value", {"text": text})

    def click(self, css):
        self.cmd("POST", f"/element/{self.find(css)}/click", {})

    def js(self, script, *args):
        return self.cmd("POST", "/execute/sync", {"script": script, "args": list(args)})

    def wait(self, script, *args, seconds=60):
        """The first truthy value of a script, asked until it comes."""
        deadline = time.monotonic() + seconds
        while True:
            value = self.js(script, *args)
            if value:
                return value
            assert time.monotonic() < deadline, f"timed out waiting for: {script}"
            time.sleep(0.1)

    def screenshot(self):
        return base64.b64decode(self.cmd("GET", "/screenshot"))

    def close(self):
        try:
            self.cmd("DELETE", "")
        finally:
            self.driver.terminate()
            self.driver.wait(30)
