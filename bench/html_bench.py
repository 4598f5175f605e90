#!/usr/bin/python3
"""How fast a page of about 100,000 hits opens in headless Chromium, and its
size against the JSON records of the same run with the same lines around
each hit (-C 20, the reach of the page's views by default).

    html_bench.py REPOSEARCH EXPORT STRING RUNS
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service


def main():
    binary, export, string, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    with tempfile.TemporaryDirectory() as folder:
        page = os.path.join(folder, "page.html")
        json_path = os.path.join(folder, "hits.jsonl")
        with open(json_path, "wb") as out:
            subprocess.run([binary, "-q", "--json", "-C", "20", "--log", os.path.join(folder, "a.log"), export,
                            string], stdout=out, check=False)
        subprocess.run([binary, "-q", "--html", page, "--log", os.path.join(folder, "b.log"), export, string],
                       stdout=subprocess.DEVNULL, check=False)
        with open(json_path, "rb") as f:
            hits = sum(1 for line in f if line.startswith(b'{"type":"match"'))
        options = Options()
        options.binary_location = "/usr/bin/chromium"
        for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--no-first-run",
                    "--user-data-dir=" + os.path.join(folder, "profile")]:
            options.add_argument(arg)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        times = []
        try:
            for _ in range(runs):
                driver.get("about:blank")
                driver.get("file://" + page)
                while not driver.execute_script("return document.documentElement.dataset.ready"):
                    time.sleep(0.01)
                times.append(int(driver.execute_script("return document.documentElement.dataset.ready")))
        finally:
            driver.quit()
        page_mb, json_mb = os.path.getsize(page) / 2**20, os.path.getsize(json_path) / 2**20
        print("page of %d hits: %.1f MB, %.2f times the JSON records' %.1f MB; usable after %d ms "
              "(median of %d loads in headless Chromium)" % (hits, page_mb, page_mb / json_mb, json_mb,
                                                            statistics.median(times), runs))


if __name__ == "__main__":
    main()
