"""The web front in a real browser: headless Chromium, driven by selenium, saves through the
form of the CGI served by lighttpd, and the store must hold exactly what was typed; every
outcome the page states must be what the store shows.

    web_front_test.py URL SITE --user USER --check LOOMREG_CHECK [--screenshots DIR]

URL is the CGI's address, SITE the directory holding kvr/ (the application directory) and
kvrdata/ (the store), USER the server's user, LOOMREG_CHECK the installed loomreg-check. The
CGI's loomreg is killed when it creates the style directory "Killed". Exits 1 on the first
failure, also when the browser cannot start.
Run it with Debian's /usr/bin/python3, whose selenium matches Debian's chromium-driver."""
import argparse
import os
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import WebDriverException
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
    """Presses Save and returns the outcome page's outcome, its run status (None when the page
    has none) and its message (or None)."""
    button = browser.find_element(By.ID, "save")
    try:
        button.click()
    except WebDriverException:
        # Chromium may report a click whose page went away at once as an error; a click that
        # did nothing fails the wait below.
        pass
    # A refilled form carries an outcome of its own: wait for the page to go first. While a
    # page is replaced, Chromium answers for its elements with errors of several kinds.
    def gone(_):
        try:
            button.is_enabled()
            return False
        except WebDriverException:
            return True

    wait = WebDriverWait(browser, WAIT_SECONDS, ignored_exceptions=(WebDriverException,))
    wait.until(gone)
    outcome = wait.until(expected_conditions.presence_of_element_located((By.ID, "outcome")))
    statuses = browser.find_elements(By.ID, "status")
    messages = browser.find_elements(By.ID, "message")
    return (outcome.text, statuses[0].text if statuses else None,
            messages[0].text if messages else None)


def check_refilled(browser, values, settings, fault):
    """The form shown again holds every field and the settings as typed, `fault` marked."""
    for field in FIELDS:
        got = browser.find_element(By.NAME, field).get_attribute("value")
        check(got == values[field], f"{field} refilled as {got!r}, typed {values[field]!r}")
    got = browser.find_element(By.NAME, "settings").get_attribute("value")
    check(got == settings, f"settings refilled as {got!r}")
    marked = [e.get_attribute("name") for e in browser.find_elements(By.CSS_SELECTOR, ".fault")]
    check(marked == [fault], f"fields marked {marked}, expected {fault}")


def history_rows(browser):
    """The history table's rows, newest first, as lists of cell texts."""
    rows = browser.find_element(By.ID, "history").find_elements(By.CSS_SELECTOR, "tbody tr")
    return [[cell.text for cell in row.find_elements(By.TAG_NAME, "td")] for row in rows]


def fetch(url, headers=None, body=None, method="GET"):
    """(HTTP status, headers, body bytes) of a request made outside the browser."""
    request = urllib.request.Request(url, data=body, method=method, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=WAIT_SECONDS) as response:
            return response.status, response.headers, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


def check_viewed(browser, store, style, name):
    """The page the browser is on serves the stored file's bytes exactly, as text/plain."""
    status, headers, body = fetch(browser.current_url)
    check(status == 200 and headers.get_content_type() == "text/plain",
          f"the stored file's page: HTTP {status}, {headers.get('Content-Type')}")
    check(body == store.read("SetValueFile", style, name), f"the page of {name!r} differs")


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


def uploads(store):
    return [n for n in os.listdir(store.path("SetValueFile"))
            if os.path.isfile(store.path("SetValueFile", n)) and n != b"FileList"]


def check_nothing_left(store):
    """No upload left in SetValueFile/ and no working directory of a request in kvr/."""
    uploads = [n for n in os.listdir(store.path("SetValueFile"))
               if os.path.isfile(store.path("SetValueFile", n)) and n != b"FileList"]
    check(not uploads, f"uploads left behind: {uploads}")
    app = sorted(os.listdir(os.path.join(store.site, b"kvr")))
    check(app == [b"KVR_PATH.inf", b"store.cgi"], f"the application directory holds {app}")


