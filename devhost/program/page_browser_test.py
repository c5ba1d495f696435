#!/usr/bin/env python3
"""End to end through the vyn-devhost page in headless Chromium.

Starts `vyn-devhost serve --port 0 --watch` with a roster file on a copy of
the plugin library, opens the page and,
through the page itself: calls availability with a JSON, a MessagePack and
a YAML body, launches a game and finds the launch event in the events panel under
both its names, reads the current game, sends a body of the wrong shape and
reads the error, changes the roster in the roster panel and sees the next
availability answer change. In the inspector it sees the launch and an
availability call made with curl in the calls panel, opens one, sees the
gameflow and service-proxy requests in the outgoing panel, an error line in
the log panel after a call the server fails, and the memory chart drawn.
It rewrites the library's copy as a build would and sees the reload in the
calls panel between the calls before and after it. Saves a screenshot after
the reload in the output folder, and checks that every request the page made
went to 127.0.0.1.

    page_browser_test.py VYN_DEVHOST PLUGIN_LIBRARY OUTPUT_FOLDER

Exits 77 (skipped) when no browser can start or the page's npm packages are
missing, unless CI=true, where that fails. Uses Debian's Selenium, so it runs under /usr/bin/python3.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse

SKIP = 77
TIMEOUT = 20  # seconds any one thing in the page may take
LAUNCH_EVENTS = ("OnJsonApiEvent", "OnJsonApiEvent_vyn-spectator_v1_spectate")
ROSTER = {"players": [{"name": "Ann", "inGame": True}, {"name": "Bob"},
                      {"name": "Cleo", "inGame": True}]}
GAME = {"dropInSpectateGameId": "42", "gameQueueType": "ARAM", "allowObserveMode": "ALL"}


def skip_or_fail(reason):
    if os.environ.get("CI") == "true":
        print(f"FAIL: {reason} (CI=true: the browser test must run)")
        sys.exit(1)
    print(f"SKIPPED: {reason}")
    sys.exit(SKIP)


# The npm packages the page loads, under devhost/program/page/node_modules.
PAGE_PACKAGES = ("swagger-ui-dist", "@msgpack/msgpack", "uplot")


def check_page_packages():
    modules = os.path.join(os.path.dirname(os.path.abspath(__file__)), "page", "node_modules")
    missing = [name for name in PAGE_PACKAGES if not os.path.isdir(os.path.join(modules, name))]
    if missing:
        skip_or_fail(f"the page's npm packages are missing ({', '.join(missing)}); "
                     "scripts/setup installs them")


def start_browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as error:
        skip_or_fail(f"no Selenium for {sys.executable} ({error}); scripts/setup installs python3-selenium")
    for program in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        if not os.path.exists(program):
            skip_or_fail(f"{program} is missing; scripts/setup installs chromium and chromium-driver")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--window-size=1500,1100",
                     "--disable-gpu", "--disable-dev-shm-usage",
                     # Any name but loopback fails to resolve: the network is cut off.
                     "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    try:
        return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    except Exception as error:  # the driver's own errors vary by cause
        skip_or_fail(f"Chromium did not start: {str(error).splitlines()[0]}")


def start_server(program, library, folder):
    roster_file = os.path.join(folder, "roster.json")
    with open(roster_file, "w") as out:
        json.dump(ROSTER, out)
    server = subprocess.Popen([program, "serve", "--port", "0", "--roster", roster_file,
                               "--watch", "--plugin", library],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        line = server.stdout.readline()
        if not line:
            break
        if " listening on " in line:
            return server, line.split(" listening on ")[1].strip()
    server.kill()
    raise SystemExit(f"FAIL: the server did not start: {line!r}")


class Page:
    """The page as a person uses it: operation forms, the events and roster panels."""

    def __init__(self, driver):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import WebDriverWait
        self.driver = driver
        self.by = By
        self.wait = WebDriverWait(driver, TIMEOUT)

    def find(self, css, within=None):
        """The first match, waited for: the page renders an opened block's parts later."""
        return self.wait.until(lambda d: (within or d).find_element(self.by.CSS_SELECTOR, css))

    def operation(self, operation_id):
        """The first block of the operation, opened."""
        block = self.find(f'.opblock[id$="-{operation_id}"]')
        if "is-open" not in block.get_attribute("class"):
            self.find(".opblock-summary-control", block).click()
            self.wait.until(lambda d: "is-open" in block.get_attribute("class"))
        return block

    def call(self, operation_id, body=None, content_type=None):
        """Fills the form, presses Execute and returns (status, body text)."""
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import Select
        block = self.operation(operation_id)
        for clear in block.find_elements(self.by.CSS_SELECTOR, "button.btn-clear"):
            clear.click()
        if content_type is not None:
            Select(self.find(".opblock-section-request-body select", block)).select_by_value(
                content_type)
        if body is not None:
            editor = self.find("textarea.body-param__text", block)
            editor.send_keys(Keys.CONTROL, "a")
            editor.send_keys(Keys.DELETE)
            editor.send_keys(body)
        self.find("button.execute", block).click()
        status = self.find(".live-responses-table tr.response .response-col_status", block)
        bodies = block.find_elements(
            self.by.CSS_SELECTOR, ".live-responses-table tr.response .highlight-code pre")
        text = bodies[0].get_attribute("textContent") if bodies else ""
        if text:
            text = json.dumps(json.loads(text))  # one line in the test's output
        return int(status.text.split()[0]), text

    def texts(self, css):
        """The text of every match, shown or scrolled out of its panel."""
        return [item.get_attribute("textContent")
                for item in self.driver.find_elements(self.by.CSS_SELECTOR, css)]

    def event_names(self):
        return self.texts("#events-list .event-name")

    def calls(self):
        """The calls panel's rows, newest first, as {column: text}."""
        rows = []
        for row in self.driver.find_elements(self.by.CSS_SELECTOR, "#calls-table tbody tr"):
            rows.append({cell.get_attribute("class"): cell.get_attribute("textContent")
                         for cell in row.find_elements(self.by.CSS_SELECTOR, "td")})
        return rows

    def wait_for_call(self, path, status, after=0):
        """The newest row of a call to `path` numbered above `after`, waited for."""
        def found(driver):
            for row in self.calls():
                if (row["path"] == path and row["status"] == str(status) and
                        int(row["number"][1:]) > after):
                    return row
            return None
        return self.wait.until(found)

    def wait_for_text(self, css, part):
        self.wait.until(lambda d: any(part in text for text in self.texts(css)))

    def wait_for_events(self, names):
        self.wait.until(lambda d: all(name in self.event_names() for name in names))

    def set_in_game(self, name, in_game):
        box = self.find(f'#roster-table input[data-player="{name}"]')
        if box.is_selected() != in_game:
            box.click()
        self.find("#roster-apply").click()
        self.wait.until(lambda d: self.find("#roster-status").text.startswith("Applied"))


