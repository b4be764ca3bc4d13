"""Headless Chromium driven through chromedriver (Debian's chromium, chromium-driver and
python3-selenium), shared by the browser test and scripts/web-screenshot.sh. Chromium runs
without its sandbox (it refuses to start with it as root), without any network of its own
(no updates, sync, QUIC or first-run fetches) and with a fresh profile each time."""

import os

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def start_chromium(profile_dir, width=1280, height=900):
    """A selenium driver of a new headless Chromium; raises when it cannot start."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     f"--user-data-dir={profile_dir}", f"--window-size={width},{height}"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service(CHROMEDRIVER, log_path=os.devnull)
    return webdriver.Chrome(service=service, options=options)


# The text shown for an object's value, or None while the page shows no such object.
VALUE_SCRIPT = """
const key = [...document.querySelectorAll('#tree .key')].find(k => k.title === arguments[0]);
return key ? key.nextElementSibling.firstChild === null ? '' :
    [...key.nextElementSibling.childNodes].filter(n => n.nodeName !== 'BUTTON')
        .map(n => n.textContent).join('') : null;
"""