def test_hard_values(browser, url, store):
    fill_form(browser, url, HARD, HARD_SETTINGS)
    outcome, status, message = submit(browser)
    check((outcome, status) == ("saved", "0"), f"{outcome} {status!r}, message {message!r}")
    check(message is None, f"a message on a clean save: {message!r}")
    check(browser.execute_script("return document.title") == "Saved",
          "the comment's markup ran as a script")
    check_saved(store, HARD, HARD_SETTINGS)
    check_nothing_left(store)
    browser.find_element(By.LINK_TEXT, "View the stored file").click()
    check_viewed(browser, store, HARD["style_arg"], HARD["filename_arg"])
    browser.get(url)

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
    browser.find_element(By.LINK_TEXT, HARD["filename_arg"]).click()
    check_viewed(browser, store, HARD["style_arg"], HARD["filename_arg"])
    browser.back()
    # The comment holds a comma: the newest line has six fields and is shown whole, as
    # ambiguous.
    browser.find_element(By.LINK_TEXT, "History").click()
    newest = history_rows(browser)[0]
    check(newest[0] == ",".join(HARD[f] for f in FIELDS[:5]) and "ambiguous" in newest[1],
          f"the history's newest line: {newest}")


def plant_leftover(store):
    """A working directory as a killed CGI leaves it, last changed an hour ago."""
    app = os.path.join(store.site, b"kvr")
    owner = os.stat(app)
    leftover = os.path.join(app, b"save-Kill3d")
    os.mkdir(leftover)
    for name, text in ((b"KVR_PATH.inf", b"KVR=/r/\r\nKVRDATA=/../kvrdata/\r\n"),
                       (b"TimeExec.dat", b"1\r\n")):
        with open(os.path.join(leftover, name), "wb") as file:
            file.write(text)
        os.chown(os.path.join(leftover, name), owner.st_uid, owner.st_gid)
    os.chown(leftover, owner.st_uid, owner.st_gid)
    old = time.time() - 3600
    os.utime(leftover, (old, old))


def test_repeated_name(browser, url, store, screenshots):
    """A name stored already: the first content stays, the form comes back as typed, and the
    typed text can then be saved under another name."""
    first = {"filename_arg": "DUP", "style_arg": "Plain", "beam_arg": "B1",
             "koment_arg": "first", "machine_arg": "Loom01", "top_beam_arg": "T1"}
    plant_leftover(store)
    fill_form(browser, url, first, "version-one\n")
    check(submit(browser)[:2] == ("saved", "0"), "the first save of DUP")
    check_nothing_left(store)  # the planted working directory is gone too
    history = store.read("SetValueFileList", "SetValueList")

    second = dict(first, beam_arg="B2 & more", koment_arg="second <try>")
    text = "version-TWO-new\nwarp = 42 & 50%\n"
    fill_form(browser, url, second, text)
    outcome, status, message = submit(browser)
    check(outcome == "already-stored" and status is None, f"repeated name: {outcome} {status}")
    check(store.read("SetValueFile", "Plain", "DUP") == b"version-one\n", "DUP was replaced")
    check(store.read("SetValueFileList", "SetValueList") == history,
          "the repeated name left a history line")
    check_refilled(browser, second, text, "filename_arg")
    if screenshots:
        browser.save_screenshot(os.path.join(screenshots, "web-front-already-stored.png"))
    check_nothing_left(store)

    name = browser.find_element(By.NAME, "filename_arg")
    name.clear()
    name.send_keys("DUP-2")
    check(submit(browser)[:2] == ("saved", "0"), "the refilled form saved under another name")
    check_saved(store, dict(second, filename_arg="DUP-2"), text)


def test_hash_name(browser, url, store):
    """Names holding the characters of a URL's syntax, reached through the pages' links."""
    values = {"filename_arg": "Lo#om-1?a=1;b+c%2", "style_arg": "S#1;x", "beam_arg": "B",
              "koment_arg": "links", "machine_arg": "Lo#om", "top_beam_arg": "T"}
    fill_form(browser, url, values, "hash text\n")
    check(submit(browser)[:2] == ("saved", "0"), "the save of a name with #")
    browser.find_element(By.LINK_TEXT, "Machines").click()
    browser.find_element(By.LINK_TEXT, "Lo#om").click()
    check(browser.find_element(By.TAG_NAME, "h1").text == "Files of machine Lo#om",
          f"the machine link led to {browser.current_url}")
    browser.find_element(By.LINK_TEXT, values["filename_arg"]).click()
    check_viewed(browser, store, values["style_arg"], values["filename_arg"])
    # The style page links to the file as well.
    browser.get(url + "?page=styles")
    browser.find_element(By.LINK_TEXT, "S#1;x").click()
    check(browser.find_element(By.TAG_NAME, "h1").text == "Files of style S#1;x",
          f"the style link led to {browser.current_url}")
    browser.find_element(By.LINK_TEXT, values["filename_arg"]).click()
    check_viewed(browser, store, values["style_arg"], values["filename_arg"])


