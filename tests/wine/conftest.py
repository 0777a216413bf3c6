"""Fixtures of the Wine test bench; see README.md and winebench.py."""

import os
import time

import pytest

# Importing winebench pins the locale, time zone, umask and temporary folder of the run.
from winebench import Bench, WineSession, wine_unavailable_reason

_timings = {}


def pytest_configure(config):
    config.addinivalue_line("markers", "large: takes minutes and gigabytes of disk; runs only with "
                                       "TVSFX_LARGE=1 (make large)")


def pytest_collection_modifyitems(config, items):
    if os.environ.get("TVSFX_LARGE") == "1":
        return
    skip = pytest.mark.skip(reason="a large case: TVSFX_LARGE=1 (make large) runs it")
    for item in items:
        if "large" in item.keywords:
            item.add_marker(skip)


@pytest.fixture(scope="session")
def wine_session():
    """Display, fresh Wine prefix and persistent wineserver, once per test run."""
    reason = wine_unavailable_reason()
    if reason:
        pytest.skip(f"Wine cannot run here: {reason}")
    session = WineSession()
    try:
        session.start()
        _timings["session setup"] = session.setup_seconds
        yield session
    finally:
        session.stop()


@pytest.fixture
def bench(wine_session, tmp_path):
    """The per-test helper. Every program a test started is killed when the test ends."""
    helper = Bench(wine_session, tmp_path)
    yield helper
    started = time.monotonic()
    helper.close()
    _timings.setdefault("teardown", []).append(time.monotonic() - started)


def pytest_terminal_summary(terminalreporter):
    if "session setup" not in _timings:
        return
    line = f"wine bench: session setup {_timings['session setup']:.1f} s"
    teardowns = _timings.get("teardown", [])
    if teardowns:
        line += f", test teardown {sum(teardowns) / len(teardowns):.2f} s on average"
    terminalreporter.write_line(line)
