// The controls above the parameters and the viewer: preview shape, environment,
// render mode and samples; the views and pinning A; saving the scenes of the
// images shown and copying the link.
import { $, el } from "./dom.js";
import { post } from "./api.js";
import { updateLink } from "./link.js";
import { showError } from "./preview.js";
import { changed, pinA, shown, state } from "./state.js";

// The header's controls show the state (a restored link's, say).
export function syncControls() {
  $("shape").value = state.shape;
  $("environment").value = state.env;
  $("envFile").hidden = state.env !== "file";
  $("envFile").value = state.envFile;
  $("mode").value = state.mode;
  $("quality").value = String(state.quality);
}

// "cube map file…" only asks for the path: the preview keeps its environment
// until a path is entered.
function initEnvironment() {
  const file = $("envFile");
  $("environment").addEventListener("change", () => {
    const choice = $("environment").value;
    file.hidden = choice !== "file";
    if (choice === "file" && !file.value) return file.focus();
    state.env = choice;
    if (choice === "file") state.envFile = file.value;
    changed();
  });
  file.addEventListener("change", () => {
    if (!file.value.trim()) return;
    state.env = "file";
    state.envFile = file.value.trim();
    changed();
  });
}

function initPreviewControls() {
  for (const id of ["shape", "mode", "quality"]) {
    $(id).addEventListener("change", () => {
      state[id] = id === "quality" ? Number($(id).value) : $(id).value;
      changed();
    });
  }
  initEnvironment();
}

function initViews() {
  for (const b of document.querySelectorAll(".tabs [data-view]")) {
    b.addEventListener("click", () => {
      state.view = b.dataset.view;
      if (state.view === "ab" && !state.pinned) pinA();
      changed();
    });
  }
  $("pinA").addEventListener("click", () => {
    pinA();
    state.view = "ab";
    changed();
  });
}

// The save buttons name the image whose scene each saves: one in a single
// view, both sides of a comparison.
export function labelSaveButtons() {
  const tab = document.querySelector(`.tabs [data-view="${CSS.escape(state.view)}"]`);
  const paired = state.view !== "single" && tab?.dataset.tags;
  const [a, b] = paired ? tab.dataset.tags.split("|") : ["", ""];
  $("saveScene").textContent = paired ? `Save ${a.split(" · ")[0]}` : "Save scene";
  $("saveScene").title = paired ? `Download the vesper-render scene of the left image (${a})` : "Download the vesper-render scene of the image shown";
  $("saveSceneB").hidden = !paired;
  $("saveSceneB").textContent = `Save ${b.split(" · ")[0]}`;
  $("saveSceneB").title = `Download the vesper-render scene of the right image (${b})`;
}

// Downloads the scene of the image in `channel`.
async function saveScene(channel) {
  const image = shown[channel];
  if (!image) return;
  try {
    const r = await post("/api/scene", image.body);
    const blob = new Blob([await r.text()], { type: "application/json" });
    const side = state.view === "single" ? "" : `-${channel}`;
    const a = el("a", { href: URL.createObjectURL(blob), download: `${image.body.class}${side}.json` });
    document.body.append(a);
    a.click();
    a.remove();
  } catch (e) {
    showError(e);
  }
}

async function copyLink() {
  updateLink();
  $("link").select();
  let ok = true;
  try {
    await navigator.clipboard.writeText($("link").value);
  } catch {
    ok = document.execCommand?.("copy") ?? false;
  }
  const b = $("copyLink");
  b.textContent = ok ? "Copied" : "Select and copy";
  b.classList.toggle("done", ok);
  clearTimeout(copyLink.timer);
  copyLink.timer = setTimeout(() => {
    b.textContent = "Copy link";
    b.classList.remove("done");
  }, 1600);
}

export function initControls() {
  initPreviewControls();
  initViews();
  $("saveScene").addEventListener("click", () => saveScene("A"));
  $("saveSceneB").addEventListener("click", () => saveScene("B"));
  $("copyLink").addEventListener("click", copyLink);
}
