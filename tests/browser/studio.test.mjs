// vesper-studio in a real browser, one concern per test: the layout at four
// window sizes, the compare divider, A vs B across a class switch, editors that
// show the value sent, images during a slider drag, the parameter marks, and the
// saved scene and link. Run by run.sh, which starts the server (STUDIO_URL) and
// names vesper-render (VESPER_RENDER); STUDIO_SCREENSHOTS=DIR saves the
// screenshots of docs/studio.md there.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

const URL = process.env.STUDIO_URL;
const SHOTS = process.env.STUDIO_SCREENSHOTS;
const LONG = { timeout: 240000 };
let browser;

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
});
after(() => browser?.close());

// The page's link for a state (short keys as link.js writes them).
const linkTo = (s) => `${URL}#state=${Buffer.from(JSON.stringify({ q: 4, ...s })).toString("base64url")}`;

// A page at `size`, opened on a link or a state, once its images are refined;
// its console errors and page errors fail the test.
async function open(t, target = {}, size = { width: 1280, height: 800 }) {
  const context = await browser.newContext({ viewport: size, acceptDownloads: true, permissions: ["clipboard-read", "clipboard-write"] });
  t.after(() => context.close());
  const page = await context.newPage();
  const errors = [];
  page.on("console", (m) => m.type() === "error" && errors.push(m.text()));
  page.on("pageerror", (e) => errors.push(e.message));
  t.after(() => assert.deepEqual(errors, [], "console errors"));
  await page.goto(typeof target === "string" ? target : linkTo(target));
  await settled(page);
  return page;
}

// Waits until every image of the view shows its last refinement.
const settled = (page) => page.waitForFunction(() => document.getElementById("viewer").dataset.status === "done", null, LONG);
// Runs `act` and waits for the render it starts to settle.
async function rendered(page, act) {
  const started = page.waitForFunction(() => document.getElementById("viewer").dataset.status !== "done");
  await act();
  await started;
  await settled(page);
}
const row = (page, name) => page.locator(`.param[data-name="${name}"]`);

async function commit(locator, text) {
  await locator.fill(text);
  await locator.press("Enter");
}

// WCAG contrast of every visible text against the first opaque background behind it.
const lowContrast = (page) =>
  page.evaluate(() => {
    const rgb = (c) => c.match(/[\d.]+/g).map(Number);
    const lum = (c) => {
      const [r, g, b] = rgb(c).slice(0, 3).map((v) => ((v /= 255) <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4));
      return 0.2126 * r + 0.7152 * g + 0.0722 * b;
    };
    const background = (e) => {
      for (; e; e = e.parentElement) {
        const c = getComputedStyle(e).backgroundColor;
        if (rgb(c)[3] !== 0) return c;
      }
      return "rgb(255, 255, 255)";
    };
    const bad = [];
    for (const e of document.querySelectorAll("body *")) {
      const own = [...e.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim());
      if (!own || !e.checkVisibility({ opacityProperty: true }) || e.closest("button:disabled")) continue;
      let opacity = 1;
      for (let a = e; a; a = a.parentElement) opacity *= Number(getComputedStyle(a).opacity);
      const [l1, l2] = [lum(getComputedStyle(e).color), lum(background(e))].sort((a, b) => b - a);
      const ratio = (l1 + 0.05) / (l2 + 0.05);
      if (ratio < 4.5 || opacity < 1) bad.push(`${e.textContent.trim().slice(0, 30)}: ${ratio.toFixed(2)}, opacity ${opacity}`);
    }
    return bad;
  });

