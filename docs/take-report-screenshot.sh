#!/bin/bash
# Takes docs/report.png, the README's picture of a page of hits: the sample
# export searched with --html, shown in headless Chromium.
# Needs make build, chromium, chromium-driver and python3-selenium.
set -euo pipefail
cd "$(dirname "$0")/.."
build/reposearch -q --log build/report.log --html build/report.html samples/repository.xml \
  custno invoice_total "calc_discount(" || [ $? = 1 ]
/usr/bin/python3 - <<'PY'
import os, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
options = Options()
options.binary_location = "/usr/bin/chromium"
profile = tempfile.mkdtemp()
for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--no-first-run", "--hide-scrollbars",
            "--window-size=1100,900", "--user-data-dir=" + profile]:
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
driver.get("file://" + os.path.abspath("build/report.html"))
while not driver.execute_script("return document.documentElement.dataset.ready"):
    time.sleep(0.05)
driver.save_screenshot("docs/report.png")
driver.quit()
PY
echo "docs/report.png"
