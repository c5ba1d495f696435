#!/usr/bin/env python3
"""A session saved from the vyn-devhost page, checked as HAR 1.2 and opened in a HAR viewer.

Starts `vyn-devhost serve --port 0`, makes calls through the page (availability
with a JSON and a MessagePack body, a launch), presses "Save session (HAR)" and
takes the file headless Chromium downloads. The file must pass the HAR 1.2 JSON
schema (har-validator) and open in a HAR viewer (perf-cascade, loaded in the
same browser from a local file): one waterfall row per call, named by its URL.
The viewer's screenshot is saved in the output folder.

    session_har_browser_test.py VYN_DEVHOST PLUGIN_LIBRARY OUTPUT_FOLDER

Exits 77 (skipped) when no browser can start or the npm packages are missing,
unless CI=true, where that fails. Uses Debian's Selenium, so it runs under
/usr/bin/python3.
"""
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

from page_browser_test import TIMEOUT, Page, skip_or_fail, start_browser, start_server

PAGE = pathlib.Path(__file__).resolve().parent / "page"
VALIDATOR = """
const validate = require('har-validator');
const har = JSON.parse(require('fs').readFileSync(process.argv[1], 'utf8'));
validate.har(har).then(() => console.log('valid'), (error) => {
  console.log(JSON.stringify(error.errors, null, 1));
  process.exit(1);
});
"""
VIEWER = """<!doctype html>
<html><head><meta charset="utf-8">
<link rel="stylesheet" href="{modules}/perf-cascade/dist/perf-cascade.css">
<script src="{modules}/perf-cascade/dist/perf-cascade.js"></script>
<script src="session.js"></script></head>
<body><div id="viewer"></div>
<script>
try {{
  document.getElementById("viewer").appendChild(perfCascade.fromHar(SESSION.log));
}} catch (error) {{
  document.title = "failed: " + error;
}}
</script></body></html>
"""


def check_packages():
    modules = PAGE / "node_modules"
    missing = [name for name in ("har-validator", "perf-cascade")
               if not (modules / name).is_dir()]
    if missing or not shutil.which("node"):
        skip_or_fail(f"node or the npm packages ({', '.join(missing) or 'none missing'}) "
                     "are missing; scripts/setup installs them")


def wait_for_file(path):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        # Chromium writes a partial file under another name and renames it.
        if path.exists() and path.stat().st_size > 0:
            return path.read_text()
        time.sleep(0.05)
    return None


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    program, library = sys.argv[1], sys.argv[2]
    folder = pathlib.Path(sys.argv[3]).resolve()
    folder.mkdir(parents=True, exist_ok=True)
    check_packages()
    driver = start_browser()
    server, address = start_server(program, library, str(folder))
    failures, checked = [], []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what)
        checked.append(what)
        if not condition:
            failures.append(what)

    try:
        downloads = folder / "downloads"
        shutil.rmtree(downloads, ignore_errors=True)
        downloads.mkdir()
        driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": str(downloads)})
        page = Page(driver)
        driver.get(address + "/")
        page.find("#events-state.open")
        available = "PostVynSpectatorV1BuddySpectate"
        page.call(available, '["Ann","Bob"]')
        page.call(available, '["Cleo"]', "application/x-msgpack")
        page.call("PostVynSpectatorV1SpectateLaunch", '{"dropInSpectateGameId": "7"}')
        page.wait_for_call("/vyn-spectator/v1/spectate/launch", 204)

        page.find("#session-save").click()
        text = wait_for_file(downloads / "session.har")
        check(text is not None, "the page's button saves session.har")
        if text is None:
            return 1
        har = json.loads(text)
        entries = har["log"]["entries"]
        check(len(entries) == 3, f"the session holds the three calls ({len(entries)})")
        packed = entries[1]["request"].get("postData", {})
        check(packed.get("_encoding") == "base64" and packed.get("mimeType") ==
              "application/x-msgpack", f"the MessagePack body is kept in Base64 ({packed})")

        validated = subprocess.run(["node", "-e", VALIDATOR, str(downloads / "session.har")],
                                   cwd=PAGE, capture_output=True, text=True, timeout=TIMEOUT)
        check(validated.returncode == 0 and "valid" in validated.stdout,
              f"har-validator passes it as HAR 1.2 {validated.stdout}{validated.stderr}")

        (folder / "session.js").write_text("var SESSION = " + text + ";\n")
        viewer = folder / "viewer.html"
        viewer.write_text(VIEWER.format(modules=(PAGE / "node_modules").as_uri()))
        driver.get(viewer.as_uri())
        rows = page.wait.until(
            lambda d: d.find_elements(page.by.CSS_SELECTOR, "#viewer svg .row-item") or
            d.title.startswith("failed"))
        labels = page.texts("#viewer svg .row-item")
        check(isinstance(rows, list) and len(rows) == len(entries),
              f"the HAR viewer draws one row per call ({driver.title or len(rows)})")
        check(any("/vyn-spectator/v1/spectate/launch" in label for label in labels),
              f"a row names the launch ({labels})")
        driver.save_screenshot(str(folder / "session_har_viewer.png"))
    finally:
        driver.quit()
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            server.kill()
    print(f"{len(checked) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