test("the viewer keeps 4:3 and grows with the window, with no sideways scroll", LONG, async (t) => {
  const page = await open(t, { c: "corvid_Mtl_Ward", v: "paths", q: SHOTS ? 16 : 4 }, { width: 1600, height: 1000 });
  const widths = [];
  for (const [width, height] of [[1024, 700], [1280, 800], [1600, 1000], [2560, 1440]]) {
    await page.setViewportSize({ width, height });
    const m = await page.evaluate(async () => {
      for (let i = 0; i < 2; ++i) await new Promise(requestAnimationFrame);
      const box = (id) => document.getElementById(id).getBoundingClientRect();
      const lobe = document.getElementById("lobe");
      return {
        scroll: document.documentElement.scrollWidth - innerWidth, viewer: box("viewer"), params: box("inspector"),
        preset: box("loadPreset"), lobePixels: lobe.width / (lobe.clientWidth * devicePixelRatio),
      };
    });
    const at = `at ${width}x${height}`;
    assert.equal(m.scroll, 0, `no sideways scroll ${at}`);
    assert.ok(Math.abs(m.viewer.width / m.viewer.height - 4 / 3) < 0.01, `4:3 ${at}: ${m.viewer.width}x${m.viewer.height}`);
    assert.ok(m.viewer.right <= width && m.preset.right <= m.params.right, `the viewer and "Preset" in view ${at}`);
    assert.ok(Math.abs(m.lobePixels - 1) < 0.02, `the lobe drawn at its size on screen ${at}`);
    widths.push(m.viewer.width);
    if (width === 2560) assert.ok(m.viewer.width > 2 * m.params.width, "the preview takes the room of a wide window");
    if (width === 1280) assert.deepEqual(await lowContrast(page), [], "text contrast");
    if (SHOTS && (width === 1600 || width === 1024)) {
      await page.screenshot({ path: join(SHOTS, width === 1600 ? "studio.png" : "studio-1024.png") });
    }
  }
  assert.deepEqual([...widths].sort((a, b) => a - b), widths, `the viewer grows with the window: ${widths}`);
  const noLobe = await open(t, { c: "corvid_Mtl_Solid" });
  assert.deepEqual(await lowContrast(noLobe), [], "text contrast beside a class without a lobe");
});

test("the divider follows a pointer drag and the arrow keys, and the link keeps it", LONG, async (t) => {
  const page = await open(t, { c: "corvid_Mtl_Mirror", v: "paths" });
  const divider = page.locator("#divider");
  const v = await page.locator("#viewer").boundingBox();
  await page.mouse.move(v.x + v.width * 0.5, v.y + v.height * 0.6);
  await page.mouse.down();
  for (let i = 1; i <= 10; ++i) await page.mouse.move(v.x + v.width * (0.5 + 0.03 * i), v.y + v.height * 0.6);
  await page.mouse.up();
  assert.ok(Math.abs(Number(await divider.getAttribute("aria-valuenow")) - 80) <= 0.5, "dragged to 80%");
  for (const [key, want] of [["ArrowLeft", 79], ["Shift+ArrowLeft", 69], ["End", 100], ["Home", 0], ["ArrowRight", 1]]) {
    await page.keyboard.press(key);
    assert.equal(Number(await divider.getAttribute("aria-valuenow")), want, key);
  }
  await page.locator("#diff").check();
  await page.locator("#lobeLog").check();
  await page.waitForFunction(() => !document.getElementById("heat").hidden);
  await page.locator("#copyLink").click();
  const again = await open(t, await page.locator("#link").inputValue());
  assert.equal(await again.locator("#divider").getAttribute("aria-valuenow"), "1");
  assert.ok(await again.locator("#diff").isChecked() && await again.locator("#lobeLog").isChecked(), "the toggles restored");
});

