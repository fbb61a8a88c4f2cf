// vesper-studio in a real browser: pick a class, read its notes and lobe, move a
// float slider, change a colour, see the preview change; the saved scene renders
// the image shown through vesper-render; a saved link restores the state. Run by
// run.sh, which starts the server (STUDIO_URL) and names vesper-render (VESPER_RENDER).
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

const URL = process.env.STUDIO_URL;
const RENDER = process.env.VESPER_RENDER;
const SHOT = process.env.STUDIO_SCREENSHOT;
const CLASS = "corvid_Mtl_Ward";

// The bytes of the image the page shows on the left (the only one in a single view).
const shownImage = (page) =>
  page.evaluate(async () => {
    const blob = await (await fetch(document.getElementById("imgA").src)).blob();
    const bytes = new Uint8Array(await blob.arrayBuffer());
    let s = "";
    for (const b of bytes) s += String.fromCharCode(b);
    return btoa(s);
  });

// Waits for a change of state to render to its last refinement.
async function settled(page) {
  await page.waitForFunction(() => document.getElementById("viewer").dataset.status === "rendering");
  await page.waitForFunction(() => document.getElementById("viewer").dataset.status === "done", null, { timeout: 300000 });
  return shownImage(page);
}

test("edit, save and restore a material in the studio", { timeout: 600000 }, async () => {
  const profile = mkdtempSync(join(tmpdir(), "vesper-chromium-"));
  // A new, empty profile: with the usual one chromium waits on the network.
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    viewport: { width: 1600, height: 1000 },
    acceptDownloads: true,
  });
  try {
    const page = await context.newPage();
    page.on("pageerror", (e) => assert.fail(`page error: ${e.message}`));
    await page.goto(URL);
    await page.locator(".classItem").first().waitFor();
    await page.locator("#quality").selectOption("4");

    await page.locator("#classFilter").fill("Mtl_Ward");
    let before = settled(page);
    await page.locator(`.classItem[data-class="${CLASS}"]`).click();
    before = await before;
    await assert.doesNotReject(page.locator("#classHeader h2", { hasText: CLASS }).waitFor());
    // The notes built into the page, and the lobe with its albedo.
    assert.ok(await page.locator("#classHeader .about .q").count() > 0, "the paragraph's quoted names are elements");
    assert.match(await page.locator('.param[data-name="u_roughValue"] .pMeaning').textContent(), /roughness/);
    await page.locator("#lobeLegend").waitFor();
    assert.match(await page.locator("#lobeAlbedo").textContent(), /^\d\.\d{3} \d\.\d{3} \d\.\d{3}$/);

    // A float slider, moved with the mouse to 80% of its travel.
    const slider = page.locator('.param[data-name="u_roughValue"] input[type=range]');
    await slider.scrollIntoViewIfNeeded();
    const box = await slider.boundingBox();
    let after = settled(page);
    await page.mouse.click(box.x + box.width * 0.8, box.y + box.height / 2);
    after = await after;
    const rough = await page.locator('.param[data-name="u_roughValue"] input[type=number]').inputValue();
    assert.ok(Number(rough) > 0.5, `the slider set u_roughValue ${rough}`);
    assert.notEqual(after, before, "the preview changes with the slider");

    // A colour.
    before = after;
    after = settled(page);
    await page.locator('.param[data-name="u_diffuseColor"] input[type=color]').fill("#ff2020");
    after = await after;
    assert.notEqual(after, before, "the preview changes with the colour");

    // The saved scene renders the image shown.
    const download = page.waitForEvent("download");
    await page.locator("#saveScene").click();
    const dir = mkdtempSync(join(tmpdir(), "vesper-scene-"));
    try {
      const scene = join(dir, "scene.json"), png = join(dir, "scene.png");
      await (await download).saveAs(scene);
      execFileSync(RENDER, ["--scene", scene, "--out", png], { stdio: "ignore" });
      assert.equal(readFileSync(png).toString("base64"), after, "vesper-render renders the image shown");
    } finally {
      rmSync(dir, { recursive: true, force: true });
    }

    // The link restores class, parameters and view.
    const link = await page.locator("#link").inputValue();
    const again = await context.newPage();
    const restored = settled(again);
    await again.goto(link);
    assert.equal(await restored, after, "the link renders the same image");
    assert.equal(await again.locator(".classItem.active").textContent(), CLASS);
    assert.equal(await again.locator('.param[data-name="u_roughValue"] input[type=number]').inputValue(), rough);
    assert.equal(await again.locator('.param[data-name="u_diffuseColor"] input[type=color]').inputValue(), "#ff2020");
    assert.equal(await again.locator("#quality").inputValue(), "4");

    if (SHOT) {
      const finer = settled(again);
      await again.locator("#quality").selectOption("16");
      await finer;
      const paths = settled(again);
      await again.locator('.tabs [data-view="paths"]').click();
      await paths;
      await again.waitForFunction(() => document.getElementById("metrics").textContent !== "");
      await again.screenshot({ path: SHOT });
    }
  } finally {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  }
});
