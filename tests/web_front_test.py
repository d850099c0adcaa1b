"""The web front in a real browser: headless Chromium, driven by selenium, saves through the
form of the CGI served by lighttpd, and the store must hold exactly what was typed.

    web_front_test.py URL SITE [--screenshot PNG]

URL is the CGI's address, SITE the directory holding kvr/ (the application directory) and
kvrdata/ (the store). Exits 1 on the first failure, also when the browser cannot start.
Run it with Debian's /usr/bin/python3, whose selenium matches Debian's chromium-driver."""
import argparse
import os
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

FIELDS = ("filename_arg", "style_arg", "beam_arg", "koment_arg", "machine_arg", "top_beam_arg")
WAIT_SECONDS = 60

# Values with everything the form encoding and the markup treat specially: spaces, '+', '&',
# '=', '%' (also before hexadecimal digits), '<', '>', quotes, commas, UTF-8 letters. The
# file name, style and machine hold no space or '/', which loomreg refuses in a name.
HARD = {
    "filename_arg": "Köper-1+2&a=b%41<x>\"q'",
    "style_arg": "Twill&Satin=50%+<b>",
    "beam_arg": "Beam 7 & \"eight\" + 9% = <x>",
    "koment_arg": "first trial: <script>document.title='x'</script> 'q' ü ß 漢字, a+b=c&d %41",
    "machine_arg": "Loom<01>&\"Ä\"",
    "top_beam_arg": "TOP 3 + 'x'",
}
HARD_SETTINGS = ("warp density = 42\nweft + 38 & 50% <tag attr=\"x\">\n"
                 "ünïcödé 漢字 'single' \"double\"\n\n  indented %41 %0D%0A line\nlast line")


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def start_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--disable-gpu", "--window-size=900,820"):
        options.add_argument(argument)
    try:
        return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    except Exception as error:  # any reason the browser did not come up fails the test
        raise Failure(f"the browser did not start: {error}") from error


class Store:
    """The store's files, read as bytes."""

    def __init__(self, site):
        self.site = os.fsencode(site)
        self.root = os.path.join(self.site, b"kvrdata")

    def path(self, *parts):
        return os.path.join(self.root, *(p.encode() if isinstance(p, str) else p for p in parts))

    def read(self, *parts):
        with open(self.path(*parts), "rb") as file:
            return file.read()

    def snapshot(self):
        """Every directory and file below the site, with the files' bytes."""
        seen = {}
        for directory, _, files in os.walk(self.site):
            seen[directory] = None
            for name in files:
                path = os.path.join(directory, name)
                with open(path, "rb") as file:
                    seen[path] = file.read()
        return seen


def fill_form(browser, url, values, settings):
    browser.get(url)
    check(browser.execute_script("return document.characterSet") == "UTF-8",
          "the form page is not UTF-8")
    form = browser.find_element(By.TAG_NAME, "form")
    check(form.get_attribute("enctype") == "application/x-www-form-urlencoded",
          "the form does not post application/x-www-form-urlencoded")
    for field in FIELDS:
        browser.find_element(By.NAME, field).send_keys(values[field])
    browser.find_element(By.NAME, "settings").send_keys(settings)


def submit(browser):
    """Presses Save and returns the outcome page's status text and message (or None)."""
    browser.find_element(By.ID, "save").click()
    status = WebDriverWait(browser, WAIT_SECONDS).until(
        expected_conditions.presence_of_element_located((By.ID, "status")))
    messages = browser.find_elements(By.ID, "message")
    return status.text, (messages[0].text if messages else None)


def list_texts(browser, element_id):
    return [item.text for item in browser.find_element(By.ID, element_id).find_elements(
        By.TAG_NAME, "li")]


def check_saved(store, values, settings):
    """The settings stored byte for byte and every catalogue naming the save."""
    b = {field: values[field].encode() for field in FIELDS}
    name, style, machine = b["filename_arg"], b["style_arg"], b["machine_arg"]
    # The browser sends line breaks as CR LF; the codec drops the escaped CR.
    check(store.read("SetValueFile", style, name) == settings.encode(),
          f"stored bytes of {values['filename_arg']!r} differ from the text typed")
    line = b",".join(b[f] for f in FIELDS[:5]) + b"\r\n"
    check(line in store.read("SetValueFileList", "SetValueList").splitlines(keepends=True),
          f"no history line {line!r}")
    for list_file, word in ((("SetValueFile", "FileList"), name), (("StyleList", "KindList"), style),
                            (("MachineList", "MachineList"), machine),
                            (("MachineF", machine), name), (("StyleFile", style), name)):
        check(word in store.read(*list_file).split(), f"{list_file} lacks {word!r}")
    check(store.read("Machine", machine).startswith(machine + b","), "no machine stamp")


def check_nothing_left(store):
    """No upload left in SetValueFile/ and no working directory of a request in kvr/."""
    uploads = [n for n in os.listdir(store.path("SetValueFile"))
               if os.path.isfile(store.path("SetValueFile", n)) and n != b"FileList"]
    check(not uploads, f"uploads left behind: {uploads}")
    app = sorted(os.listdir(os.path.join(store.site, b"kvr")))
    check(app == [b"KVR_PATH.inf", b"store.cgi"], f"the application directory holds {app}")