test("A vs B labels its sides, saves either, and ends with a class switch", LONG, async (t) => {
  const page = await open(t);
  await rendered(page, () => page.locator('.tabs [data-view="ab"]').click());
  await rendered(page, () => commit(row(page, "u_roughValue").locator("input.num"), "0.4"));
  assert.deepEqual(await page.locator(".tag").allTextContents(), ["A · pinned", "B · current"]);
  const download = page.waitForEvent("download");
  await page.locator("#saveSceneB", { hasText: "Save B" }).click();
  const scene = JSON.parse(readFileSync(await (await download).path(), "utf8"));
  assert.equal(scene.materials.subject.params.u_roughValue, 0.4, "Save B saves the settings being edited");
  assert.equal(await page.locator("#saveScene").textContent(), "Save A");

  // Every image shown after the switch is of the new class, in a single view.
  await page.evaluate(() => {
    window.shownAfter = [];
    new MutationObserver((records) => records.forEach((r) => r.target.src && window.shownAfter.push(r.target.alt)))
      .observe(document.getElementById("viewer"), { subtree: true, attributeFilter: ["src"] });
  });
  await rendered(page, () => page.locator('.classItem[data-class="corvid_Mtl_Mirror"]').click());
  const alts = await page.evaluate(() => window.shownAfter);
  assert.ok(alts.length > 0 && alts.every((a) => a.startsWith("corvid_Mtl_Mirror,")), alts.join("; "));
  assert.equal(await page.locator(".tabs .active").textContent(), "Preview");
  assert.ok(await page.locator("#imgB").isHidden() && (await page.locator(".tag:visible").count()) === 0);
});

test("every editor shows the value sent; bad input is answered and undone", LONG, async (t) => {
  const page = await open(t);
  const sent = [];
  page.on("request", (r) => r.url().endsWith("/api/render") && sent.push(JSON.parse(r.postData()).params));
  const rough = row(page, "u_roughValue");
  await commit(rough.locator("input.num"), "0.25");
  assert.equal(await rough.locator("input[type=range]").inputValue(), "0.25", "the slider follows the number");
  for (const [text, message] of [["", /empty/], ["abc", /not a number/], ["1e308", /out of range.*3\.4028235e38/]]) {
    await commit(rough.locator("input.num"), text);
    assert.equal(await rough.locator("input.num").inputValue(), "0.25", `"${text}" restores the value`);
    assert.match(await rough.locator(".pMessage").textContent(), message);
  }
  const colour = row(page, "u_specularColor").locator("input.num");
  for (const [i, x] of ["1", "0", "0"].entries()) await commit(colour.nth(i), x);
  assert.equal(await row(page, "u_specularColor").locator("input[type=color]").inputValue(), "#ff0000");
  const int = row(page, "u_anisoSwitcher").locator("input.num");
  await rendered(page, () => commit(int, "2.7"));
  assert.equal(await int.inputValue(), "3", "an int field shows the integer sent");
  assert.deepEqual([sent.at(-1).u_anisoSwitcher, sent.at(-1).u_roughValue, sent.at(-1).u_specularColor], [3, 0.25, [1, 0, 0]]);

  // Header controls: a file environment asks for its path first; the link is copied.
  await page.locator("#environment").selectOption("file");
  assert.ok(await page.locator("#envFile").evaluate((e) => e === document.activeElement), "the path is asked for");
  assert.ok(await page.locator("#error").isHidden(), "no error before a path is typed");
  await page.locator("#copyLink").click();
  await page.locator("#copyLink", { hasText: "Copied" }).waitFor();
  // The class list is one Tab stop, moved through with the arrow keys.
  await page.locator("#classFilter").focus();
  await page.keyboard.press("Tab");
  await rendered(page, () => page.keyboard.press("ArrowDown"));
  assert.equal(await page.locator(".classItem.active").textContent(), "corvid_Mtl_MetallicPaint");
  await page.keyboard.press("Tab");
  assert.ok(!(await page.evaluate(() => document.activeElement.closest("#classList"))), "Tab leaves the list");
  await page.locator("#classFilter").fill("zzz");
  assert.match(await page.locator("#classList").textContent(), /No class matches/);
});