def test_hostile_name(browser, url, store, screenshots):
    before = store.snapshot()
    values = dict(HARD, filename_arg="../x")
    fill_form(browser, url, values, "hostile\ntext")
    outcome, status, message = submit(browser)
    check((outcome, status) == ("refused", "-1"), f"{outcome} {status!r} for the file name ../x")
    # loomreg's reason, without the program's name in front.
    check(message is not None and message.startswith('file name "../x"'),
          f"no refusal shown: {message!r}")
    check_refilled(browser, values, "hostile\ntext", "filename_arg")
    if screenshots:
        browser.save_screenshot(os.path.join(screenshots, "web-front-refused.png"))
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
        check(outcomes[i] == ("saved", "0", None), f"session {i}: {outcomes[i]}")
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
    """Requests the CGI itself turns away get a 4xx page and change nothing; those that reach
    the form's handling say `refused` and show the form again."""
    before = store.snapshot()
    own = {"Origin": urllib.parse.urlsplit(url)._replace(path="").geturl()}
    form = urllib.parse.urlencode({field: "R" for field in FIELDS})
    long_name = urllib.parse.urlencode(dict({field: "R" for field in FIELDS},
                                            filename_arg="x" * 256))
    for what, body, method, expected in (
            ("a missing field", form, "POST", 400),
            ("a body over 1 MiB", form + "&settings=" + "x" * (1 << 20), "POST", 413),
            ("a NUL byte", form + "&settings=a%00b", "POST", 400),
            ("a raw NUL byte", form + "&settings=a\0b", "POST", 400),
            ("empty settings", form + "&settings=", "POST", 400),
            ("an empty machine", form.replace("machine_arg=R", "machine_arg=") + "&settings=x",
             "POST", 400),
            ("a file name of 256 bytes", long_name + "&settings=x", "POST", 400),
            ("PUT", form + "&settings=x", "PUT", 405)):
        got, _, page = fetch(url, own, body.encode(), method)
        check(got == expected, f"{what}: HTTP {got}, expected {expected}")
        if got == 400:
            check(b'<span id="outcome">refused</span>' in page and b'name="settings"' in page,
                  f"{what}: no refusal with the form")
    got = http_status(url + "?page=machine&name=..%2Fkvrdata", None, "GET")
    check(got == 400, f"a machine page for a path: HTTP {got}")
    check(store.snapshot() == before, "a refused request changed the site")


def test_cross_site(url, store):
    """A POST from another site, or from nowhere said, is refused and touches nothing; every
    page carries the security headers; the store is not served as static files."""
    before = store.snapshot()
    form = urllib.parse.urlencode(dict({field: "X" for field in FIELDS}, settings="x")).encode()
    for what, headers in (("Origin evil", {"Origin": "http://evil.example"}),
                          ("Origin null", {"Origin": "null"}),
                          ("Referer evil", {"Referer": "http://evil.example/kvr/store.cgi"}),
                          ("neither", {})):
        headers["Content-Type"] = "application/x-www-form-urlencoded"
        got, _, _ = fetch(url, headers, form, "POST")
        check(got == 403, f"a POST with {what}: HTTP {got}")
    check(store.snapshot() == before, "a cross-site POST changed the site")
    for page in ("", "?page=history", "?page=file&style=Plain&name=DUP"):
        _, headers, _ = fetch(url + page)
        policy = headers.get("Content-Security-Policy", "")
        check(headers.get("X-Content-Type-Options") == "nosniff" and
              "default-src 'self'" in policy and "frame-ancestors 'none'" in policy and
              headers.get("Referrer-Policy") == "same-origin", f"headers of {page!r}: {headers}")
    base = urllib.parse.urlsplit(url)._replace(path="").geturl()
    for path in ("/kvrdata/SetValueFile/FileList", "/kvr/KVR_PATH.inf", "/kvrdata/"):
        got, _, _ = fetch(base + path)
        check(got in (403, 404), f"{path} served as a static file: HTTP {got}")


