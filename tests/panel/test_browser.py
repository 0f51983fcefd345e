"""The panel's page in headless Chromium against an emulator program: a
level set on the page shows in the readings and the plot, a trip shows as
state and event, a refused value as the instrument's error, a short list
runs, the CSV downloads, and a second viewer is read-only. Leaves a
screenshot in the build tree (<build>/panel/panel.png)."""
from __future__ import annotations

import os
import shutil
import time
from pathlib import Path
from typing import Any, Callable, Iterator

import pytest

from conftest import Panel

selenium = pytest.importorskip("selenium")
from selenium import webdriver  # noqa: E402
from selenium.common.exceptions import StaleElementReferenceException  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
WAIT = 10.0


@pytest.fixture()
def browser(tmp_path: Path) -> Iterator[Any]:
    if not (os.path.exists(CHROMIUM) and os.path.exists(DRIVER)):
        pytest.skip("needs Debian's chromium and chromium-driver")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1300,1000",
                     f"--user-data-dir={tmp_path / 'profile'}"):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {
        "download.default_directory": str(tmp_path / "downloads"),
        "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    driver.downloads = tmp_path / "downloads"  # type: ignore[attr-defined]
    try:
        yield driver
    finally:
        driver.quit()


def wait_for(driver: Any, condition: Callable[[], Any], what: str) -> Any:
    return WebDriverWait(driver, WAIT, poll_frequency=0.05,
                         ignored_exceptions=(StaleElementReferenceException,)).until(
        lambda _: condition(), message=f"the page never showed {what}")


def text(driver: Any, element_id: str) -> str:
    return driver.find_element(By.ID, element_id).text


def test_the_page_drives_and_shows_the_supply(panel: Panel, browser: Any) -> None:
    driver = browser
    driver.get(panel.url)
    wait_for(driver, lambda: text(driver, "link") == "instrument connected", "the connection")
    assert "Norvale · 6313" in text(driver, "identity")
    assert (text(driver, "trace-state") == "trace unavailable") is not \
        driver.find_element(By.ID, "trace-mode").is_enabled()

    # Read-only until control is taken.
    assert not driver.find_element(By.ID, "CH1-apply").is_enabled()
    driver.find_element(By.ID, "take").click()
    wait_for(driver, lambda: text(driver, "lock").startswith("you have control"), "control")

    # A level set on the page: the reading and the plot follow.
    driver.find_element(By.ID, "CH1-voltage").send_keys("5")
    driver.find_element(By.ID, "CH1-current").send_keys("0.5")
    driver.find_element(By.ID, "CH1-apply").click()
    driver.find_element(By.ID, "CH1-output").click()
    wait_for(driver, lambda: text(driver, "CH1-v") == "5.000", "5 V measured on CH1")
    wait_for(driver, lambda: text(driver, "legend-CH1") == "CH1 5.000 V", "5 V on the plot")
    assert text(driver, "CH1-state") == "CV"
    assert text(driver, "CH1-set_v-now") == "5.000 V"
    Select(driver.find_element(By.ID, "quantity")).select_by_value("i")
    wait_for(driver, lambda: text(driver, "legend-CH1") == "CH1 0.005 A", "the current plotted")
    Select(driver.find_element(By.ID, "quantity")).select_by_value("v")

    # Over-current protection trips: state, protection line and event.
    driver.find_element(By.ID, "CH1-ocp_level").send_keys("0.001")
    driver.find_element(By.ID, "CH1-apply").click()
    wait_for(driver, lambda: text(driver, "CH1-state") == "OCP", "the OCP state")
    assert text(driver, "CH1-protection") == "OCP TRIPPED"
    wait_for(driver, lambda: "CH1: over-current protection tripped" in text(driver, "errors"),
             "the trip event")
    driver.find_element(By.ID, "CH1-ocp_level").send_keys("1")
    driver.find_element(By.ID, "CH1-apply").click()
    driver.find_element(By.ID, "CH1-clear").click()
    wait_for(driver, lambda: text(driver, "CH1-state") == "CV", "the trip cleared")

    # A value the instrument refuses: its error, in the errors pane.
    driver.find_element(By.ID, "CH2-voltage").send_keys("75")
    driver.find_element(By.ID, "CH2-apply").click()
    wait_for(driver, lambda: "instrument: -222, Data out of range" in text(driver, "errors"),
             "the instrument's error")
    assert "-222" in text(driver, "notice")

    # The SCPI console, and beside it the bytes it sent when the session
    # has an I/O trace.
    traced = driver.find_element(By.ID, "trace-mode").is_enabled()
    if traced:
        Select(driver.find_element(By.ID, "trace-mode")).select_by_value("commands")
        wait_for(driver, lambda: driver.execute_script(
            "return document.getElementById('trace-mode').value") == "commands", "tracing")
    driver.find_element(By.ID, "console-input").send_keys("*IDN?\n")
    wait_for(driver, lambda: "< Norvale,6313,SN000001,1.02" in text(driver, "console-log"),
             "the console's reply")
    if traced:
        wait_for(driver, lambda: "→ viWrite *IDN?\\n" in text(driver, "trace") and
                 "← viRead Norvale,6313,SN000001,1.02\\n" in text(driver, "trace"),
                 "the console's exchange in the trace")

    # A short list on CH2, run by the server.
    Select(driver.find_element(By.ID, "list-channel")).select_by_value("CH2")
    for cell in driver.find_elements(By.CSS_SELECTOR, "#steps .dwell"):
        cell.clear()
        cell.send_keys("0.2")
    driver.find_element(By.ID, "list-run").click()
    wait_for(driver, lambda: text(driver, "list-status").startswith("running on CH2"),
             "the list running")
    wait_for(driver, lambda: text(driver, "list-status").startswith("finished on CH2: step 3/3"),
             "the list finished")

    # A second viewer sees the lock and cannot change anything.
    driver.execute_script("window.open(arguments[0]);", panel.url)
    first = driver.current_window_handle
    driver.switch_to.window([handle for handle in driver.window_handles if handle != first][0])
    wait_for(driver, lambda: text(driver, "lock").startswith("viewer 1 has control"),
             "the lock held by the first viewer")
    assert not driver.find_element(By.ID, "CH1-apply").is_enabled()
    assert text(driver, "CH1-v") == "5.000"
    driver.close()
    driver.switch_to.window(first)

    # The measurement log downloads as CSV.
    driver.find_element(By.ID, "csv").click()
    target = driver.downloads / "tarvek-measurements.csv"
    wait_for(driver, target.exists, "the downloaded CSV")
    lines = target.read_text().splitlines()
    assert "# model: 6313" in lines
    assert any(line.split(",")[6:9] == ["5", "0.005", "0.025"] for line in lines
               if not line.startswith("#")), "no row with CH1 at 5 V"

    build = os.environ.get("TARVEK_BUILD_DIR")
    if build:
        shot = Path(build) / "panel" / "panel.png"
        shot.parent.mkdir(parents=True, exist_ok=True)
        Select(driver.find_element(By.ID, "window")).select_by_value("10")
        driver.set_window_size(1200, 1400)
        driver.execute_script("window.scrollTo(0, 0);")
        time.sleep(0.3)  # let the plot draw its last frame
        driver.save_screenshot(str(shot))
        assert shot.stat().st_size > 0
    assert [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"] == []