def hosts_requested(driver):
    """Every (URL, host) the page asked for, from the performance log."""
    requested = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            url = message["params"]["request"]["url"]
            requested.append((url, urllib.parse.urlsplit(url).hostname))
    return requested


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    program, built_library, folder = sys.argv[1:]
    os.makedirs(folder, exist_ok=True)
    started = time.monotonic()
    check_page_packages()
    driver = start_browser()
    # The watched library: a copy, so that "rebuilding" it leaves the build alone.
    library = os.path.join(folder, os.path.basename(built_library))
    shutil.copyfile(built_library, library)
    server, address = start_server(program, library, folder)
    failures = []
    checked = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what)
        checked.append(what)
        if not condition:
            failures.append(what)

    try:
        from selenium.webdriver.support.ui import Select
        page = Page(driver)
        driver.get(address + "/")
        page.find("#events-state.open")
        available = "PostVynSpectatorV1BuddySpectate"
        launch_blocks = driver.find_elements(
            page.by.CSS_SELECTOR, '.opblock[id$="-PostVynSpectatorV1SpectateLaunch"]')
        check(len(launch_blocks) == 1, f"the launch is listed once ({len(launch_blocks)})")

        status, text = page.call(available, '["Ann","Bob","Cleo","Zed"]')
        check(status == 200 and json.loads(text)["availableForWatching"] == ["Ann", "Cleo"],
              f"availability with a JSON body answers Ann and Cleo ({status} {text})")
        status, text = page.call(available, '["Cleo","Bob"]', "application/x-msgpack")
        check(status == 200 and json.loads(text)["availableForWatching"] == ["Cleo"],
              f"availability with a MessagePack body answers Cleo ({status} {text})")

        status, text = page.call(available, "- Bob\n- Ann\n", "application/x-yaml")
        check(status == 200 and json.loads(text)["availableForWatching"] == ["Ann"],
              f"availability with a YAML body answers Ann ({status} {text})")

        status, text = page.call("PostVynSpectatorV1SpectateLaunch", json.dumps(GAME),
                                 "application/json")
        check(status == 204, f"launch answers 204 ({status} {text})")
        page.wait_for_events(LAUNCH_EVENTS)
        payloads = [p.text for p in driver.find_elements(page.by.CSS_SELECTOR,
                                                         "#events-list .event-payload")]
        check(all(name in page.event_names() for name in LAUNCH_EVENTS) and
              sum('"42"' in p for p in payloads) >= 2,
              f"the events panel shows the launch under {', '.join(LAUNCH_EVENTS)}")
        launched = page.wait_for_call("/vyn-spectator/v1/spectate/launch", 204)
        curl = subprocess.run(
            ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-X", "POST",
             "-H", "Content-Type: application/json", "--data", '["Cleo","Dario"]',
             address + "/vyn-spectator/v1/buddy/spectate"],
            capture_output=True, text=True, timeout=TIMEOUT)
        by_curl = page.wait_for_call("/vyn-spectator/v1/buddy/spectate", 200,
                                     after=int(launched["number"][1:]))
        check(curl.stdout == "200" and page.calls()[0] == by_curl and
              by_curl["method"] == "POST" and launched["method"] == "POST",
              f"the calls panel shows the launch (204) and then curl's availability call (200)")
        page.find(f'#calls-table tr[data-call="{by_curl["number"][1:]}"]').click()
        page.wait_for_text("#call-detail", "Dario")
        detail = json.loads(page.find("#call-detail").get_attribute("textContent"))
        check(detail["request"]["body"] == ["Cleo", "Dario"] and
              detail["answer"]["body"] == {"availableForWatching": ["Cleo"]},
              "a click on curl's call opens its request and answer")
        page.wait_for_text("#outgoing-list .outgoing-what", "/vyn-gameflow/v1/spectate/launch")
        page.wait_for_text("#outgoing-list .outgoing-what", "/vyn-login/v1/service-proxy-uuid-requests")
        check(any("Dario" in text for text in page.texts("#outgoing-list .payload")),
              "the outgoing panel shows the gameflow and service-proxy requests with payloads")
        page.wait.until(lambda d: d.execute_script(
            "const c = document.querySelector('#memory-chart canvas');"
            "return c !== null && c.width > 0 && memory.times.length >= 2;"))
        check("peak" in page.find("#memory-peak").get_attribute("textContent"),
              "the memory chart is drawn with the peak")

        status, text = page.call("GetVynSpectatorV1Spectate")
        check(status == 200 and json.loads(text) == GAME,
              f"the current game is the launched one ({status} {text})")

        # A build replaces the library: the next calls reach the new one.
        shutil.copyfile(built_library, library)
        modified = os.stat(library).st_mtime + 2
        os.utime(library, (modified, modified))
        page.find("#calls-table tr.reload.loaded")
        before = page.calls()[1]
        status, text = page.call(available, '["Ann","Cleo"]')
        after = page.wait_for_call("/vyn-spectator/v1/buddy/spectate", 200,
                                   after=int(before["number"][1:]))
        rows = page.calls()
        check(status == 200 and rows[0] == after and "reloaded" in rows[1]["reload-what"] and
              "load 2" in rows[1]["reload-what"] and rows[2] == before,
              "the calls panel shows the reload between the calls before and after it "
              f"({rows[1]})")
        # The launch's answer beside the inspector (which stays in view).
        answer = page.find('.opblock[id$="-PostVynSpectatorV1SpectateLaunch"] .live-responses-table')
        driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", answer)
        driver.save_screenshot(os.path.join(folder, "page_after_reload.png"))

        status, text = page.call(available, '["Ann",', "application/json")
        message = json.loads(text).get("message", "") if text else ""
        check(status == 500 and message == "Error: Invalid value. at offset 7.",
              f"a malformed body answers 500 and the parser's message ({status} {message})")
        status, text = page.call(available, '{"names": ["Ann"]}', "application/json")
        message = json.loads(text).get("message", "") if text else ""
        check(status == 500 and message.endswith("because the input not a collection."),
              f"a body of the wrong shape answers 500 and the message ({status} {message})")

        page.set_in_game("Bob", True)
        status, text = page.call(available, '["Ann","Bob"]')
        check(status == 200 and json.loads(text)["availableForWatching"] == ["Ann", "Bob"],
              f"after Bob joins a game in the roster panel, availability answers him ({text})")

        page.find("#roster-server").send_keys("Service unavailable")
        page.find("#roster-apply").click()
        page.wait.until(lambda d: page.find("#roster-status").text.startswith("Applied"))
        status, text = page.call(available, '["Ann"]')
        Select(page.find("#log-level")).select_by_value("warnings")
        page.wait_for_text("#log-list li:not([hidden]) .log-text", "Service unavailable")
        shown = page.texts("#log-list li:not([hidden]) .log-level")
        check(status == 500 and shown and all(level in ("WARN", "ERROR") for level in shown),
              f"after a call the server fails ({status}) the log panel shows its error line")

        requested = hosts_requested(driver)
        outside = [url for url, host in requested
                   if not url.startswith("data:") and host != "127.0.0.1"]
        check(len(requested) > 0 and not outside,
              f"all {len(requested)} requests of the page went to 127.0.0.1 {outside}")
    finally:
        driver.quit()
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            server.kill()
    print(f"page browser test took {time.monotonic() - started:.1f} s")
    print(f"{len(checked) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