def test_planted_entries(url, store):
    """A link, FIFO or directory in place of a store file is named, never read through."""
    history = store.path("SetValueFileList", "SetValueList")
    planted = [store.path("StyleFile", "lnk"), store.path("MachineF", "fifo"),
               store.path("SetValueFile", "Plain", "lnk")]
    os.symlink("/etc/passwd", planted[0])
    os.mkfifo(planted[1])
    os.symlink("/etc/passwd", planted[2])
    os.rename(history, history + b".real")
    os.mkfifo(history)
    try:
        for page, expected, words in (("?page=style&name=lnk", 200, b"symbolic link"),
                                      ("?page=machine&name=fifo", 200, b"not a regular file"),
                                      ("?page=history", 200, b"not a regular file"),
                                      ("?page=file&style=Plain&name=lnk", 403, b"symbolic link")):
            got, _, body = fetch(url + page)
            check(got == expected and words in body and b"root:" not in body,
                  f"{page}: HTTP {got}, {body[-300:]!r}")
    finally:
        for path in planted + [history]:
            os.unlink(path)
        os.rename(history + b".real", history)


def test_killed_save(browser, url, store, user, check_program, screenshots):
    """loomreg killed part-way (the fault shim kills it as it creates the style directory
    Killed, after the catalogue steps): the page says unknown and names the upload it kept,
    which holds the text and which loomreg-check reports as a waiting upload."""
    values = {"filename_arg": "KILL-1", "style_arg": "Killed", "beam_arg": "B",
              "koment_arg": "killed", "machine_arg": "Loom01", "top_beam_arg": "T"}
    text = "settings of a save that was killed\n"
    fill_form(browser, url, values, text)
    outcome, status, _ = submit(browser)
    check(outcome == "unknown" and status is None, f"killed save: {outcome} {status}")
    if screenshots:
        browser.save_screenshot(os.path.join(screenshots, "web-front-unknown.png"))
    kept = browser.find_element(By.ID, "kept").text
    check(kept.startswith("SetValueFile/upload-"), f"kept as {kept!r}")
    check(store.read(*kept.split("/")) == text.encode(), f"{kept} does not hold the text")
    check([os.fsencode(kept.split("/")[1])] == uploads(store), f"uploads: {uploads(store)}")
    command = [check_program]
    if os.getuid() == 0:
        command = ["runuser", "-u", user, "--"] + command
    report = subprocess.run(command, cwd=os.path.join(store.site, b"kvr"), capture_output=True,
                            text=True, timeout=WAIT_SECONDS).stdout
    check(any(kept in line and ": waiting-upload:" in line for line in report.splitlines()),
          f"loomreg-check does not report {kept} as waiting: {report!r}")


def take_screenshots(browser, url, directory):
    """The form as a user fills it in, and the history, for the documentation."""
    values = {"filename_arg": "TW-0002", "style_arg": "Köper", "beam_arg": "BEAM-7",
              "koment_arg": "second trial, 5% denser weft", "machine_arg": "Loom01",
              "top_beam_arg": "TOP-3"}
    fill_form(browser, url, values, "warp density = 42\nweft density = 40\n"
              "pattern = 2/2 twill <left>\n")
    browser.save_screenshot(os.path.join(directory, "web-front.png"))
    browser.get(url + "?page=history")
    browser.save_screenshot(os.path.join(directory, "web-front-history.png"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("site")
    parser.add_argument("--user", required=True)
    parser.add_argument("--check", required=True)
    parser.add_argument("--screenshots")
    args = parser.parse_args()
    shots = args.screenshots
    store = Store(args.site)
    started = time.monotonic()

    def done(what):
        print(f"web front: {what}: ok ({time.monotonic() - started:.0f} s)", flush=True)

    try:
        browser = start_browser()
        try:
            test_hard_values(browser, args.url, store)
            done("hard values stored exactly, catalogue pages")
            test_hostile_name(browser, args.url, store, shots)
            done("hostile file name refused, form refilled")
            test_repeated_name(browser, args.url, store, shots)
            done("repeated name: already-stored, first content kept, form refilled")
            test_hash_name(browser, args.url, store)
            done("names with # ? ; + % through their links, stored files viewed")
            if shots:
                take_screenshots(browser, args.url, shots)
        finally:
            browser.quit()
        test_concurrent_saves(args.url, store)
        done("eight saves at once")
        test_refused_requests(args.url, store)
        done("requests refused with 4xx")
        test_cross_site(args.url, store)
        done("cross-site POSTs refused with 403, security headers, no static store")
        test_planted_entries(args.url, store)
        done("links and FIFOs in the store named, not followed")
        browser = start_browser()
        try:
            test_killed_save(browser, args.url, store, args.user, args.check, shots)
            done("killed loomreg: unknown, upload kept and reported by loomreg-check")
        finally:
            browser.quit()
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