def test_hard_values(browser, url, store):
    fill_form(browser, url, HARD, HARD_SETTINGS)
    status, message = submit(browser)
    check(status == "0", f"status {status!r}, message {message!r}")
    check(message is None, f"a message on a clean save: {message!r}")
    check(browser.execute_script("return document.title") == "Saved",
          "the comment's markup ran as a script")
    check_saved(store, HARD, HARD_SETTINGS)
    check_nothing_left(store)

    # The catalogue pages show the names as text, each reached through the links.
    browser.find_element(By.LINK_TEXT, "Machines").click()
    machines = list_texts(browser, "machines")
    stamp = store.read("Machine", HARD["machine_arg"]).split(b"\r\n")[0].decode()
    check(f"{HARD['machine_arg']} {stamp.split(',', 1)[1]}" in machines,
          f"the machine and its stamp are not listed: {machines}")
    browser.find_element(By.LINK_TEXT, HARD["machine_arg"]).click()
    check(HARD["filename_arg"] in list_texts(browser, "files"), "the machine's files")
    browser.find_element(By.LINK_TEXT, "Styles").click()
    check(HARD["style_arg"] in list_texts(browser, "styles"), "the styles")
    browser.find_element(By.LINK_TEXT, HARD["style_arg"]).click()
    check(HARD["filename_arg"] in list_texts(browser, "files"), "the style's files")
    browser.find_element(By.LINK_TEXT, "History").click()
    check(list_texts(browser, "history")[-1] == ",".join(HARD[f] for f in FIELDS[:5]),
          "the history's last line")


def test_hostile_name(browser, url, store):
    before = store.snapshot()
    values = dict(HARD, filename_arg="../x")
    fill_form(browser, url, values, "hostile")
    status, message = submit(browser)
    check(status == "-1", f"status {status!r} for the file name ../x")
    check(message is not None and message.startswith("loomreg: refused"),
          f"no refusal shown: {message!r}")
    check(store.snapshot() == before, "a refused save changed the site")


def test_concurrent_saves(url, store):
    count = 8
    browsers, outcomes, errors = [None] * count, [None] * count, []
    values = [dict(HARD, filename_arg=f"PAR-{i}", machine_arg=f"Loom{i % 3}",
                   style_arg=("Plain", HARD["style_arg"])[i % 2]) for i in range(count)]
    texts = [f"session {i}\nline + & = % {i}\n漢字 {i}" for i in range(count)]
    barrier = threading.Barrier(count)

    # Each session in a thread of its own: start the browser, fill in the form, and press Save
    # when all eight are ready.
    def save(i):
        try:
            try:
                browsers[i] = start_browser()
                fill_form(browsers[i], url, values[i], texts[i])
            finally:
                barrier.wait(timeout=WAIT_SECONDS * 2)
            outcomes[i] = submit(browsers[i])
        except Exception as error:
            errors.append(f"session {i}: {error}")

    threads = [threading.Thread(target=save, args=(i,)) for i in range(count)]
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        for browser in browsers:
            if browser is not None:
                browser.quit()
    check(not errors, "; ".join(errors))
    for i in range(count):
        check(outcomes[i] == ("0", None), f"session {i}: {outcomes[i]}")
        check_saved(store, values[i], texts[i])
    check_nothing_left(store)


def http_status(url, body, method):
    request = urllib.request.Request(url, data=body, method=method)
    try:
        with urllib.request.urlopen(request, timeout=WAIT_SECONDS) as response:
            return response.status
    except urllib.error.HTTPError as error:
        return error.code


def test_refused_requests(url, store):
    """Requests the CGI itself turns away get a 4xx page and change nothing."""
    before = store.snapshot()
    form = urllib.parse.urlencode({field: "R" for field in FIELDS})
    for what, body, method, expected in (
            ("a missing field", form, "POST", 400),
            ("a body over 1 MiB", form + "&settings=" + "x" * (1 << 20), "POST", 413),
            ("a NUL byte", form + "&settings=a%00b", "POST", 400),
            ("PUT", form + "&settings=x", "PUT", 405)):
        got = http_status(url, body.encode(), method)
        check(got == expected, f"{what}: HTTP {got}, expected {expected}")
    got = http_status(url + "?page=machine&name=..%2Fkvrdata", None, "GET")
    check(got == 400, f"a machine page for a path: HTTP {got}")
    check(store.snapshot() == before, "a refused request changed the site")


def take_screenshot(browser, url, path):
    """The form as a user fills it in, for the README."""
    values = {"filename_arg": "TW-0002", "style_arg": "Köper", "beam_arg": "BEAM-7",
              "koment_arg": "second trial, 5% denser weft", "machine_arg": "Loom01",
              "top_beam_arg": "TOP-3"}
    fill_form(browser, url, values, "warp density = 42\nweft density = 40\n"
              "pattern = 2/2 twill <left>\n")
    browser.save_screenshot(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("site")
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    store = Store(args.site)
    started = time.monotonic()

    def done(what):
        print(f"web front: {what}: ok ({time.monotonic() - started:.0f} s)", flush=True)

    try:
        browser = start_browser()
        try:
            test_hard_values(browser, args.url, store)
            done("hard values stored exactly, catalogue pages")
            test_hostile_name(browser, args.url, store)
            done("hostile file name refused")
            if args.screenshot:
                take_screenshot(browser, args.url, args.screenshot)
        finally:
            browser.quit()
        test_concurrent_saves(args.url, store)
        done("eight saves at once")
        test_refused_requests(args.url, store)
        done("requests refused with 4xx")
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
