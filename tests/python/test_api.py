"""Errors as exceptions, and compare() from several threads at once."""

import threading

import pytest

import taviron
from conftest import COMPOUNDS


@pytest.mark.parametrize("call,error,message", [
    (lambda d: taviron.read_qtr(d / "nothere.qtr"), FileNotFoundError, "nothere.qtr"),
    (lambda d: taviron.read_qtr(d), IsADirectoryError, "Is a directory"),
    (lambda d: taviron.read_qtr(write(d / "empty.qtr", "")), ValueError,
     r"empty\.qtr: no compound records$"),
    (lambda d: taviron.read_qtr(write(d / "junk.qtr", "\0\1garbage\n")), ValueError,
     "no compound records"),
    (lambda d: taviron.parse_qtr("hello\n"), ValueError, "^<string>: no compound records$"),
    (lambda d: taviron.parse_qtr(""), ValueError, "no compound records"),
    (lambda d: taviron.parse_qtr(3), TypeError, "str or bytes"),
    (lambda d: taviron.compare(one(), "C00001"), TypeError, ""),
    (lambda d: taviron.compare(one(), one(), repeat=2**31), ValueError, "bad value for repeat"),
    (lambda d: taviron.compare(one(), one(), limit=-2**40), ValueError, "bad value for limit"),
    (lambda d: taviron.compare(one(), one()).report("xml"), ValueError, "bad value for form"),
])
def test_errors(tmp_path, call, error, message):
    with pytest.raises(error, match=message):
        call(tmp_path)


def write(path, text):
    path.write_text(text)
    return path


def one():
    return taviron.read_qtr(COMPOUNDS)[0]


def test_bytes_and_limits():
    # Text and bytes read alike; a limit outside 1..10000 means 10000.
    a = taviron.parse_qtr(open(COMPOUNDS, "rb").read())
    b = taviron.parse_qtr(open(COMPOUNDS).read())
    assert [c.id for c in a] == [c.id for c in b]
    assert taviron.compare(a[0], a[2], limit=0).report() == taviron.compare(b[0], b[2]).report()


def test_threads(compounds):
    records = list(compounds.values())
    pairs = [(a, b) for a in records for b in records]
    expected = [(r.score, r.coefficient, r.status) for r in
                (taviron.compare(a, b, trick=True) for a, b in pairs)]
    results = [None] * 4
    barrier = threading.Barrier(4)

    def work(k):
        barrier.wait()
        results[k] = [(r.score, r.coefficient, r.status) for r in
                      (taviron.compare(a, b, trick=True) for a, b in pairs)]
    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 4
