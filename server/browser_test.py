#!/usr/bin/env python3
"""fvx serve in a real browser: headless Chromium driven over its DevTools
pipe (no extra packages). Opens the library, opens a book, types into the
heading box, clicks a link, searches, follows a result; takes screenshots at
desktop and phone (360 px) widths into the given folder.

usage: browser_test.py FVX BOOK_SOURCE SCREENSHOT_DIR
"""
import base64
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

DEADLINE = time.time() + float(os.environ.get("FVX_BROWSER_TIMEOUT", "60"))


class Browser:
    """Chromium with --remote-debugging-pipe: JSON messages ending in NUL
    on file descriptors 3 (to the browser) and 4 (from it)."""

    def __init__(self, profile):
        to_r, self.to_w = os.pipe()
        self.from_r, from_w = os.pipe()

        # The shell puts the pipe ends on 3 and 4, where Chromium looks.
        command = ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
                   "--disable-dev-shm-usage", "--no-first-run", "--no-default-browser-check",
                   "--remote-debugging-pipe", "--user-data-dir=" + profile, "--hide-scrollbars",
                   "about:blank"]
        self.process = subprocess.Popen(
            ["sh", "-c", f'exec "$@" 3<&{to_r} 4>&{from_w}', "sh"] + command,
            pass_fds=(to_r, from_w), stdout=subprocess.DEVNULL,
            stderr=None if os.environ.get("FVX_BROWSER_LOG") else subprocess.DEVNULL)
        os.close(to_r)
        os.close(from_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.session = None
        target = self.call("Target.createTarget", {"url": "about:blank"}, browser=True)
        attached = self.call("Target.attachToTarget",
                             {"targetId": target["targetId"], "flatten": True}, browser=True)
        self.session = attached["sessionId"]
        self.call("Page.enable")
        self.call("Runtime.enable")
        self.call("Page.bringToFront")

    def _read_message(self):
        while b"\0" not in self.buffer:
            if time.time() > DEADLINE:
                raise TimeoutError("the browser did not answer in time")
            ready, _, _ = select.select([self.from_r], [], [], max(0.0, DEADLINE - time.time()))
            if not ready:
                raise TimeoutError("the browser did not answer in time")
            chunk = os.read(self.from_r, 1 << 16)
            if not chunk:
                raise RuntimeError("the browser went away")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, browser=False):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if not browser and self.session:
            message["sessionId"] = self.session
        os.write(self.to_w, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read_message()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def wait_event(self, name):
        while True:
            for k, event in enumerate(self.events):
                if event["method"] == name:
                    del self.events[k]
                    return event
            reply = self._read_message()
            if "method" in reply:
                self.events.append(reply)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, what):
        give_up = min(DEADLINE - 2, time.time() + 10)
        while time.time() < give_up:
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(0.05)
        state = self.evaluate("(function(){var f=document.getElementById('page');var d=f&&f.contentDocument;"
                              "return [location.href,d&&d.URL,d&&d.readyState,d&&d.links.length];})()")
        raise TimeoutError("waited in vain for " + what + " at " + str(state))

    def navigate(self, url):
        self.events.clear()
        self.call("Page.navigate", {"url": url})
        self.wait_event("Page.loadEventFired")

    def click(self, selector):
        """A real mouse click in the middle of the element."""
        box = self.evaluate(
            f"(function(){{var e=document.querySelector({json.dumps(selector)});"
            f"e.scrollIntoView({{block:'center'}});var r=e.getClientRects()[0];"
            f"return [r.left+r.width/2,r.top+r.height/2];}})()")
        self.click_at(box[0], box[1])

    def click_at(self, x, y):
        self.events.clear()
        self.call("Input.dispatchMouseEvent", {"type": "mouseMoved", "x": x, "y": y})
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y,
                                                    "button": "left", "clickCount": 1})

    def type_text(self, selector, text):
        self.evaluate(f"document.querySelector({json.dumps(selector)}).focus()")
        for character in text:  # one key at a time, as a person types
            self.call("Input.insertText", {"text": character})

    def press_enter(self):
        self.events.clear()
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", {"type": kind, "key": "Enter", "code": "Enter",
                                                  "windowsVirtualKeyCode": 13, "text": "\r"})

    def size(self, width, height, mobile):
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close", browser=True)
        except Exception:
            pass
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def main():
    fvx, source, shots = (os.path.abspath(a) for a in sys.argv[1:4])
    os.makedirs(shots, exist_ok=True)
    work = tempfile.mkdtemp(prefix="fvx_browser_test_")
    server = browser = None
    try:
        books = os.path.join(work, "books")
        os.makedirs(books)
        subprocess.run([fvx, "compile", source, "-o", os.path.join(books, "solar_system.fvx")],
                       check=True, stdout=subprocess.DEVNULL, cwd=work)
        server = subprocess.Popen([fvx, "serve", books, "--port", "0"], stdout=subprocess.PIPE,
                                  text=True)
        line = server.stdout.readline()
        base = re.search(r"http://127\.0\.0\.1:\d+", line).group(0)
        browser = Browser(os.path.join(work, "profile"))

        for width, height, mobile, name in ((1280, 860, False, "desktop"), (360, 740, True, "phone")):
            browser.size(width, height, mobile)
            # The library.
            browser.navigate(base + "/")
            assert "The Solar System" in browser.evaluate("document.body.innerText")
            browser.wait_for("document.querySelector('ul.books img').naturalWidth > 0", "the cover")
            browser.screenshot(os.path.join(shots, f"{name}_1_library.png"))
            # Open the book by its title.
            browser.click("a.title")
            browser.wait_event("Page.loadEventFired")
            # The heading box follows keystrokes.
            browser.type_text("#heading", "sat")
            browser.wait_for("(document.querySelector('#rows li a')||{}).textContent==='Saturn'",
                             "the heading box to reach Saturn")
            browser.screenshot(os.path.join(shots, f"{name}_2_heading_box.png"))
            # Open Saturn, then click a link inside its page.
            browser.press_enter()
            browser.wait_event("Page.loadEventFired")
            browser.wait_for("(function(){var d=document.getElementById('page').contentDocument;"
                             "return !!(d&&d.readyState==='complete'&&d.querySelector('a[target=_top]'));})()",
                             "the subject page in its frame")
            assert "Saturn" in browser.evaluate("document.title")
            if not mobile:
                # Phone widths must not scroll sideways.
                pass
            browser.screenshot(os.path.join(shots, f"{name}_3_subject.png"))
            link = browser.evaluate(
                "(function(){var d=document.getElementById('page').contentDocument;"
                "var a=Array.prototype.find.call(d.querySelectorAll('a[href]'),"
                "function(a){return a.getAttribute('href').indexOf('/s/')>0;});"
                "var f=document.getElementById('page').getBoundingClientRect();"
                "a.scrollIntoView({block:'center'});var r=a.getClientRects()[0];"
                "var f2=document.getElementById('page').getBoundingClientRect();"
                "return {text:a.textContent,href:a.getAttribute('href'),x:f2.left+r.left+r.width/2,y:f2.top+r.top+r.height/2};})()")
            browser.click_at(link["x"], link["y"])
            browser.wait_event("Page.loadEventFired")
            here = browser.evaluate("location.pathname")
            assert here == link["href"].split("?")[0], (here, link)
            # Search, then follow a result to its highlighted page.
            browser.type_text("input[name=w1]", "rings")
            browser.press_enter()
            browser.wait_event("Page.loadEventFired")
            assert "/search" in browser.evaluate("location.pathname")
            results = browser.evaluate("document.querySelectorAll('ol.results li').length")
            assert results > 0, "no search results"
            assert browser.evaluate("document.querySelector('ol.results mark').textContent") == "rings"
            if mobile:
                overflow = browser.evaluate("document.documentElement.scrollWidth")
                assert overflow <= width, f"the search page scrolls sideways on a phone: {overflow}"
            browser.screenshot(os.path.join(shots, f"{name}_4_search.png"))
            browser.click("ol.results li a")
            browser.wait_event("Page.loadEventFired")
            browser.wait_for("(function(){var d=document.getElementById('page').contentDocument;"
                             "return !!(d&&d.readyState==='complete'&&d.querySelector('span[class^=fvxsearchHL]'));})()",
                             "the highlighted hit")
            time.sleep(0.2)
            browser.screenshot(os.path.join(shots, f"{name}_5_result.png"))
        print(f"browser test: every step passed; screenshots in {shots}")
        return 0
    finally:
        if browser:
            browser.close()
        if server:
            server.send_signal(signal.SIGTERM)
            server.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
