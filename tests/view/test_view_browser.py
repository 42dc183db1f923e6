"""`voq view` in headless Chromium against the simulated headset.

Run by scripts/test as
    /usr/bin/python3 -m pytest tests/view --voq build/tools/voq/voq
With VOQ_VIEW_SCREENSHOTS=DIR it also saves a screenshot of each page there
(view-traces.png, view-contact.png: the README's pictures).
"""
import os
import re
import signal
import subprocess
import tempfile
import time

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

# The simulated headset's factory montage (layout standard24).
MONTAGE = ["Fp1", "Fp2", "F7", "F3", "Fz", "F4", "F8", "T3", "C3", "Cz", "C4", "T4", "T5", "P3",
           "P4", "T6", "O1", "O2", "Pz", "A2", "X1", "X2", "X3", "TRG", "ACCT", "ACCX", "ACCY", "ACCZ"]


def wait_for(what, condition, seconds):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            pytest.fail(f"{what}: not within {seconds} s")
        time.sleep(0.1)


@pytest.fixture(scope="module")
def viewer(request):
    """The tool serving a simulated headset at 600 samples/s with O2 at 35 kOhm."""
    voq = request.config.getoption("--voq")
    process = subprocess.Popen(
        [voq, "--simulate", "--sim-rate", "600", "--sim-impedance", "O2=35", "view", "--http", "127.0.0.1:0"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    url = process.stdout.readline().strip()
    assert re.fullmatch(r"http://127\.0\.0\.1:\d+/", url), (url, process.stderr.read() if process.poll() else "")
    yield url
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=15)
    assert process.returncode == 0, err
    assert "error" not in err, err


@pytest.fixture(scope="module")
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.TemporaryDirectory(prefix="voq-view-chromium-")
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile.name, "--window-size=1280,900"]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    yield driver
    driver.quit()
    profile.cleanup()


def console_errors(driver):
    return [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]


def test_traces_show_the_montage_move_and_draw_often(viewer, browser):
    browser.get(viewer)
    loaded = time.monotonic()
    wait_for("every channel name of the montage", lambda: browser.find_element(By.ID, "names").text.split() == MONTAGE, 5)
    assert time.monotonic() - loaded <= 5

    # Traces move: two pictures of the trace area a second apart differ.
    canvas = browser.find_element(By.ID, "plot")
    wait_for("the first points", lambda: browser.execute_script("return window.voqView.frames()") > 5, 5)
    first = canvas.screenshot_as_png
    time.sleep(1)
    second = canvas.screenshot_as_png
    assert first != second

    frames0 = browser.execute_script("return window.voqView.frames()")
    time.sleep(3)
    frames1 = browser.execute_script("return window.voqView.frames()")
    assert (frames1 - frames0) / 3 >= 30, f"{(frames1 - frames0) / 3:.1f} frames per second"

    status = browser.find_element(By.ID, "status").text
    assert "600 samples/s" in status and "link up" in status, status

    if os.environ.get("VOQ_VIEW_SCREENSHOTS"):
        time.sleep(max(0.0, loaded + 11 - time.monotonic()))   # the 10-s window filled
        browser.save_screenshot(os.path.join(os.environ["VOQ_VIEW_SCREENSHOTS"], "view-traces.png"))

    # The page's filter choice reaches the headset's processing, and the
    # traces go on.
    Select(browser.find_element(By.ID, "filter")).select_by_value("bandpass 1 40")
    wait_for("the 1-40 Hz filter applied", lambda: browser.execute_script(
        "const s = window.voqView.status(); return s && s.filter === 'bandpass 1 40'"), 5)
    frames = browser.execute_script("return window.voqView.frames()")
    wait_for("traces after the filter change",
             lambda: browser.execute_script("return window.voqView.frames()") > frames + 30, 5)
    assert console_errors(browser) == []


def test_contact_view_grades_o2_and_switches_the_driver(viewer, browser):
    browser.get(viewer + "impedance")

    # The page redraws twice a second: read each state in one go.
    def o2():
        return browser.execute_script("""
            const row = document.querySelector("#rows tr[data-name='O2']");
            const mark = document.querySelector("#electrodes g[data-name='O2']");
            if (!row || !mark || row.cells[2].textContent === "--") return null;
            return [row.innerText, mark.dataset.grade, mark.textContent,
                    document.getElementById("common").textContent];""")

    row, markGrade, markText, common = wait_for("O2's settled impedance", o2, 10)
    name, value, grade = row.split()
    assert grade == "fair" and abs(float(value) - 35.0) <= 2.0, row
    assert markGrade == "fair" and value in markText, (markGrade, markText)
    assert "good" in common, common
    if os.environ.get("VOQ_VIEW_SCREENSHOTS"):
        browser.save_screenshot(os.path.join(os.environ["VOQ_VIEW_SCREENSHOTS"], "view-contact.png"))
    assert console_errors(browser) == []

    # Leaving the contact view turns the impedance driver off again.
    browser.get(viewer)
    wait_for("the driver off after leaving the contact view",
             lambda: browser.execute_script("const s = window.voqView.status(); return s && !s.impedanceDriver"), 5)