// The small first images are never abandoned, nor sent while one renders; a
// refinement step is abandoned by the next change.
test("a slider drag shows images as they come, one request at a time", LONG, async (t) => {
  const page = await open(t);
  let running = 0, most = 0, failed = 0;
  const small = (r) => r.url().endsWith("/api/render") && JSON.parse(r.postData()).width === 160;
  page.on("request", (r) => small(r) && (most = Math.max(most, ++running)));
  page.on("requestfinished", (r) => small(r) && running--);
  page.on("requestfailed", (r) => small(r) && (running--, failed++));
  await page.evaluate(() => {
    window.images = 0;
    new MutationObserver(() => window.images++).observe(document.getElementById("imgA"), { attributeFilter: ["src"] });
  });
  await row(page, "u_roughValue").locator("input[type=range]").scrollIntoViewIfNeeded();
  const slider = await row(page, "u_roughValue").locator("input[type=range]").boundingBox();
  const y = slider.y + slider.height / 2;
  await page.mouse.move(slider.x + slider.width * 0.1, y);
  await page.mouse.down();
  for (let i = 1; i <= 6; ++i) {
    const answered = page.waitForResponse((r) => r.url().endsWith("/api/render"));
    await page.mouse.move(slider.x + slider.width * (0.1 + 0.1 * i), y, { steps: 3 });
    await answered;
  }
  const during = await page.evaluate(() => window.images);
  await rendered(page, () => page.mouse.up());
  assert.ok(during >= 5, `${during} images during the drag`);
  assert.equal(most, 1, "never more than one small render at a time");
  assert.equal(failed, 0, "no small render abandoned");
  assert.equal(await page.evaluate(() => document.getElementById("imgA").classList.contains("stale")), false);
});

test("parameters say which operations read them and when they cannot change the view", LONG, async (t) => {
  const page = await open(t);
  const inert = (name) => row(page, name).locator(".why").textContent({ timeout: 60000 });
  assert.deepEqual(await row(page, "u_specularColor").locator(".op").allTextContents(), ["shade", "evaluateBsdf", "sampleBsdf"]);
  assert.equal(await inert("u_specularColor"), "no effect now", "the preset's silver ball ignores it in the direct view");
  assert.equal(await inert("u_cosineUsesBump"), "not in the direct view");
  assert.equal(await row(page, "u_roughValue").locator(".why").count(), 0);
  await page.locator("#mode").selectOption("path");
  assert.equal(await row(page, "u_specularColor").locator(".why").count(), 0, "the path view shows it");
  await page.locator("#mode").selectOption("direct");

  // TamberLegacy's preset: its diffuse colour does not reach the direct view, and
  // at 45 degrees only sampleBsdf shows a lobe.
  await rendered(page, () => page.locator('.classItem[data-class="TamberLegacy"]').click());
  assert.equal(await inert("diffuseColor"), "no effect now");
  await page.locator("#lobeWarning").waitFor({ timeout: 60000 });
  assert.match(await page.locator("#lobeWarning").textContent(), /evaluateBsdf is 0 at every angle/);
  await settled(page);
});

test("the saved scene renders the image shown, and the link restores it", LONG, async (t) => {
  const page = await open(t, { c: "corvid_Mtl_Ward" });
  await commit(row(page, "u_roughValue").locator("input.num"), "0.6");
  await rendered(page, () => page.locator('.param[data-name="u_diffuseColor"] input[type=color]').fill("#ff2020"));
  const shown = await page.evaluate(async () => btoa(String.fromCharCode(...new Uint8Array(await (await fetch(document.getElementById("imgA").src)).arrayBuffer()))));
  const download = page.waitForEvent("download");
  await page.locator("#saveScene").click();
  const dir = mkdtempSync(join(tmpdir(), "vesper-scene-"));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  const png = join(dir, "scene.png");
  execFileSync(process.env.VESPER_RENDER, ["--scene", await (await download).path(), "--out", png], { stdio: "ignore" });
  assert.equal(readFileSync(png).toString("base64"), shown, "vesper-render renders the image shown");

  await page.locator("#copyLink").click();
  const again = await open(t, await page.locator("#link").inputValue());
  assert.equal(await again.locator(".classItem.active").textContent(), "corvid_Mtl_Ward");
  assert.equal(await row(again, "u_roughValue").locator("input.num").inputValue(), "0.6");
  assert.equal(await again.locator('.param[data-name="u_diffuseColor"] input[type=color]').inputValue(), "#ff2020");
});
