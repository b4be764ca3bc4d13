"""The page in headless Chromium against a real daemon: it loads without a console error,
shows the daemon's objects, shows a change made with infoctl within a second without a reload,
shows markup in a value as text without running it, and a set through its form with the token
reaches the daemon. The screenshot goes into the build folder, to look at after a failure."""

import pytest

from browser import VALUE_SCRIPT, start_chromium
from conftest import BUILD, wait_until

XSS = '<img src=x onerror="window.__pwned=1">'


@pytest.fixture
def driver(tmp_path):
    try:
        browser = start_chromium(tmp_path / "profile")
    except Exception as error:  # no Chromium, no driver, no display libraries...
        pytest.skip(f"headless Chromium cannot start here: {error}")
    yield browser
    browser.quit()


def test_page_shows_the_daemon_live_and_as_text(daemon, web, driver):
    from selenium.webdriver.support.ui import WebDriverWait

    daemon.infoctl("set", "-v", "var.b.xss", XSS, "var.b.latin", b"caf\xe9")
    value = lambda name: driver.execute_script(VALUE_SCRIPT, name)  # noqa: E731
    try:
        driver.get(f"http://127.0.0.1:{web.port}/")
        WebDriverWait(driver, 20).until(
            lambda d: d.find_element("id", "status").text == "live" and value("var.b.xss"))
        assert value("var.b.xss") == XSS
        assert value("var.b.latin") == "caf\\xe9"
        assert value("info.ffs.totalwritecount") is not None

        daemon.infoctl("set", "-v", "var.b.live", "hello")
        WebDriverWait(driver, 1, poll_frequency=0.02).until(lambda d: value("var.b.live") == "hello")
        daemon.infoctl("set", "-v", "var.b.xss2", XSS)
        WebDriverWait(driver, 1, poll_frequency=0.02).until(lambda d: value("var.b.xss2") == XSS)
        assert driver.execute_script("return document.querySelectorAll('img').length") == 0
        assert driver.execute_script("return window.__pwned === undefined")
        daemon.infoctl("unset", "-v", "var.b.live")
        WebDriverWait(driver, 1, poll_frequency=0.02).until(lambda d: value("var.b.live") is None)

        driver.find_element("id", "token").send_keys(web.token)
        driver.find_element("id", "edit-name").send_keys("var.b.form")
        driver.find_element("id", "edit-value").send_keys("set <b>from</b> the page")
        driver.find_element("css selector", "#edit-storage option[value=volatile]").click()
        driver.find_element("id", "set").click()
        assert wait_until(lambda: daemon.value("var.b.form") == b"set <b>from</b> the page")
        WebDriverWait(driver, 5).until(lambda d: value("var.b.form") == "set <b>from</b> the page")

        errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
        assert errors == []
    finally:
        driver.save_screenshot(str(BUILD / "web-browser-test.png"))
