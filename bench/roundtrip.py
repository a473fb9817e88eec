"""The live demo's round trip: a click in the browser to the change it makes in the page.

    python3 -m bench.roundtrip [--clicks 100]

Serves the live demo on a loopback port, opens it in headless Chromium
(Debian's chromium and chromium-driver, driven by selenium), types a name, then
clicks Save and Delete in turn. Each click is timed inside the page, from just
before ``click()`` to the moment a MutationObserver sees the Delete button's
``disabled`` attribute change (Save enables it, Delete disables it): the event
sent over the WebSocket, the handler run on the server, the updates collected,
sent back and applied. Prints the median and the 95th percentile.
"""
from __future__ import annotations

import argparse
import math
import os
import shutil
import statistics
import sys
import tempfile

from tavo import demo
from tavo.live import LiveServer, ServerThread

# Runs in the page: click `arguments[0]`, report the milliseconds until #delete's disabled attribute changes.
TIMED_CLICK = """\
const [id, done] = [arguments[0], arguments[arguments.length - 1]];
const watched = document.getElementById("delete");
let start = 0;
const observer = new MutationObserver(() => { observer.disconnect(); done(performance.now() - start); });
observer.observe(watched, { attributes: true, attributeFilter: ["disabled"] });
start = performance.now();
document.getElementById(id).click();
"""


def percentile(values: list[float], share: float) -> float:
    """The value below which `share` of `values` lie (nearest rank)."""
    ordered = sorted(values)
    rank = max(1, math.ceil(share * len(ordered)))
    return ordered[rank - 1]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m bench.roundtrip", description=__doc__.split("\n")[0])
    parser.add_argument("--clicks", type=int, default=100, help="clicks to time (default 100)")
    args = parser.parse_args(argv)

    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.support.ui import WebDriverWait

    chromium, driver_path = shutil.which("chromium"), shutil.which("chromedriver")
    if not chromium or not driver_path:
        print("needs chromium and chromedriver (Debian: apt-get install chromium chromium-driver)", file=sys.stderr)
        return 1
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    profile = tempfile.mkdtemp(prefix="tavo-bench-live-")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", f"--user-data-dir={profile}"):
        options.add_argument(argument)
    env = {key: value for key, value in os.environ.items() if key not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    with ServerThread(LiveServer(demo.live_page)) as server:
        browser = webdriver.Chrome(service=Service(executable_path=driver_path, env=env), options=options)
        try:
            browser.set_script_timeout(30)
            browser.get(server.server.address)
            WebDriverWait(browser, 30).until(lambda b: b.execute_script("return tavo.state === 'open'"))
            browser.find_element("id", "name").send_keys("Ada")
            times = []
            for index in range(args.clicks + 10):
                elapsed = browser.execute_async_script(TIMED_CLICK, "save" if index % 2 == 0 else "delete")
                if index >= 10:  # the first clicks warm the browser and the server up
                    times.append(float(elapsed))
        finally:
            browser.quit()
            shutil.rmtree(profile, ignore_errors=True)
    print(
        f"click to DOM change over {len(times)} clicks on loopback: median {statistics.median(times):.2f} ms, "
        f"95th percentile {percentile(times, 0.95):.2f} ms (min {min(times):.2f}, max {max(times):.2f})"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
